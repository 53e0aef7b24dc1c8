#include "output/ContainerOutput.h"

#include "core/FileNames.h"
#include "cut/CutEditor.h"
#include "output/StreamAssembler.h"
#include "source/AudioFrame.h"
#include "source/PvaPacket.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstring>

namespace {

// The bytes of a packet for the muxer, with the zero bytes it wants behind them.
std::shared_ptr<const std::vector<uint8_t>> padded(const uint8_t* data, size_t size)
{
    auto out = std::make_shared<std::vector<uint8_t>>();
    out->reserve(size + media::ContainerWriter::padding);
    out->insert(out->end(), data, data + size);
    out->resize(size + media::ContainerWriter::padding);
    return out;
}

// Room the video bytes keep for the packets of one flush of the writer.
constexpr size_t esRoom = 6u << 20;

bool isAudioPesStart(const uint8_t* d) { return d[0] == 0 && d[1] == 0 && d[2] == 1 && d[3] >= 0xC0 && d[3] <= 0xDF; }

} // namespace

SaveFormat saveFormatForName(const std::string& name)
{
    const std::string ext = lowerExtension(name);
    if (ext == ".mpg" || ext == ".vob") return SaveFormat::ps;
    if (ext == ".ts" || ext == ".m2ts") return SaveFormat::ts;
    if (ext == ".mkv") return SaveFormat::mkv;
    return SaveFormat::pva;
}

namespace {

struct SaveFormatNames {
    SaveFormat format;
    const char* name;    // as --format takes it
    const char* title;   // as messages say it
};
constexpr SaveFormatNames saveFormatNames[] = {{SaveFormat::pva, "pva", "PVA"},
                                               {SaveFormat::ps, "ps", "program stream"},
                                               {SaveFormat::ts, "ts", "transport stream"},
                                               {SaveFormat::mkv, "mkv", "Matroska file"}};

const SaveFormatNames& namesOf(SaveFormat format)
{
    for (const SaveFormatNames& n : saveFormatNames)
        if (n.format == format) return n;
    return saveFormatNames[0];   // byName: a PVA unless the name says otherwise
}

} // namespace

bool parseSaveFormat(const char* text, SaveFormat& format)
{
    for (const SaveFormatNames& n : saveFormatNames) {
        if (std::strcmp(text, n.name) == 0) {
            format = n.format;
            return true;
        }
    }
    return false;
}

const char* saveFormatName(SaveFormat format) { return namesOf(format).name; }

const char* saveFormatTitle(SaveFormat format) { return namesOf(format).title; }

std::vector<uint32_t> joinEntries(const CutEditor& editor, int selectionOnly)
{
    std::vector<uint32_t> out;
    const CutList& cuts = editor.currentList();
    const EntryRange entries = entriesToAssemble(cuts, selectionOnly);
    const NewPvaPacketList& list = editor.packetList;
    uint32_t i = 0;
    for (int32_t e = entries.first + 1; e <= entries.last; ++e) {
        const int32_t s = cuts.source[e];
        if (s == cuts.source[e - 1] && cuts.endPacket[e - 1] == cuts.firstPacket[e]) continue;
        const SourceStream* src = editor.app.usableSource(s);
        if (!src) continue;
        // The first video packet of the range, after the join before it.
        for (; i < list.numOfAVpkt; ++i) {
            const uint32_t j = list.packet[i];
            if (list.source[i] != s || j < static_cast<uint32_t>(cuts.firstPacket[e])
                || j >= static_cast<uint32_t>(cuts.endPacket[e]) || j >= static_cast<uint32_t>(src->pktCount))
                continue;
            if (src->pktHeader[j].streamId == pvaStreamVideo) break;
        }
        if (i >= list.numOfAVpkt) break;
        out.push_back(i++);
    }
    return out;
}

ContainerOutput::ContainerOutput(media::Container container, bool withAudio)
    : container_(container), withAudio_(withAudio)
{
}

void ContainerOutput::start(Sink sink, Seek seek)
{
    sink_ = std::move(sink);
    seek_ = std::move(seek);
}

int64_t ContainerOutput::unwrap(uint32_t pts)
{
    if (!clockKnown_) {
        clockKnown_ = true;
        clock32_ = pts;
        clock64_ = pts;
    }
    clock64_ += static_cast<int32_t>(pts - clock32_);
    clock32_ = pts;
    return clock64_;
}

bool ContainerOutput::take(const uint8_t* data, size_t size)
{
    size_t pos = 0;
    while (pos + pvaHeaderSize <= size) {
        const PvaPacketHeader h = readPacketHeader(data + pos);
        const uint8_t* payload = data + pos + pvaHeaderSize;
        const uint32_t length = std::min<uint32_t>(h.length, static_cast<uint32_t>(size - pos - pvaHeaderSize));
        if (h.streamId == pvaStreamVideo)
            takeVideo(payload, length, h.flags, pvaOffset_ + pos);
        else if (h.streamId == pvaStreamAudio && withAudio_)
            takeAudio(payload, length);
        pos += pvaHeaderSize + length;
    }
    pvaOffset_ += size;
    return cutPictures(false) && cutAudioFrames();
}

void ContainerOutput::takeVideo(const uint8_t* payload, uint32_t length, uint8_t flags, uint64_t pvaOffset)
{
    while (nextJoinMark_ < joinMarks_.size() && joinMarks_[nextJoinMark_] <= pvaOffset) {
        joinStreamAt_.push_back(esBase_ + es_.size());
        ++nextJoinMark_;
    }
    // The time stamp and the flags' byte count of stuffing come before the stream bytes.
    const bool hasPts = (flags & pvaFlagPts) != 0;
    const uint32_t skip = (flags & 3u) + (hasPts ? 4u : 0u);
    if (length < skip) return;
    const uint64_t from = esBase_ + es_.size();
    es_.insert(es_.end(), payload + skip, payload + length);
    if (hasPts) ptsMarks_.push_back({from, esBase_ + es_.size(), readVideoPts(payload)});
}

void ContainerOutput::takeAudio(const uint8_t* payload, uint32_t length)
{
    pes_.insert(pes_.end(), payload, payload + length);
    size_t pos = 0;
    const uint8_t* d = pes_.data();
    const size_t n = pes_.size();
    while (n - pos >= 9) {
        if (!isAudioPesStart(d + pos)) {
            ++pos;
            continue;
        }
        const size_t total = 6u + ((static_cast<size_t>(d[pos + 4]) << 8) | d[pos + 5]);
        if (total == 6) {
            pos += 4;
            continue;
        }
        if (n - pos < total) break;
        const uint8_t* p = d + pos;
        size_t at = 6;
        if ((p[6] & 0xC0) == 0x80) {
            at = 9u + p[8];
            if ((p[7] & 0x80) && total >= 14) audioMarks_.push_back({aesBase_ + aes_.size(), decodePesPts(p + 9)});
        }
        if (at < total) aes_.insert(aes_.end(), p + at, p + total);
        pos += total;
    }
    pes_.erase(pes_.begin(), pes_.begin() + static_cast<std::ptrdiff_t>(pos));
}

bool ContainerOutput::cutPictures(bool all)
{
    if (es_.empty()) return true;
    pictures_.readElementary(std::move(es_));
    const std::vector<VideoPicture>& pics = pictures_.pictures();
    // The last picture may go on in the next packets.
    const size_t complete = all ? pics.size() : (pics.empty() ? 0 : pics.size() - 1);
    std::vector<uint8_t> stream = pictures_.releaseStream();
    size_t keep = stream.size();
    if (complete < pics.size()) keep = pics[complete].begin;
    else if (!all && pics.empty()) keep = 0;
    // What goes on stays for the next packets, in room for a flush of them.
    es_.clear();
    es_.reserve(stream.size() - keep + esRoom);
    es_.insert(es_.end(), stream.begin() + static_cast<std::ptrdiff_t>(keep), stream.end());
    // The complete pictures go to the muxer from this one buffer, without a copy each.
    stream.resize(keep);
    stream.resize(keep + media::ContainerWriter::padding);
    const auto whole = std::make_shared<const std::vector<uint8_t>>(std::move(stream));
    for (size_t k = 0; k < complete; ++k)
        if (!picture(pics[k], whole)) return false;
    esBase_ += keep;
    while (!ptsMarks_.empty() && ptsMarks_.front().to <= esBase_) ptsMarks_.pop_front();
    return true;
}

bool ContainerOutput::picture(const VideoPicture& p, const Bytes& whole)
{
    const uint8_t* data = whole->data();
    const uint64_t begin = esBase_ + p.begin;
    const uint64_t code = esBase_ + p.picture + 3;
    if (!haveVideo_) {
        // A decoder shows nothing before the first sequence header.
        if (p.sequence < 0) return true;
        const VideoSequence& seq = pictures_.sequences()[static_cast<size_t>(p.sequence)];
        video_.width = seq.width;
        video_.height = seq.height;
        const Fraction rate = frameRateOfCode(seq.frameRate);
        video_.frameRateNum = rate.num;
        video_.frameRateDen = rate.den;
        ticksPerPicture_ = 90000 * static_cast<int64_t>(video_.frameRateDen) / video_.frameRateNum;
        video_.bitRate = seq.bitRate * 400u;
        video_.bufferBits = seq.vbvBufferSize * 16384u;
        const Fraction sar = sampleAspectOf(seq.aspectRatio, seq.width, seq.height);
        video_.sarNum = sar.num;
        video_.sarDen = sar.den;
        size_t headersEnd = p.picture;
        if (p.gop >= 0 && pictures_.gops()[static_cast<size_t>(p.gop)].at > seq.at)
            headersEnd = std::min(headersEnd, pictures_.gops()[static_cast<size_t>(p.gop)].at);
        if (seq.at < headersEnd) video_.headers.assign(data + seq.at, data + headersEnd);
        haveVideo_ = true;
    }

    // The time stamp of a packet belongs to the first picture whose start code ends in it.
    int64_t pts = INT64_MIN;
    for (const PtsMark& m : ptsMarks_) {
        if (m.from > code) break;
        if (code < m.to) {
            if (m.from != lastPtsFrom_) {
                pts = unwrap(m.pts);
                lastPtsFrom_ = m.from;
            }
            break;
        }
    }
    if (p.gopHeader) refPts_ = INT64_MIN;
    if (pts != INT64_MIN) {
        refPts_ = pts;
        refTemporal_ = p.temporalReference;
    } else if (refPts_ != INT64_MIN) {
        pts = refPts_ + (static_cast<int64_t>(p.temporalReference) - refTemporal_) * ticksPerPicture_;
    } else {
        pts = lastPts_ == INT64_MIN ? 0 : lastPts_ + ticksPerPicture_;
    }
    lastPts_ = pts;

    const size_t range = static_cast<size_t>(std::upper_bound(joinStreamAt_.begin(), joinStreamAt_.end(), begin)
                                             - joinStreamAt_.begin());
    if (rangeStart_.size() <= range) rangeStart_.resize(range + 1, INT64_MAX);
    rangeStart_[range] = std::min(rangeStart_[range], pts);
    lastEnd_ = std::max(lastEnd_, pts + ticksPerPicture_);

    HeldPicture held;
    held.type = p.codingType;
    held.unit.video = true;
    held.unit.bytes = whole;
    held.unit.offset = p.begin;
    held.unit.size = p.end - p.begin;
    held.unit.pts = pts;
    held.unit.key = p.codingType == pictureTypeI;
    if (p.codingType != pictureTypeB && !releaseHeld()) return false;
    held_.push_back(std::move(held));
    return true;
}

// Decode time stamps in coding order: a B picture is decoded when it is shown, an
// anchor one picture period before the first picture shown after the B pictures
// coded after it.
bool ContainerOutput::releaseHeld()
{
    const int64_t b = static_cast<int64_t>(held_.size()) - 1;
    for (size_t k = 0; k < held_.size(); ++k) {
        Unit& u = held_[k].unit;
        int64_t dts = u.pts;
        if (k == 0 && held_[k].type != pictureTypeB) dts = u.pts - (b + 1) * ticksPerPicture_;
        if (lastDts_ != INT64_MIN && dts <= lastDts_) dts = lastDts_ + 1;
        u.dts = dts;
        lastDts_ = dts;
        if (!emit(std::move(u))) return false;
    }
    held_.clear();
    return true;
}

bool ContainerOutput::cutAudioFrames()
{
    size_t pos = 0;
    const size_t n = aes_.size();
    while (n - pos >= 4) {
        MpegAudioFrame f;
        const uint8_t* h = aes_.data() + pos;
        if (!parseMpegAudioFrame(h, n - pos, f) || f.bytes == 0 || f.sampleRate == 0) {
            ++pos;
            continue;
        }
        if (f.bytes > n - pos) break;
        const uint64_t at = aesBase_ + pos;
        bool marked = false;
        uint32_t mark = 0;
        while (!audioMarks_.empty() && audioMarks_.front().first <= at) {
            mark = audioMarks_.front().second;
            marked = true;
            audioMarks_.pop_front();
        }
        if (marked) {
            nextAudioPts_ = unwrap(mark);
            audioRemainder_ = 0;
        }
        if (nextAudioPts_ != INT64_MIN) {
            if (!haveAudio_) {
                audio_.layer = static_cast<uint8_t>(4 - ((h[1] >> 1) & 3));
                audio_.channels = (h[3] >> 6) == 3 ? 1 : 2;
                audio_.sampleRate = f.sampleRate;
                audio_.frameSamples = f.samples;
                audio_.bitRate = static_cast<uint32_t>(static_cast<uint64_t>(f.bytes - f.padding) * 8u * f.sampleRate / f.samples);
                haveAudio_ = true;
            }
            Unit u;
            u.bytes = padded(h, f.bytes);
            u.size = f.bytes;
            u.pts = u.dts = nextAudioPts_;
            u.key = true;
            const uint64_t ticks = static_cast<uint64_t>(f.samples) * 90000u + audioRemainder_;
            nextAudioPts_ += static_cast<int64_t>(ticks / f.sampleRate);
            audioRemainder_ = ticks % f.sampleRate;
            if (!emit(std::move(u))) return false;
        }
        pos += f.bytes;
    }
    aes_.erase(aes_.begin(), aes_.begin() + static_cast<std::ptrdiff_t>(pos));
    aesBase_ += pos;
    return true;
}

bool ContainerOutput::emit(Unit&& u)
{
    if (!writer_.isOpen()) {
        waiting_.push_back(std::move(u));
        if (!haveVideo_ || (withAudio_ && !haveAudio_)) return true;
        return openMuxer();
    }
    if (u.video) return writer_.writeVideo(std::move(u.bytes), u.offset, u.size, u.pts, u.dts, u.key, error_);
    return writer_.writeAudio(std::move(u.bytes), u.offset, u.size, u.pts, error_);
}

bool ContainerOutput::openMuxer()
{
    int64_t first = INT64_MAX;
    for (const Unit& u : waiting_) first = std::min(first, u.dts);
    if (!writer_.open(container_, video_, haveAudio_ ? &audio_ : nullptr, first == INT64_MAX ? 0 : first, sink_,
                      seek_, error_))
        return false;
    std::vector<Unit> units = std::move(waiting_);
    waiting_.clear();
    for (Unit& u : units)
        if (!emit(std::move(u))) return false;
    return true;
}

bool ContainerOutput::finish()
{
    if (!cutPictures(true) || !cutAudioFrames() || !releaseHeld()) return false;
    if (!writer_.isOpen()) {
        if (!haveVideo_) {
            error_ = "no picture with a sequence header to write";
            return false;
        }
        if (!openMuxer()) return false;
    }
    int number = 0;
    for (size_t r = 0; r < rangeStart_.size(); ++r) {
        if (rangeStart_[r] == INT64_MAX) continue;
        int64_t end = lastEnd_;
        for (size_t k = r + 1; k < rangeStart_.size(); ++k)
            if (rangeStart_[k] != INT64_MAX) {
                end = rangeStart_[k];
                break;
            }
        ++number;
        writer_.addChapter(rangeStart_[r], std::max(end, rangeStart_[r]),
                           number == 1 ? std::string("Start") : "Join " + std::to_string(number - 1));
    }
    return writer_.finish(error_);
}

void ContainerOutput::abandon() { writer_.abandon(); }
