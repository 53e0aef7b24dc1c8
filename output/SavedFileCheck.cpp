#include "output/SavedFileCheck.h"

#include "core/LogConsole.h"
#include "core/Settings.h"
#include "cut/CutEditor.h"
#include "media/ContainerReader.h"
#include "media/StreamDecoder.h"
#include "output/OutputWriter.h"
#include "platform/Operation.h"
#include "source/AudioFrame.h"
#include "source/FileAccess.h"
#include "source/PacketWalker.h"
#include "source/PvaPacket.h"
#include "source/SourceAnalyser.h"
#include "source/VideoPictures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {

constexpr size_t windowBytes = size_t{8} << 20;
constexpr uint64_t none = UINT64_MAX;
constexpr size_t mostLines = 100;

// ---------------------------------------------------------------------------
// Reading: file regions one after the other through the file layer, as one stream.

struct Region {
    std::string file;
    uint64_t from = 0;
    uint64_t to = none;   // none: to the end of the file
};

class RegionReader {
public:
    explicit RegionReader(std::vector<Region> regions) : regions_(std::move(regions)) {}

    // The one file is a container: its pictures and sound are read as AV packets.
    void readContainer(std::unique_ptr<media::ContainerReader> container) { container_ = std::move(container); }

    // Up to n bytes; 0 at the end of the last region. failed() tells a read error.
    size_t read(uint8_t* out, size_t n)
    {
        if (container_) {
            const size_t got = container_->read(out, n);
            if (container_->failed() && failedName_.empty() && !regions_.empty()) failedName_ = regions_.front().file;
            return got;
        }
        size_t got = 0;
        while (got < n && index_ < regions_.size()) {
            const Region& r = regions_[index_];
            if (!file_) {
                file_.reset(openFile(r.file.c_str(), "rb"));
                if (!file_ || (r.from > 0 && seekFile(file_.get(), r.from, 0) != 0)) {
                    failedName_ = r.file;
                    return got;
                }
                position_ = r.from;
            }
            uint64_t want = n - got;
            if (r.to != none) want = std::min<uint64_t>(want, r.to > position_ ? r.to - position_ : 0);
            want = std::min<uint64_t>(want, 1u << 30);
            const uint32_t k = want ? readFile(out + got, 1, static_cast<uint32_t>(want), file_.get()) : 0;
            got += k;
            position_ += k;
            if (k == 0) {
                file_.reset();
                ++index_;
            }
        }
        return got;
    }
    bool failed() const { return !failedName_.empty(); }
    const std::string& failedName() const { return failedName_; }

private:
    std::vector<Region> regions_;
    std::unique_ptr<media::ContainerReader> container_;
    size_t index_ = 0;
    OwnedFile file_;
    uint64_t position_ = 0;
    std::string failedName_;
};

struct FedPacket {
    uint64_t offset;   // in the stream of the regions
    PvaPacketHeader header;
    const uint8_t* payload;
};

struct FedPicture {
    const VideoPicture* picture;
    const uint8_t* bytes;
    size_t size;
    uint64_t begin;        // stream offset of its first header (PVA: of the packet it begins in)
    uint64_t packet;       // stream offset of the packet with its picture start code (PVA)
    bool hasPts;
    uint32_t pts;
    uint8_t frameRate;     // frame_rate_code in force, 0 unknown
};

// Walks the packets and cuts the pictures of a stream read in windows: each packet
// and each complete picture is handed on once, in stream order.
class Feed {
public:
    std::function<void(const FedPacket&)> onPacket;
    std::function<void(uint64_t at, uint64_t bytes)> onSkipped;
    std::function<void(uint64_t at, uint64_t have, const PvaPacketHeader*)> onCutShort;
    std::function<bool(const FedPicture&)> onPicture;   // false: stop here
    // Bytes done so far of the whole work, for the progress.
    std::function<void(uint64_t)> onProgress;

    // 1 read to the end (or stopped by onPicture), -1 cancelled, -2 read error.
    // The stream's offsets count from `origin` (a region's offset in its file).
    int run(RegionReader& reader, bool elementary, const platform::OperationContext& op, uint64_t origin = 0)
    {
        std::vector<uint8_t> buf(windowBytes);
        uint64_t bufStart = origin;
        size_t have = 0;
        bool eof = false;
        uint64_t walkPos = origin, picFrom = origin, skipFrom = none, lastPtsPacket = none;
        uint8_t frameRate = 0;
        VideoPictures pics;
        for (;;) {
            while (!eof && have < buf.size()) {
                const size_t n = reader.read(buf.data() + have, buf.size() - have);
                if (n == 0) eof = true;
                have += n;
            }
            if (reader.failed()) return -2;
            const uint64_t end = bufStart + have;
            uint64_t lastVideo = none;
            if (!elementary) {
                PacketWalker w(buf.data(), have, bufStart);
                uint64_t x = walkPos;
                while (x < end) {
                    if (x + pvaHeaderSize > end) {
                        if (eof) {
                            if (skipFrom == none && onCutShort) onCutShort(x, end - x, nullptr);
                            x = end;
                        }
                        break;
                    }
                    const uint8_t* h = w.at(x);
                    if (!hasAvSync(h)) {
                        if (skipFrom == none) skipFrom = x;
                        const uint64_t y = w.nextCandidate(x + 1);
                        if (y + 3 > end && !eof) {
                            x = std::max(x + 1, end - 2);
                            break;
                        }
                        x = y;
                        continue;
                    }
                    if (skipFrom != none) {
                        if (onSkipped) onSkipped(skipFrom, x - skipFrom);
                        skipFrom = none;
                    }
                    const PvaPacketHeader header = readPacketHeader(h);
                    if (x + pvaHeaderSize + header.length > end) {
                        if (!eof) break;
                        if (onCutShort) onCutShort(x, end - x - pvaHeaderSize, &header);
                        x = end;
                        break;
                    }
                    if (onPacket) onPacket(FedPacket{x, header, h + pvaHeaderSize});
                    if (header.streamId == pvaStreamVideo) lastVideo = x;
                    x += pvaHeaderSize + header.length;
                }
                if (eof && skipFrom != none && x >= end) {
                    if (onSkipped) onSkipped(skipFrom, end - skipFrom);
                    skipFrom = none;
                }
                walkPos = x;
                const uint64_t picEnd = eof ? end : std::min(walkPos, end);
                if (picFrom + (uint64_t{64} << 20) < picEnd) picFrom = picEnd;   // a picture without end
                PacketWalker pw(buf.data() + (picFrom - bufStart), static_cast<size_t>(picEnd - picFrom), picFrom);
                pics.read(pw, picFrom);
            } else {
                if (picFrom + (uint64_t{64} << 20) < end) picFrom = end - 3;   // a picture without end
                pics.readElementary(buf.data() + (picFrom - bufStart), static_cast<size_t>(end - picFrom));
                walkPos = end;
            }

            const std::vector<VideoPicture>& all = pics.pictures();
            const size_t complete = eof ? all.size() : (all.empty() ? 0 : all.size() - 1);
            const uint64_t base = elementary ? picFrom : 0;
            for (size_t i = 0; i < complete; ++i) {
                const VideoPicture& p = all[i];
                FedPicture f{&p, pics.stream().data() + p.begin, p.end - p.begin, 0, 0, false, 0, 0};
                if (elementary) {
                    f.begin = f.packet = base + p.begin;
                } else {
                    f.begin = p.beginPacket;
                    f.packet = p.packet;
                    const size_t k = pics.packetAt(p.packet);
                    if (k < pics.packets().size() && pics.packets()[k].hasPts && p.packet != lastPtsPacket) {
                        f.hasPts = true;
                        f.pts = pics.packets()[k].pts;
                        lastPtsPacket = p.packet;
                    }
                }
                if (p.sequence >= 0) frameRate = pics.sequences()[static_cast<size_t>(p.sequence)].frameRate;
                f.frameRate = frameRate;
                if (onPicture && !onPicture(f)) return 1;
                op.pump.serve(8);
                if (op.cancelRequested()) return -1;
            }
            if (onProgress) onProgress(walkPos);
            op.pump.serve(8);
            if (op.cancelRequested()) return -1;
            if (eof) return 1;

            // The next window begins with the picture that is not complete yet.
            uint64_t next;
            if (complete < all.size())
                next = elementary ? base + all[complete].begin : all[complete].beginPacket;
            else if (elementary)
                next = end > 3 ? end - 3 : bufStart;
            else
                next = lastVideo != none ? lastVideo : walkPos;
            if (!elementary) next = std::min(next, walkPos);
            picFrom = std::max(next, bufStart);
            const uint64_t keep = elementary ? picFrom : std::min(picFrom, walkPos);
            const size_t drop = static_cast<size_t>(keep - bufStart);
            if (drop > 0) std::memmove(buf.data(), buf.data() + drop, have - drop);
            have -= drop;
            bufStart = keep;
            if (have == buf.size()) buf.resize(buf.size() * 2);   // a picture larger than the window
        }
    }
};

// ---------------------------------------------------------------------------
// MPEG audio frames.

struct AudioFrame {
    uint32_t bytes = 0;    // without padding
    double ticks = 0;      // duration in 90 kHz ticks
};

bool parseAudioFrame(const uint8_t* h, size_t n, AudioFrame& out)
{
    MpegAudioFrame f;
    if (!parseMpegAudioFrame(h, n, f)) return false;
    out.bytes = f.bytes - f.padding;
    out.ticks = f.samples * 90000.0 / f.sampleRate;
    return out.bytes > 0;
}

// ---------------------------------------------------------------------------

std::string timeText(int64_t ticks)
{
    if (ticks < 0) ticks = 0;
    const uint64_t cs = static_cast<uint64_t>(ticks) / 900;
    char b[40];
    std::snprintf(b, sizeof b, "%02llu:%02llu:%02llu.%02llu", static_cast<unsigned long long>(cs / 360000),
                  static_cast<unsigned long long>(cs / 6000 % 60), static_cast<unsigned long long>(cs / 100 % 60),
                  static_cast<unsigned long long>(cs % 100));
    return b;
}

std::string msText(int64_t ticks)
{
    char b[40];
    std::snprintf(b, sizeof b, "%lld ms", static_cast<long long>(ticks / 90));
    return b;
}

int64_t framePeriod(uint8_t code)
{
    switch (code) {
    case 1: return 3754;
    case 2: return 3750;
    case 4: return 3003;
    case 5: return 3000;
    case 6: return 1800;
    case 7: return 1502;
    case 8: return 1500;
    default: return 3600;
    }
}

const char* typeName(uint8_t t) { return t == 1 ? "I" : t == 2 ? "P" : t == 3 ? "B" : "?"; }

struct Problem {
    uint64_t offset;     // where in the stream; none: at a picture
    uint64_t picture;    // the output picture it concerns; none: from the offset
    int64_t time;        // ticks from the first picture; -1: the picture's time
    std::string text;
};

// One output picture.
struct Picture {
    uint64_t begin = 0;
    int64_t pts = INT64_MIN;   // unwrapped, INT64_MIN: none
    int64_t time = -1;         // when it is shown, in ticks from the first picture
    uint64_t digest = 0;
    uint8_t type = 0;
    bool decoded = false;
    bool damaged = false;
    bool refused = false;
    bool noReference = false;  // a B picture before the stream has two anchors
};

struct OutputAudio {
    uint64_t offset;
    int64_t pts;        // unwrapped
};

// The file by itself: one pass that reads, walks and decodes.
class FileCheck {
public:
    FileCheck(const std::vector<std::string>& files, LogConsole& log, const platform::OperationContext& op)
        : files_(files), log_(log), op_(op)
    {
    }

    std::vector<Picture> pictures;
    std::vector<OutputAudio> audio;
    std::vector<Problem> problems;
    std::vector<uint64_t> partStarts;   // stream offset of each file
    bool elementary = false;
    int64_t period = 3600;
    int64_t firstPts = 0;               // of the first picture shown
    uint64_t audioFrames = 0;

    // 1 read, -1 cancelled, -2 can't read.
    int run(uint64_t totalWork, uint64_t workBefore)
    {
        std::vector<Region> regions;
        uint64_t at = 0;
        for (const std::string& f : files_) {
            std::error_code ec;
            const uint64_t size = fs::file_size(f, ec);
            if (ec) {
                log_.writef("ERROR: check: can't read %s\n", f.c_str());
                return -2;
            }
            partStarts.push_back(at);
            at += size;
            regions.push_back(Region{f, 0, none});
        }
        totalBytes_ = at;
        if (!files_.empty()) elementary = startsElementary(files_.front());

        RegionReader reader(regions);
        if (files_.size() == 1 && isContainer(files_.front())) {
            auto container = std::make_unique<media::ContainerReader>();
            std::string why;
            if (!container->open(files_.front(), why)) {
                log_.writef("ERROR: check: can't read %s: %s\n", files_.front().c_str(), why.c_str());
                return -2;
            }
            reader.readContainer(std::move(container));
        }
        Feed feed;
        feed.onPacket = [this](const FedPacket& p) { packet(p); };
        feed.onSkipped = [this](uint64_t x, uint64_t n) {
            char b[200];
            if (lastPacket_ == none)
                std::snprintf(b, sizeof b, "%llu bytes at %s that are no packet", static_cast<unsigned long long>(n),
                              where(x).c_str());
            else
                std::snprintf(b, sizeof b,
                              "the packet at %s is not followed by a packet (a damaged length?): %llu bytes skipped",
                              where(lastPacket_).c_str(), static_cast<unsigned long long>(n));
            add(lastPacket_ == none ? x : lastPacket_, b);
        };
        feed.onCutShort = [this](uint64_t x, uint64_t have, const PvaPacketHeader* h) {
            char b[200];
            if (h)
                std::snprintf(b, sizeof b, "the file ends inside the packet at %s: %llu of its %u payload bytes",
                              where(x).c_str(), static_cast<unsigned long long>(have), static_cast<unsigned>(h->length));
            else
                std::snprintf(b, sizeof b, "the file ends inside a packet header at %s", where(x).c_str());
            add(x, b);
            cutShort_ = true;
        };
        feed.onPicture = [this](const FedPicture& f) {
            picture(f);
            return true;
        };
        feed.onProgress = [&](uint64_t done) { progress(workBefore + done, totalWork); };
        if (!decoder_.available()) {
            log_.write("ERROR: check: the MPEG-2 decoder is not available\n", 1);
            return -2;
        }
        const int rc = feed.run(reader, elementary, op_);
        if (rc == -2) {
            log_.writef("ERROR: check: can't read %s\n", reader.failedName().c_str());
            return -2;
        }
        if (rc == -1) return -1;
        finishAudio(none);
        finishDecoding();
        finishVideoTimes();
        return 1;
    }

    void progress(uint64_t done, uint64_t total)
    {
        if (total == 0) return;
        const int p = static_cast<int>(std::min<uint64_t>(done, total) * 100 / total);
        if (p != lastProgress_) {
            op_.progress.progress(p);
            lastProgress_ = p;
        }
    }

    uint64_t totalBytes() const { return totalBytes_; }

    // "offset N" or "NAME offset N" in a split save.
    std::string where(uint64_t x) const
    {
        size_t part = 0;
        while (part + 1 < partStarts.size() && partStarts[part + 1] <= x) ++part;
        char b[64];
        std::snprintf(b, sizeof b, "offset %llu",
                      static_cast<unsigned long long>(x - (partStarts.empty() ? 0 : partStarts[part])));
        if (files_.size() > 1) return fs::path(files_[part]).filename().string() + " " + b;
        return b;
    }

    void add(uint64_t offset, std::string text, uint64_t picture = none, int64_t time = -1)
    {
        problems.push_back(Problem{offset, picture, time, std::move(text)});
    }

private:
    static bool isContainer(const std::string& name)
    {
        OwnedFile f(openFile(name.c_str(), "rb"));
        uint8_t b[189] = {};
        const uint32_t n = f ? readFile(b, 1, sizeof b, f.get()) : 0;
        return media::looksLikeContainer(b, n);
    }

    static bool startsElementary(const std::string& name)
    {
        OwnedFile f(openFile(name.c_str(), "rb"));
        uint8_t b[4] = {0, 0, 0, 0};
        if (!f || readFile(b, 1, 4, f.get()) != 4) return false;
        return b[0] == 0 && b[1] == 0 && b[2] == 1 && (b[3] == sequenceHeaderCode || b[3] == gopStartCode);
    }

    int64_t unwrap(uint32_t pts)
    {
        if (!clockKnown_) {
            clockKnown_ = true;
            clock32_ = pts;
            clock64_ = pts;
            return clock64_;
        }
        return clock64_ + static_cast<int32_t>(pts - clock32_);
    }
    void advanceClock(uint32_t pts, int64_t value)
    {
        clock32_ = pts;
        clock64_ = value;
    }

    void packet(const FedPacket& p)
    {
        const PvaPacketHeader& h = p.header;
        lastPacket_ = p.offset;
        if (h.streamId == pvaStreamVideo || h.streamId == pvaStreamAudio) {
            const int s = h.streamId - 1;
            if (counterKnown_[s] && h.counter != static_cast<uint8_t>(counter_[s] + 1)) {
                char b[200];
                std::snprintf(b, sizeof b, "the %s packet counter goes from %u to %u at %s",
                              s == 0 ? "video" : "audio", static_cast<unsigned>(counter_[s]),
                              static_cast<unsigned>(h.counter), where(p.offset).c_str());
                add(p.offset, b);
            }
            counterKnown_[s] = true;
            counter_[s] = h.counter;
        }
        const bool flagged = (h.flags & pvaFlagPts) != 0;
        if (h.streamId == pvaStreamVideo) {
            if (flagged && h.length < 4u + (h.flags & 3u)) {
                add(p.offset, "the video packet at " + where(p.offset) + " has the time-stamp flag but no room for one");
            }
            return;
        }
        if (h.streamId != pvaStreamAudio) return;
        const uint8_t* d = p.payload;
        // MPEG audio, or private stream 1 (AC-3), whose frames are not followed here.
        const bool pesStart = h.length >= 9 && d[0] == 0 && d[1] == 0 && d[2] == 1
                              && ((d[3] >= 0xC0 && d[3] <= 0xDF) || d[3] == 0xBD);
        if (flagged) {
            if (!pesStart || h.length < 14 || (d[7] & 0x80) == 0) {
                add(p.offset, "the audio packet at " + where(p.offset) +
                                  " has the time-stamp flag but no PES header with a time stamp");
                pesBytes_ += h.length;
                return;
            }
            finishAudio(p.offset);
            const uint32_t pts32 = decodePesPts(d + 9);
            const int64_t pts = unwrap(pts32);
            advanceClock(pts32, pts);
            pes_ = true;
            pesOffset_ = p.offset;
            pesPts_ = pts;
            pesLength_ = (static_cast<uint32_t>(d[4]) << 8) | d[5];
            pesHeader_ = 9u + d[8];
            pesBytes_ = h.length;
            frameKnown_ = d[3] != 0xBD && pesHeader_ + 4 <= h.length
                          && parseAudioFrame(d + pesHeader_, h.length - pesHeader_, frame_);
            // A PES packet that begins inside a frame: its frames are those of the ones before.
            if (!frameKnown_ && d[3] != 0xBD && haveLastFrame_) {
                frame_ = lastFrame_;
                frameKnown_ = true;
            }
            if (frameKnown_) {
                lastFrame_ = frame_;
                haveLastFrame_ = true;
            }
            audio.push_back(OutputAudio{p.offset, pts});
            return;
        }
        // A PES header where the packet says there is none: only when the PES
        // before it is complete, so that frame bytes are not taken for one.
        if (pesStart && pes_ && pesLength_ != 0 && pesBytes_ == 6u + pesLength_) {
            add(p.offset, "the audio packet at " + where(p.offset) + " begins a PES packet without the time-stamp flag");
        }
        pesBytes_ += h.length;
    }

    // The PES packet that began at pesOffset_ is over (the next begins at `next`).
    void finishAudio(uint64_t next)
    {
        if (!pes_) return;
        pes_ = false;
        if (pesLength_ != 0 && pesBytes_ != 6u + pesLength_ && !(next == none && cutShort_)) {
            char b[200];
            std::snprintf(b, sizeof b, "the audio PES packet at %s holds %llu of its %u bytes", where(pesOffset_).c_str(),
                          static_cast<unsigned long long>(pesBytes_), 6u + pesLength_);
            add(pesOffset_, b, none, pesPts_);
        }
        if (!frameKnown_) return;
        const uint64_t data = pesBytes_ > pesHeader_ ? pesBytes_ - pesHeader_ : 0;
        const uint64_t frames = std::max<uint64_t>(1, (data + frame_.bytes / 2) / frame_.bytes);
        audioFrames += frames;
        const int64_t duration = static_cast<int64_t>(frames * frame_.ticks + 0.5);
        if (havePrevAudio_) {
            const int64_t delta = pesPts_ - prevAudioEnd_;
            const int64_t frameTicks = static_cast<int64_t>(frame_.ticks + 0.5);
            if (delta <= -frameTicks / 8) {
                const bool same = pesPts_ == prevAudioPts_;
                add(pesOffset_,
                    same ? "an audio frame with the time stamp of the one before it (a doubled frame?)"
                         : "the sound overlaps the frame before it by " + msText(-delta),
                    none, pesPts_);
            } else if (delta >= frameTicks * 7 / 8) {
                char b[160];
                std::snprintf(b, sizeof b, "a gap of %s in the sound (%lld audio frames missing)", msText(delta).c_str(),
                              static_cast<long long>((delta + frameTicks / 2) / frameTicks));
                add(pesOffset_, b, none, pesPts_);
            }
        }
        havePrevAudio_ = true;
        prevAudioPts_ = pesPts_;
        prevAudioEnd_ = pesPts_ + duration;
    }

    void picture(const FedPicture& f)
    {
        Picture p;
        p.begin = f.begin;
        p.type = f.picture->codingType;
        period = framePeriod(f.frameRate);
        if (f.hasPts) {
            p.pts = unwrap(f.pts);
            advanceClock(f.pts, p.pts);
        }
        if (p.type == pictureTypeI || p.type == pictureTypeP) ++anchors_;
        else if (p.type == pictureTypeB && anchors_ < 2) p.noReference = true;
        const size_t n = pictures.size();
        pictures.push_back(p);
        p.refused = !decoder_.send(f.bytes, f.size, static_cast<int64_t>(n), frames_);
        pictures[n].refused = p.refused;
        takeFrames();
    }

    void takeFrames()
    {
        for (const media::DecodedPicture& d : frames_) {
            if (d.tag < 0 || static_cast<size_t>(d.tag) >= pictures.size()) continue;
            Picture& p = pictures[static_cast<size_t>(d.tag)];
            p.decoded = true;
            p.digest = d.digest;
            p.damaged = d.damaged;
        }
        frames_.clear();
    }

    void finishDecoding()
    {
        decoder_.finish(frames_);
        takeFrames();
        for (size_t n = 0; n < pictures.size(); ++n) {
            const Picture& p = pictures[n];
            const bool last = n + 1 == pictures.size();
            if (p.refused || p.damaged) {
                add(none, std::string("the decoder finds errors in ") + typeName(p.type) + " picture " +
                              std::to_string(n) + " (at " + where(p.begin) + ")", n);
            } else if (!p.decoded && !p.noReference && !(last && cutShort_)) {
                add(none, std::string("the decoder gives no picture for ") + typeName(p.type) + " picture " +
                              std::to_string(n) + " (at " + where(p.begin) + ")", n);
            }
        }
    }

    // The time stamps in the order the pictures are shown: each one picture period
    // after the one before.
    void finishVideoTimes()
    {
        std::vector<std::pair<int64_t, size_t>> shown;
        for (size_t n = 0; n < pictures.size(); ++n)
            if (pictures[n].pts != INT64_MIN) shown.push_back({pictures[n].pts, n});
        if (shown.empty()) return;
        // Reordering reaches a few pictures at most: a picture shown far from where it
        // is coded is a jump, not a reordering.
        std::vector<std::pair<int64_t, size_t>> order;
        order.reserve(shown.size());
        std::vector<std::pair<int64_t, size_t>> window;
        auto popMin = [&]() {
            auto it = std::min_element(window.begin(), window.end());
            order.push_back(*it);
            window.erase(it);
        };
        for (const auto& s : shown) {
            // A jump of the clock ends the reordering of the pictures before it.
            if (!window.empty()) {
                const int64_t newest = std::max_element(window.begin(), window.end())->first;
                if (s.first > newest + 16 * period || s.first < newest - 16 * period)
                    while (!window.empty()) popMin();
            }
            window.push_back(s);
            if (window.size() > 8) popMin();
        }
        while (!window.empty()) popMin();
        // The first picture shown: the earliest of the first few.
        firstPts = shown.front().first;
        for (size_t i = 0; i < shown.size() && i < 16; ++i) firstPts = std::min(firstPts, shown[i].first);
        // The time in the file runs with the time stamps, and on by one picture over
        // a jump of the clock.
        int64_t clock = 0;
        pictures[order[0].second].time = 0;
        for (size_t i = 1; i < order.size(); ++i) {
            const int64_t step = order[i].first - order[i - 1].first;
            const size_t n = order[i].second;
            clock += step > 0 && step <= 16 * period ? step : step == 0 ? 0 : period;
            pictures[n].time = clock;
            if (step < period / 2 && step > -period / 2) {
                add(none, std::string("the time stamp of ") + typeName(pictures[n].type) + " picture " +
                              std::to_string(n) + " repeats the one of picture " + std::to_string(order[i - 1].second),
                    n);
            } else if (step < 0) {
                add(none, "the video time stamps go back " + msText(-step), n);
            } else if (step >= period * 3 / 2) {
                // The end of a save takes the anchor picture after the last range
                // without the pictures shown before it: it is shown late, not lost.
                const bool trailingAnchor = i + 1 == order.size() && n + 1 == pictures.size()
                                            && pictures[n].type != pictureTypeB;
                if (trailingAnchor) continue;
                char b[160];
                std::snprintf(b, sizeof b, "the video time stamps jump %s (%lld pictures missing)", msText(step).c_str(),
                              static_cast<long long>((step + period / 2) / period - 1));
                add(none, b, n);
            }
        }
        // Pictures without a time stamp of their own are shown after the one before.
        int64_t last = 0;
        for (Picture& p : pictures) {
            if (p.time < 0) p.time = last;
            last = p.time;
        }
    }

    const std::vector<std::string>& files_;
    LogConsole& log_;
    const platform::OperationContext& op_;
    media::StreamDecoder decoder_;
    std::vector<media::DecodedPicture> frames_;
    uint64_t totalBytes_ = 0;
    int lastProgress_ = -1;
    uint64_t lastPacket_ = none;
    bool cutShort_ = false;
    bool counterKnown_[2] = {false, false};
    uint8_t counter_[2] = {0, 0};
    bool clockKnown_ = false;
    uint32_t clock32_ = 0;
    int64_t clock64_ = 0;
    int anchors_ = 0;
    // The audio PES packet being read.
    bool pes_ = false;
    uint64_t pesOffset_ = 0;
    int64_t pesPts_ = 0;
    uint32_t pesLength_ = 0;
    uint32_t pesHeader_ = 0;
    uint64_t pesBytes_ = 0;
    bool frameKnown_ = false;
    AudioFrame frame_;
    bool haveLastFrame_ = false;
    AudioFrame lastFrame_;
    bool havePrevAudio_ = false;
    int64_t prevAudioPts_ = 0;
    int64_t prevAudioEnd_ = 0;
};

// ---------------------------------------------------------------------------
// Against the cut list and the sources.

struct SourcePicture {
    int32_t source;
    uint32_t packet;
    bool operator==(const SourcePicture& o) const { return source == o.source && packet == o.packet; }
};

struct SourcePictureHash {
    size_t operator()(const SourcePicture& p) const { return (static_cast<size_t>(p.source) << 40) ^ p.packet; }
};

class SourceComparison {
public:
    SourceComparison(FileCheck& file, const CutEditor& editor, int selectionOnly, const platform::OperationContext& op)
        : file_(file), editor_(editor), app_(editor.app), selectionOnly_(selectionOnly), op_(op)
    {
    }

    std::vector<uint64_t> joins;   // output picture where each join's range begins

    // The work of decoding the sources, in bytes, for the progress.
    uint64_t plan()
    {
        buildChosen();
        buildExpected();
        buildRuns();
        uint64_t work = 0;
        for (const Run& r : runs_) work += r.to - r.from;
        return work;
    }

    // 1 done, -1 cancelled, -2 can't read a source.
    int run(uint64_t workBefore, uint64_t totalWork)
    {
        if (app_.settings.assCleanJoins == 1 && app_.settings.saveRecodeAtCuts == 1)
            compareShown();
        else
            compareOrder();
        uint64_t done = workBefore;
        for (const Run& r : runs_) {
            const int rc = decodeRun(r, done, totalWork);
            if (rc != 1) return rc;
            done += r.to - r.from;
            file_.progress(done, totalWork);
        }
        compareSound();
        return 1;
    }

private:
    struct Run {
        size_t first, last;   // expected_ indexes, inclusive
        int32_t source;
        uint64_t from, to;    // bytes of the source to decode
    };

    const SourceStream* source(int32_t s) const { return app_.usableSource(s); }

    bool isPictureStart(const SourceStream& src, uint32_t j) const
    {
        return src.pktHeader[j].streamId == pvaStreamVideo && src.picType[j] != 0;
    }

    void buildChosen()
    {
        const CutList& list = editor_.currentList();
        int32_t first = 0, last = list.count - 1;
        if (selectionOnly_ == 1) {
            first = list.selStart;
            last = list.selEnd;
            if (first < 0 || last < 0) last = first - 1;
        }
        for (int32_t i = first; i <= last && i < list.count; ++i) {
            const int32_t s = list.source[i];
            const SourceStream* src = source(s);
            if (!src) continue;
            const bool starts = i == first || list.source[i - 1] != s || list.endPacket[i - 1] != list.firstPacket[i];
            if (starts) sequenceStarts_.push_back(chosen_.size());
            for (int32_t j = std::max(0, list.firstPacket[i]); j < list.endPacket[i] && j < src->pktCount; ++j)
                if (isPictureStart(*src, static_cast<uint32_t>(j))) chosen_.push_back({s, static_cast<uint32_t>(j)});
        }
    }

    // The pictures the packet list gives the new PVA, in order: the n-th is the
    // n-th picture of the file.
    void buildExpected()
    {
        const NewPvaPacketList& list = editor_.packetList;
        size_t nextRecoded = 0;
        for (uint32_t i = 0; i < list.numOfAVpkt; ++i) {
            const SourceStream* src = source(list.source[i]);
            while (nextRecoded < list.recodedEntries.size() && list.recodedEntries[nextRecoded] < i) ++nextRecoded;
            if (!src || list.packet[i] >= static_cast<uint32_t>(src->pktCount)) continue;
            if (!isPictureStart(*src, list.packet[i])) continue;
            expected_.push_back({list.source[i], list.packet[i]});
            recoded_.push_back(nextRecoded < list.recodedEntries.size() && list.recodedEntries[nextRecoded] == i);
        }
    }

    // With re-encoding at cuts a range shows every picture from the earliest to the
    // latest of its units, in the order of their time stamps, each once; those before
    // its first copied I picture are re-encoded and stand for the pictures they replace.
    void compareShown()
    {
        const std::vector<Picture>& out = file_.pictures;
        compareCount();
        joins.assign(sequenceStarts_.size() > 1 ? sequenceStarts_.size() - 1 : 0, out.size());
        size_t n = 0;
        for (size_t seq = 0; seq < sequenceStarts_.size(); ++seq) {
            const size_t c0 = sequenceStarts_[seq];
            const size_t c1 = seq + 1 < sequenceStarts_.size() ? sequenceStarts_[seq + 1] : chosen_.size();
            if (c0 >= c1) continue;
            const int32_t s = chosen_[c0].source;
            const SourceStream& src = *source(s);
            // The times the range's units span, and every source picture within them.
            int32_t lo = INT32_MAX, hi = INT32_MIN;
            for (size_t c = c0; c < c1; ++c) {
                const int32_t t = static_cast<int32_t>(src.vPts[chosen_[c].packet] - src.vPts[chosen_[c0].packet]);
                lo = std::min(lo, t);
                hi = std::max(hi, t);
            }
            std::map<int32_t, uint32_t> wanted;   // time -> source packet
            const int64_t a = std::max<int64_t>(0, int64_t{chosen_[c0].packet} - 400);
            const int64_t e = std::min<int64_t>(src.pktCount, int64_t{chosen_[c1 - 1].packet} + 400);
            for (int64_t j = a; j < e; ++j) {
                if (!isPictureStart(src, static_cast<uint32_t>(j))) continue;
                const int32_t t = static_cast<int32_t>(src.vPts[j] - src.vPts[chosen_[c0].packet]);
                if (t >= lo && t <= hi) wanted.emplace(t, static_cast<uint32_t>(j));
            }
            // The range's pictures in the file: those that stand for one of them.
            const size_t first = n;
            std::vector<std::pair<int64_t, size_t>> shown;
            while (n < expected_.size() && n < out.size() && expected_[n].source == s) {
                const int32_t t = static_cast<int32_t>(src.vPts[expected_[n].packet] - src.vPts[chosen_[c0].packet]);
                if (t < lo || t > hi || wanted.count(t) == 0 || wanted[t] != expected_[n].packet) break;
                shown.push_back({out[n].pts, n});
                ++n;
            }
            if (seq > 0) joins[seq - 1] = first;
            std::sort(shown.begin(), shown.end());
            // A bare video stream has no time stamps to order by: there only the count is
            // compared here.
            const bool timed = std::any_of(shown.begin(), shown.end(), [](const auto& p) { return p.first != INT64_MIN; });
            auto w = wanted.begin();
            size_t k = 0;
            for (; timed && k < shown.size() && w != wanted.end(); ++k, ++w) {
                if (expected_[shown[k].second].packet == w->second) continue;
                file_.add(none, "picture " + std::to_string(shown[k].second) + " is shown out of its order", shown[k].second);
                break;
            }
            if (shown.size() != wanted.size()) {
                char b[160];
                std::snprintf(b, sizeof b, "the range shows %llu pictures where its units span %llu",
                              static_cast<unsigned long long>(shown.size()), static_cast<unsigned long long>(wanted.size()));
                file_.add(none, b, first < out.size() ? first : none);
            }
        }
        if (n < expected_.size() && n < out.size())
            file_.add(none, "picture " + std::to_string(n) + " is not in the cut list", n);
    }

    void compareCount()
    {
        const std::vector<Picture>& out = file_.pictures;
        if (out.size() == expected_.size()) return;
        char b[160];
        std::snprintf(b, sizeof b, "the file has %llu pictures where the new PVA has %llu",
                      static_cast<unsigned long long>(out.size()), static_cast<unsigned long long>(expected_.size()));
        const uint64_t at = std::min<uint64_t>(out.size(), expected_.size());
        file_.add(none, b, at < out.size() ? at : (out.empty() ? none : out.size() - 1));
    }

    void compareOrder()
    {
        const std::vector<Picture>& out = file_.pictures;
        compareCount();
        // Where each chosen picture is, for a look-up.
        std::unordered_map<SourcePicture, std::vector<size_t>, SourcePictureHash> where;
        for (size_t c = 0; c < chosen_.size(); ++c) where[chosen_[c]].push_back(c);
        size_t k = 0, seq = 0;
        joins.assign(sequenceStarts_.size() > 1 ? sequenceStarts_.size() - 1 : 0, none);
        auto reached = [&](size_t c, size_t n) {
            while (seq < sequenceStarts_.size() && sequenceStarts_[seq] <= c) {
                if (seq > 0) joins[seq - 1] = n;
                ++seq;
            }
        };
        for (size_t n = 0; n < expected_.size() && n < out.size(); ++n) {
            const SourcePicture e = expected_[n];
            size_t found = none;
            bool earlier = false;
            if (auto it = where.find(e); it != where.end()) {
                for (size_t c : it->second) {
                    if (c >= k) {
                        found = c;
                        break;
                    }
                    earlier = true;
                }
            }
            if (found == k) {
                reached(k, n);
                ++k;
                continue;
            }
            if (found != none && leftOutAtRangeStart(k, found)) {
                reached(found, n);
                k = found + 1;
                continue;
            }
            if (found != none) {
                reached(found, n);
                char b[160];
                std::snprintf(b, sizeof b, "%llu chosen pictures are missing before picture %llu",
                              static_cast<unsigned long long>(found - k), static_cast<unsigned long long>(n));
                file_.add(none, b, n);
                k = found + 1;
                continue;
            }
            // The end of a range may take the anchor picture after it.
            const bool atEnd = k == chosen_.size() || std::find(sequenceStarts_.begin(), sequenceStarts_.end(), k)
                                                          != sequenceStarts_.end();
            const bool follows = k > 0 && chosen_[k - 1].source == e.source && e.packet > chosen_[k - 1].packet
                                 && e.packet <= chosen_[k - 1].packet + 400;
            if (atEnd && follows) continue;
            if (earlier)
                file_.add(none, "picture " + std::to_string(n) + " repeats a picture shown before it", n);
            else
                file_.add(none, "picture " + std::to_string(n) + " is not in the cut list", n);
        }
        if (k < chosen_.size()) {
            char b[120];
            std::snprintf(b, sizeof b, "the last %llu chosen pictures are missing",
                          static_cast<unsigned long long>(chosen_.size() - k));
            file_.add(none, b, out.empty() ? none : out.size() - 1);
        }
        // A join whose pictures are all missing begins where the next one does.
        for (size_t j = joins.size(); j-- > 0;) {
            if (joins[j] == none) joins[j] = out.size();
            if (j + 1 < joins.size()) joins[j] = std::min(joins[j], joins[j + 1]);
        }
    }

    // With clean joins a range leaves out the B pictures coded right after its first
    // I picture (they are shown before it and refer to a picture of the GOP before):
    // chosen pictures k .. found-1 are such pictures.
    bool leftOutAtRangeStart(size_t k, size_t found) const
    {
        if (!app_.settings.assCleanJoins || k == 0) return false;
        if (std::find(sequenceStarts_.begin(), sequenceStarts_.end(), k - 1) == sequenceStarts_.end()) return false;
        const SourceStream* first = source(chosen_[k - 1].source);
        if (!first || first->picType[chosen_[k - 1].packet] != 1) return false;
        for (size_t c = k; c < found; ++c) {
            const SourceStream* src = source(chosen_[c].source);
            if (!src || chosen_[c].source != chosen_[k - 1].source || src->picType[chosen_[c].packet] != 3) return false;
        }
        return true;
    }

    void buildRuns()
    {
        // Runs of the expected pictures that follow each other in one source; a
        // join of the cut list always starts a new one.
        std::unordered_set<SourcePicture, SourcePictureHash> starts;
        for (size_t s : sequenceStarts_)
            if (s < chosen_.size()) starts.insert(chosen_[s]);
        size_t begin = 0;
        for (size_t n = 1; n <= expected_.size(); ++n) {
            const bool cut = n == expected_.size() || expected_[n].source != expected_[n - 1].source
                             || expected_[n].packet <= expected_[n - 1].packet || starts.count(expected_[n]) > 0;
            if (!cut) continue;
            addRun(begin, n - 1);
            begin = n;
        }
    }

    void addRun(size_t first, size_t last)
    {
        const SourceStream& src = *source(expected_[first].source);
        // From the I picture of the GOP before: the leading B pictures of an open GOP
        // refer to it.
        int64_t j = expected_[first].packet;
        int found = 0;
        while (j > 0) {
            if (isPictureStart(src, static_cast<uint32_t>(j)) && src.picType[j] == pictureTypeI && ++found == 2) break;
            --j;
        }
        Run r{first, last, expected_[first].source, src.pktPos[static_cast<size_t>(std::max<int64_t>(j, 0))], none};
        // To the end of the packet where the picture after the last one begins.
        for (uint32_t k = expected_[last].packet + 1; k < static_cast<uint32_t>(src.pktCount); ++k) {
            if (isPictureStart(src, k)) {
                r.to = src.pktPos[k] + pvaHeaderSize + src.pktHeader[k].length;
                break;
            }
        }
        if (r.to == none) {
            std::error_code ec;
            r.to = fs::file_size(src.fileName, ec);
            if (ec) r.to = r.from;
        }
        runs_.push_back(r);
    }

    int decodeRun(const Run& r, uint64_t doneBefore, uint64_t total)
    {
        const SourceStream& src = *source(r.source);
        std::unordered_map<uint32_t, size_t> wanted;   // source packet -> output picture
        for (size_t n = r.first; n <= r.last; ++n) wanted[expected_[n].packet] = n;
        media::StreamDecoder decoder;
        std::vector<media::DecodedPicture> frames;
        std::vector<uint32_t> fed;   // source packet of each picture fed
        std::vector<size_t> differs;
        const uint64_t lastOffset = src.pktPos[expected_[r.last].packet];
        auto take = [&]() {
            for (const media::DecodedPicture& d : frames) {
                if (d.tag < 0 || static_cast<size_t>(d.tag) >= fed.size()) continue;
                const auto it = wanted.find(fed[static_cast<size_t>(d.tag)]);
                if (it == wanted.end() || it->second >= file_.pictures.size() || recoded_[it->second]) continue;
                const Picture& out = file_.pictures[it->second];
                if (!out.decoded || out.damaged || d.damaged) continue;
                if (out.digest != d.digest) differs.push_back(it->second);
            }
            frames.clear();
        };
        RegionReader reader({Region{src.fileName, r.from, r.to}});
        Feed feed;
        feed.onPicture = [&](const FedPicture& f) {
            if (f.packet > lastOffset) return false;
            const auto at = std::upper_bound(&src.pktPos[0], &src.pktPos[0] + src.pktCount, f.packet);
            const uint32_t j = static_cast<uint32_t>(at - &src.pktPos[0]) - 1;
            fed.push_back(j);
            decoder.send(f.bytes, f.size, static_cast<int64_t>(fed.size() - 1), frames);
            take();
            return true;
        };
        feed.onProgress = [&](uint64_t done) { file_.progress(doneBefore + (done - r.from), total); };
        const int rc = feed.run(reader, false, op_, r.from);
        if (rc == -2) return -2;
        if (rc == -1) return -1;
        decoder.finish(frames);
        take();
        std::sort(differs.begin(), differs.end());
        // One line for each stretch of neighbouring pictures.
        for (size_t i = 0; i < differs.size();) {
            size_t e = i + 1;
            while (e < differs.size() && differs[e] <= differs[e - 1] + 2) ++e;
            std::string types;
            for (size_t k = i; k < e && k < i + 12; ++k) types += std::string(k > i ? " " : "") + typeName(file_.pictures[differs[k]].type);
            char b[200];
            std::snprintf(b, sizeof b, "%llu pictures (%s%s) decode differently from the same pictures of source %d",
                          static_cast<unsigned long long>(e - i), types.c_str(), e - i > 12 ? " ..." : "",
                          static_cast<int>(r.source));
            file_.add(none, b, differs[i]);
            i = e;
        }
        return 1;
    }

    // Each range's sound keeps the time it has against the pictures in its source.
    void compareSound()
    {
        const Settings& s = app_.settings;
        if (s.saveNoAudio == 1 || s.saveNoAVPacketHeader == 1 || file_.audio.empty()) return;
        const int64_t expectedDiff = s.assCalcNewPts == 1 ? 90 * static_cast<int64_t>(s.assAudioPtsOffset) : 0;
        struct RunShift {
            uint64_t begin;
            int64_t video;   // new minus source video time stamp
            bool known;
            std::unordered_set<uint32_t> sourceAudio;
            int32_t source;
        };
        std::vector<RunShift> shifts;
        for (const Run& r : runs_) {
            RunShift rs{r.first < file_.pictures.size() ? file_.pictures[r.first].begin : none, 0, false, {}, r.source};
            const SourceStream& src = *source(r.source);
            // From a copied picture where there is one: a re-encoded GOP is in its own
            // coding order, so its pictures need not line up with the source's packets.
            for (const bool takeRecoded : {false, true}) {
                for (size_t n = r.first; !rs.known && n <= r.last && n < file_.pictures.size(); ++n) {
                    const uint32_t j = expected_[n].packet;
                    if (file_.pictures[n].pts == INT64_MIN || (src.pktHeader[j].flags & pvaFlagPts) == 0) continue;
                    if (!takeRecoded && n < recoded_.size() && recoded_[n]) continue;
                    const uint32_t srcPts = src.vPts[j] + src.vStartPts;
                    rs.video = static_cast<int32_t>(static_cast<uint32_t>(file_.pictures[n].pts) - srcPts);
                    rs.known = true;
                }
                if (rs.known) break;
            }
            const int64_t a = std::max<int64_t>(0, static_cast<int64_t>(expected_[r.first].packet) - 400);
            const int64_t b = std::min<int64_t>(src.pktCount, static_cast<int64_t>(expected_[r.last].packet) + 400);
            for (int64_t j = a; j < b; ++j)
                if (src.pktHeader[j].streamId == pvaStreamAudio && (src.pktHeader[j].flags & pvaFlagPts))
                    rs.sourceAudio.insert(src.aPts[j] + src.vStartPts);
            // A re-encoded GOP comes as several short runs of one range: they share its
            // shift, and its sound may lie past any of them.
            RunShift* last = shifts.empty() ? nullptr : &shifts.back();
            if (last && last->source == rs.source && (!rs.known || (last->known && last->video == rs.video))) {
                last->sourceAudio.insert(rs.sourceAudio.begin(), rs.sourceAudio.end());
                continue;
            }
            shifts.push_back(std::move(rs));
        }
        std::vector<uint64_t> wrong(shifts.size(), 0);
        std::vector<int64_t> firstWrong(shifts.size(), 0);
        std::vector<uint64_t> firstWrongOffset(shifts.size(), 0);
        size_t r = 0;
        for (const OutputAudio& a : file_.audio) {
            while (r + 1 < shifts.size() && shifts[r + 1].begin != none && shifts[r + 1].begin <= a.offset) ++r;
            auto fits = [&](size_t k) {
                return k < shifts.size() && shifts[k].known
                       && shifts[k].sourceAudio.count(
                              static_cast<uint32_t>(static_cast<uint32_t>(a.pts) - static_cast<uint32_t>(shifts[k].video + expectedDiff)))
                              > 0;
            };
            if (shifts.empty() || !shifts[r].known || fits(r) || (r > 0 && fits(r - 1)) || fits(r + 1)) continue;
            if (wrong[r]++ == 0) {
                firstWrongOffset[r] = a.offset;
                // How far off: the nearest source frame under this range's shift.
                int64_t best = INT64_MAX;
                const uint32_t want = static_cast<uint32_t>(a.pts) - static_cast<uint32_t>(shifts[r].video + expectedDiff);
                for (uint32_t p : shifts[r].sourceAudio) {
                    const int64_t d = static_cast<int32_t>(want - p);
                    if (std::llabs(d) < std::llabs(best)) best = d;
                }
                firstWrong[r] = best;
            }
        }
        for (size_t k = 0; k < shifts.size(); ++k) {
            if (wrong[k] == 0) continue;
            char b[200];
            if (firstWrong[k] != INT64_MAX)
                std::snprintf(b, sizeof b, "the sound is %s %s against the pictures than in source %d (%llu audio frames)",
                              msText(std::llabs(firstWrong[k])).c_str(), firstWrong[k] > 0 ? "later" : "earlier",
                              static_cast<int>(shifts[k].source), static_cast<unsigned long long>(wrong[k]));
            else
                std::snprintf(b, sizeof b, "%llu audio frames are not from source %d",
                              static_cast<unsigned long long>(wrong[k]), static_cast<int>(shifts[k].source));
            file_.add(firstWrongOffset[k], b);
        }
    }

    FileCheck& file_;
    const CutEditor& editor_;
    const SourceAnalyser& app_;
    int selectionOnly_;
    const platform::OperationContext& op_;
    std::vector<SourcePicture> chosen_;
    std::vector<size_t> sequenceStarts_;   // chosen_ index where each sequence begins
    std::vector<SourcePicture> expected_;
    std::vector<bool> recoded_;            // expected_ index: a re-encoded picture
    std::vector<Run> runs_;
};

// Writes the problems in file order, each with its join and time, and the summary.
void report(FileCheck& file, const std::vector<uint64_t>& joins, const std::string& name, LogConsole& log,
            CheckReport& out)
{
    std::vector<uint64_t> begins;
    begins.reserve(file.pictures.size());
    for (const Picture& p : file.pictures) begins.push_back(p.begin);
    auto pictureAt = [&](uint64_t offset) -> uint64_t {
        const auto it = std::upper_bound(begins.begin(), begins.end(), offset);
        return it == begins.begin() ? 0 : static_cast<uint64_t>(it - begins.begin()) - 1;
    };
    auto timeOf = [&](uint64_t n) -> int64_t {
        if (n >= file.pictures.size()) return 0;
        const Picture& p = file.pictures[n];
        return p.time >= 0 ? p.time : static_cast<int64_t>(n) * file.period;
    };
    // A time stamp of the sound: the time of the picture near it, moved by the
    // distance of the two time stamps.
    auto soundTime = [&](uint64_t n, int64_t pts) -> int64_t {
        if (n >= file.pictures.size()) return 0;
        const Picture& p = file.pictures[n];
        const int64_t d = pts - p.pts;
        return p.pts != INT64_MIN && d > -900000 && d < 900000 ? std::max<int64_t>(0, timeOf(n) + d) : timeOf(n);
    };
    struct Line {
        uint64_t picture;
        uint64_t offset;
        std::string text;
    };
    std::vector<Line> lines;
    for (Problem& p : file.problems) {
        uint64_t n = p.picture != none ? p.picture : p.offset != none ? pictureAt(p.offset) : 0;
        if (!file.pictures.empty()) n = std::min<uint64_t>(n, file.pictures.size() - 1);
        const int64_t t = p.time >= 0 && p.picture == none ? soundTime(n, p.time) : timeOf(n);
        const size_t join = static_cast<size_t>(std::upper_bound(joins.begin(), joins.end(), n) - joins.begin());
        std::string text = join > 0 ? "join " + std::to_string(join) + " at " : "at ";
        text += timeText(t) + ": " + p.text;
        const uint64_t order = p.offset != none ? p.offset : (n < begins.size() ? begins[n] : 0);
        lines.push_back(Line{n, order, std::move(text)});
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.offset < b.offset; });
    for (size_t i = 0; i < lines.size() && i < mostLines; ++i) log.writef("check: %s\n", lines[i].text.c_str());
    if (lines.size() > mostLines)
        log.writef("check: ... and %llu problems more\n", static_cast<unsigned long long>(lines.size() - mostLines));
    out.problems = lines.size();
    out.pictures = file.pictures.size();
    out.audioFrames = file.audioFrames;
    if (!lines.empty()) out.firstProblem = lines.front().text;
    if (lines.empty())
        log.writef("check: %s: no problem found (%llu pictures, %llu audio frames)\n", name.c_str(),
                   static_cast<unsigned long long>(out.pictures), static_cast<unsigned long long>(out.audioFrames));
    else
        log.writef("check: %s: %llu problem%s found\n", name.c_str(), static_cast<unsigned long long>(lines.size()),
                   lines.size() == 1 ? "" : "s");
    out.result = lines.empty() ? 1 : 0;
}

CheckReport check(const std::vector<std::string>& files, const CutEditor* editor, int selectionOnly, LogConsole& log,
                  const platform::OperationContext& op)
{
    CheckReport out;
    if (files.empty()) {
        log.write("ERROR: check: no file to check\n", 1);
        return out;
    }
    const std::string name = files.size() > 1 ? files.front() + " (" + std::to_string(files.size()) + " parts)" : files.front();
    log.writef("Check: %s\n", name.c_str());
    op.progress.running(true);
    FileCheck file(files, log, op);
    std::unique_ptr<SourceComparison> sources;
    uint64_t outputBytes = 0;
    for (const std::string& f : files) {
        std::error_code ec;
        outputBytes += fs::file_size(f, ec);
    }
    uint64_t sourceWork = 0;
    if (editor) {
        sources = std::make_unique<SourceComparison>(file, *editor, selectionOnly, op);
        sourceWork = sources->plan();
    }
    int rc = file.run(outputBytes + sourceWork, 0);
    if (rc == 1 && sources) rc = sources->run(outputBytes, outputBytes + sourceWork);
    op.progress.running(false);
    if (rc == -1) {
        op.cancelHandled();
        log.writef("check: %s was not checked: the check was cancelled\n", name.c_str());
        return out;
    }
    if (rc != 1) {
        log.writef("check: %s was not checked\n", name.c_str());
        return out;
    }
    report(file, sources ? sources->joins : std::vector<uint64_t>{}, name, log, out);
    return out;
}

} // namespace

std::vector<std::string> savedFiles(const std::string& name, bool split)
{
    if (!split) return {name};
    std::vector<std::string> parts;
    std::string base = name;
    std::error_code ec;
    fs::file_time_type first{};
    for (int n = 0;; ++n) {
        const std::string part = partFileName(base, n);
        if (!fs::is_regular_file(part, ec)) break;
        const fs::file_time_type t = fs::last_write_time(part, ec);
        if (ec) break;
        if (n == 0) first = t;
        else if (t < first) break;
        parts.push_back(part);
    }
    return parts;
}

CheckReport checkSavedFile(const std::vector<std::string>& files, LogConsole& log, const platform::OperationContext& op)
{
    return check(files, nullptr, 0, log, op);
}

CheckReport checkSavedFile(const std::vector<std::string>& files, const CutEditor& editor, int selectionOnly,
                           LogConsole& log, const platform::OperationContext& op)
{
    return check(files, &editor, selectionOnly, log, op);
}

bool checkAfterSaveWanted(int32_t setting, bool checkByDefault)
{
    return setting < 0 ? checkByDefault : setting > 0;
}
