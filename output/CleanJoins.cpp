#include "output/CleanJoins.h"
#include "output/StreamAssembler.h"

#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "source/AudioFrame.h"
#include "source/FileAccess.h"
#include "source/PacketWalker.h"
#include "source/SourceAnalyser.h"
#include "source/VideoPictures.h"
#include "media/PictureRecoder.h"
#include "platform/Operation.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr uint32_t startOffsetTicks = 45000;   // the new PVA starts half a second in
constexpr uint32_t defaultPictureTicks = 3600;
constexpr uint32_t defaultAudioFrameTicks = 2160;   // 1152 samples at 48 kHz
// How far around a range its sound is looked for, and how much of a source is read
// at most to find the pictures at one end of a range.
constexpr int64_t audioSearchPackets = 600;
constexpr int64_t regionPacketsMost = 4000;
constexpr uint64_t regionBytesMost = 16u << 20;

// a is later than (or at) b on the 32-bit time line.
bool notBefore(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) >= 0; }

uint32_t pictureTicks(uint8_t frameRateCode)
{
    // 90 kHz ticks per picture: 23.976, 24, 25, 29.97, 30, 50, 59.94, 60.
    static constexpr uint32_t ticks[] = {0, 3754, 3750, 3600, 3003, 3000, 1800, 1502, 1500};
    return frameRateCode >= 1 && frameRateCode <= 8 ? ticks[frameRateCode] : defaultPictureTicks;
}

int32_t picturesPerSecond(uint8_t frameRateCode)
{
    static constexpr int32_t rate[] = {25, 24, 24, 25, 30, 30, 50, 60, 60};
    return frameRateCode <= 8 ? rate[frameRateCode] : 25;
}

int64_t timeCodePictures(uint32_t tc, int32_t fps)
{
    const int64_t h = (tc >> 19) & 31, m = (tc >> 13) & 63, s = (tc >> 6) & 63, p = tc & 63;
    return ((h * 60 + m) * 60 + s) * fps + p;
}

bool isAudioPesStart(const SourceStream& src, int64_t j)
{
    const PvaPacketHeader& h = src.pktHeader[j];
    return h.streamId == pvaStreamAudio && (h.flags & pvaFlagPts) != 0;
}

bool isVideo(const SourceStream& src, int64_t j) { return src.pktHeader[j].streamId == pvaStreamVideo; }

// What becomes of a video packet at the end of a range.
struct Rewrite {
    bool drop = false;
    uint8_t flags = 0;
    std::vector<uint8_t> payload;
};

// The pictures at one end of a range, read from the source.
struct Region {
    // Packets of the region that do not go out as they are, by packet number.
    std::map<int64_t, Rewrite> rewrites;
    bool read = false;
    uint32_t droppedPictures = 0;
    bool hasGop = false;
    uint32_t gopTimeCode = 0;   // of the range's first GOP, as in the source
    bool hasSequence = false;
    uint8_t frameRateCode = 0;
    bool hasFirstPts = false;
    uint32_t firstPts = 0;      // source PTS of the first picture shown
};

struct RegionRules {
    bool dropLeadingBytes = false;   // bytes before the first header belong to a picture before the range
    bool cleanFirstGop = false;      // leave out the leading B pictures of an open first GOP
    uint64_t outsideFrom = UINT64_MAX;   // pictures whose start code lies at or after this offset are not the range's
};

// Reads packets a..b of the source into `bytes`; false unless they are the packets of the index.
bool readPackets(const SourceStream& src, int64_t a, int64_t b, std::vector<uint8_t>& bytes)
{
    if (a > b || b - a > regionPacketsMost) return false;
    const uint64_t from = src.pktPos[a];
    const uint64_t to = src.pktPos[b] + pvaHeaderSize + src.pktHeader[b].length;
    if (to <= from || to - from > regionBytesMost) return false;
    bytes.assign(static_cast<size_t>(to - from), 0);
    OwnedFile file(openFile(src.fileName.c_str(), "rb"));
    if (!file || seekFile(file.get(), from, 0) != 0) return false;
    if (readFile(bytes.data(), 1, static_cast<uint32_t>(bytes.size()), file.get()) != bytes.size()) return false;
    for (int64_t j = a; j <= b; ++j) {
        const uint8_t* h = bytes.data() + (src.pktPos[j] - from);
        const PvaPacketHeader got = readPacketHeader(h);
        const PvaPacketHeader& want = src.pktHeader[j];
        if (!hasAvSync(h) || got.streamId != want.streamId || got.flags != want.flags || got.length != want.length)
            return false;
    }
    return true;
}

// Reads packets a..b of the source and works out what of their video goes out.
Region readRegion(const SourceStream& src, int64_t a, int64_t b, const RegionRules& rules)
{
    Region region;
    std::vector<uint8_t> bytes;
    if (!readPackets(src, a, b, bytes)) return region;
    region.read = true;
    const uint64_t from = src.pktPos[a];

    PacketWalker walker(bytes.data(), bytes.size(), from);
    VideoPictures vp;
    vp.read(walker, from);
    const std::vector<VideoPicture>& pictures = vp.pictures();
    const std::vector<VideoPacket>& packets = vp.packets();
    if (pictures.empty()) return region;
    std::vector<uint8_t> stream = vp.stream();
    std::vector<uint8_t> keep(stream.size(), 1);
    std::vector<uint8_t> touched(stream.size(), 0);
    auto clear = [&](size_t x, size_t y) {
        for (size_t k = x; k < y && k < keep.size(); ++k) keep[k] = 0;
    };
    auto patch = [&](size_t at, uint8_t value) {
        if (at < stream.size() && stream[at] != value) {
            stream[at] = value;
            touched[at] = 1;
        }
    };

    if (rules.dropLeadingBytes) clear(0, pictures.front().begin);
    const VideoPicture& first = pictures.front();
    if (first.sequence >= 0) {
        region.hasSequence = true;
        region.frameRateCode = vp.sequences()[static_cast<size_t>(first.sequence)].frameRate;
    }
    const int32_t fps = picturesPerSecond(region.frameRateCode);
    if (first.gop >= 0 && first.gopHeader) {
        const VideoGop& gop = vp.gops()[static_cast<size_t>(first.gop)];
        region.hasGop = true;
        region.gopTimeCode = gop.header.timeCode();
        if (rules.cleanFirstGop && first.codingType == pictureTypeI && !gop.header.closedGop()) {
            size_t k = 1;
            while (k < pictures.size() && pictures[k].gop == first.gop && pictures[k].codingType == pictureTypeB
                   && pictures[k].temporalReference < first.temporalReference) {
                clear(pictures[k].begin, pictures[k].end);
                ++k;
            }
            const uint32_t dropped = static_cast<uint32_t>(k - 1);
            region.droppedPictures = dropped;
            // The GOP is closed now and starts with the I picture: its time code moves on
            // to that picture, its temporal references down by the pictures left out.
            if (gop.at + 7 < stream.size()) {
                uint32_t word = gop.header.word;
                word |= 1u << 6;
                word &= ~(1u << 5);
                if (dropped > 0) word = (shiftTimeCode(word >> 7, static_cast<int32_t>(dropped), fps) << 7) | (word & 0x7F);
                for (int i = 0; i < 4; ++i) patch(gop.at + 4 + i, static_cast<uint8_t>(word >> (24 - 8 * i)));
            }
            if (dropped > 0) {
                for (const VideoPicture& p : pictures) {
                    if (p.gop != first.gop || p.picture + 5 >= stream.size()) continue;
                    if (p.temporalReference < dropped) continue;   // one of those left out
                    const uint16_t tr = static_cast<uint16_t>(p.temporalReference - dropped);
                    patch(p.picture + 4, static_cast<uint8_t>(tr >> 2));
                    patch(p.picture + 5, static_cast<uint8_t>((stream[p.picture + 5] & 0x3F) | ((tr & 3) << 6)));
                }
            }
        }
    }
    for (const VideoPicture& p : pictures)
        if (p.packet >= rules.outsideFrom) clear(p.begin, p.end);

    // The packet each picture's time stamp comes from: the first picture whose start
    // code lies in a packet with a time stamp.
    std::vector<size_t> firstPictureOf(packets.size(), SIZE_MAX);
    for (size_t k = 0; k < pictures.size(); ++k) {
        const size_t pk = vp.packetOf(pictures[k].picture + 3);
        if (pk < packets.size() && firstPictureOf[pk] == SIZE_MAX) firstPictureOf[pk] = k;
    }
    for (size_t pk = 0; pk < packets.size(); ++pk) {
        const size_t k = firstPictureOf[pk];
        if (k == SIZE_MAX || !packets[pk].hasPts || !keep[pictures[k].picture]) continue;
        if (!region.hasFirstPts || !notBefore(packets[pk].pts, region.firstPts)) region.firstPts = packets[pk].pts;
        region.hasFirstPts = true;
    }

    // Packets whose bytes changed or went: their new payload, or nothing.
    int64_t j = a;
    for (size_t pk = 0; pk < packets.size(); ++pk) {
        while (j <= b && src.pktPos[j] < packets[pk].offset) ++j;
        if (j > b || src.pktPos[j] != packets[pk].offset) continue;
        const size_t sb = packets[pk].streamBegin;
        const size_t se = pk + 1 < packets.size() ? packets[pk + 1].streamBegin : stream.size();
        bool changed = false, anyKept = false;
        for (size_t x = sb; x < se; ++x) {
            if (!keep[x] || touched[x]) changed = true;
            if (keep[x]) anyKept = true;
        }
        if (!changed) continue;
        Rewrite rw;
        if (!anyKept) {
            rw.drop = true;
        } else {
            const uint8_t flags = src.pktHeader[j].flags;
            const size_t k = firstPictureOf[pk];
            const bool ptsKept = packets[pk].hasPts && k != SIZE_MAX && keep[pictures[k].picture];
            rw.flags = static_cast<uint8_t>((flags & ~(pvaFlagPts | 3u)) | (ptsKept ? pvaFlagPts : 0));
            if (ptsKept) {
                const uint8_t* payload = bytes.data() + (packets[pk].offset - from) + pvaHeaderSize;
                rw.payload.assign(payload, payload + 4);
            }
            for (size_t x = sb; x < se; ++x)
                if (keep[x]) rw.payload.push_back(stream[x]);
        }
        region.rewrites[j] = std::move(rw);
    }
    return region;
}

// The frames of an MPEG audio PES packet that lies wholly in one AV packet.
struct AudioFrames {
    size_t dataAt = 0;                 // payload offset of the first frame
    std::vector<uint32_t> offsets;     // payload offset of each frame
    uint32_t ticks = 0;                // one frame's time
};

// A frame header's length in bytes and its time in ticks; false when it is none.
bool audioFrameAt(const uint8_t* h, size_t left, uint32_t& bytes, uint32_t& ticks)
{
    MpegAudioFrame f;
    if (!parseMpegAudioFrame(h, left, f)) return false;
    bytes = f.bytes;
    ticks = static_cast<uint32_t>((int64_t{f.samples} * 90000 + f.sampleRate / 2) / f.sampleRate);
    return bytes >= 4;
}

// The frames of a PES packet held whole in `payload`; none when it does not parse.
AudioFrames audioFramesOf(const std::vector<uint8_t>& payload)
{
    AudioFrames f;
    if (payload.size() < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) return f;
    const size_t pesEnd = 6 + ((size_t{payload[4]} << 8) | payload[5]);
    if (pesEnd != payload.size()) return f;
    f.dataAt = 9 + payload[8];
    for (size_t at = f.dataAt; at < payload.size();) {
        uint32_t bytes = 0, ticks = 0;
        if (!audioFrameAt(payload.data() + at, payload.size() - at, bytes, ticks) || at + bytes > payload.size()
            || (f.ticks != 0 && ticks != f.ticks)) {
            f.offsets.clear();
            return f;
        }
        f.ticks = ticks;
        f.offsets.push_back(static_cast<uint32_t>(at));
        at += bytes;
    }
    return f;
}

bool readPayload(const SourceStream& src, int64_t j, std::vector<uint8_t>& payload)
{
    const PvaPacketHeader& want = src.pktHeader[j];
    std::vector<uint8_t> bytes(pvaHeaderSize + want.length);
    OwnedFile file(openFile(src.fileName.c_str(), "rb"));
    if (!file || seekFile(file.get(), src.pktPos[j], 0) != 0) return false;
    if (readFile(bytes.data(), 1, static_cast<uint32_t>(bytes.size()), file.get()) != bytes.size()) return false;
    const PvaPacketHeader got = readPacketHeader(bytes.data());
    if (!hasAvSync(bytes.data()) || got.streamId != want.streamId || got.flags != want.flags || got.length != want.length)
        return false;
    payload.assign(bytes.begin() + pvaHeaderSize, bytes.end());
    return true;
}

// A new video packet of re-encoded pictures: its flags, payload and, when it starts
// a picture, that picture's time stamp (relative to the source's start).
struct RecodedPacket {
    int64_t sourcePacket = 0;   // stands for: the replaced picture's first packet, else a video packet without a picture start
    uint8_t flags = 0;
    bool hasPts = false;
    uint32_t pts = 0;
    std::vector<uint8_t> payload;
};

// The start of a range that begins after its I picture (or with an open GOP's
// leading B pictures), re-encoded.
struct RecodedStart {
    bool done = false;
    int64_t copyFrom = -1;         // packet of the I picture copied from, -1 when the range has none
    uint32_t firstPts = 0;         // the first picture shown, relative to the source's start
    bool hasTimeCode = false;
    int64_t timeCodePictures = 0;  // its GOP time code in pictures, as the source counts
    uint8_t frameRateCode = 0;
    std::vector<RecodedPacket> packets;
    size_t pictures = 0, bytes = 0, replacedBytes = 0;
    bool underflow = false;
};

constexpr uint32_t maxVideoPayload = 6136;

// Bit reader for the sequence header's matrices.
struct Bits {
    const uint8_t* data;
    size_t size;
    size_t bit = 0;
    uint32_t get(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            const size_t byte = bit >> 3;
            v = (v << 1) | (byte < size ? (data[byte] >> (7 - (bit & 7))) & 1u : 0u);
        }
        return v;
    }
};

media::RecodeFormat recodeFormat(const VideoPictures& vp, const VideoSequence& seq, int bFrames)
{
    media::RecodeFormat f;
    f.width = seq.width;
    f.height = seq.height;
    f.aspectRatio = seq.aspectRatio;
    f.frameRateCode = seq.frameRate;
    f.chromaFormat = seq.chromaFormat ? seq.chromaFormat : 1;
    f.interlaced = seq.hasExtension && !seq.progressiveSequence;
    f.bFrames = bFrames;
    if (seq.bitRate != 0 && seq.bitRate != 0x3FFFF) f.maxRate = int64_t{seq.bitRate} * 400;
    f.bufferBits = int64_t{seq.vbvBufferSize} * 16384;
    const std::vector<uint8_t>& stream = vp.stream();
    if (seq.at + 12 <= stream.size()) {
        Bits bits{stream.data() + seq.at + 4, stream.size() - seq.at - 4};
        bits.bit = 62;
        if ((f.hasIntraMatrix = bits.get(1) != 0))
            for (uint8_t& m : f.intraMatrix) m = static_cast<uint8_t>(bits.get(8));
        if ((f.hasNonIntraMatrix = bits.get(1) != 0))
            for (uint8_t& m : f.nonIntraMatrix) m = static_cast<uint8_t>(bits.get(8));
    }
    return f;
}

// Packet of the I picture at or before packet j, or -1.
int64_t iPictureAtOrBefore(const SourceStream& src, int64_t j)
{
    for (; j >= 0; --j)
        if (isVideo(src, j) && src.picType[j] == pictureTypeI) return j;
    return -1;
}

// Re-encodes the pictures a range shows before the first I picture it copies: from its
// earliest picture shown up to the last one shown before that I picture (its leading
// B pictures included). Not done (the range is joined as before) when the range
// starts with a closed GOP's I picture, or when the pictures can't be read or the
// re-encoded ones don't fit.
RecodedStart recodeStart(const SourceStream& src, int64_t first, int64_t end, std::string& why)
{
    RecodedStart out;
    const int64_t lastPacket = src.pktCount - 1;
    int64_t copyFrom = -1;
    for (int64_t j = first; j < end; ++j)
        if (isVideo(src, j) && src.picType[j] == pictureTypeI) {
            copyFrom = j;
            break;
        }
    // Decode from two I pictures back: the leading B pictures of an open GOP refer to the GOP before.
    int64_t from = iPictureAtOrBefore(src, first);
    if (from < 0) return out;
    if (from > 0) {
        const int64_t before = iPictureAtOrBefore(src, from - 1);
        if (before >= 0) from = before;
    }
    // Up to the first anchor after the copied I picture (its leading B pictures with it),
    // or after the range; inclusive, so that the last picture read is whole.
    int64_t to = copyFrom >= 0 ? copyFrom + 1 : end;
    while (to <= lastPacket && !(isVideo(src, to) && (src.picType[to] == pictureTypeI || src.picType[to] == pictureTypeP)))
        ++to;
    to = std::min(to, lastPacket);
    std::vector<uint8_t> bytes;
    if (!readPackets(src, from, to, bytes)) {
        why = "the pictures could not be read";
        return out;
    }
    PacketWalker walker(bytes.data(), bytes.size(), src.pktPos[from]);
    VideoPictures vp;
    vp.read(walker, src.pktPos[from]);
    const std::vector<VideoPicture>& pics = vp.pictures();
    const std::vector<VideoPacket>& packets = vp.packets();
    if (pics.empty() || pics.front().sequence < 0) return out;
    const VideoSequence& seq = vp.sequences()[static_cast<size_t>(pics.front().sequence)];
    const uint32_t ticks = pictureTicks(seq.frameRate);

    // Each picture's time: its packet's time stamp when it is the first picture of a
    // packet with one, else from its GOP's and its temporal reference.
    const size_t n = pics.size() - (vp.lastOpen() ? 1 : 0);
    std::vector<int64_t> pts(n, 0);
    std::vector<bool> known(n, false);
    std::vector<size_t> firstOfPacket(packets.size(), SIZE_MAX);
    for (size_t k = 0; k < n; ++k) {
        const size_t pk = vp.packetOf(pics[k].picture + 3);
        if (pk < packets.size() && firstOfPacket[pk] == SIZE_MAX) {
            firstOfPacket[pk] = k;
            if (packets[pk].hasPts) {
                pts[k] = static_cast<int32_t>(packets[pk].pts - src.vStartPts);
                known[k] = true;
            }
        }
    }
    std::map<int32_t, int64_t> gopBase;
    for (size_t k = 0; k < n; ++k)
        if (known[k] && !gopBase.count(pics[k].gop)) gopBase[pics[k].gop] = pts[k] - int64_t{pics[k].temporalReference} * ticks;
    for (size_t k = 0; k < n; ++k) {
        if (known[k]) continue;
        auto it = gopBase.find(pics[k].gop);
        if (it == gopBase.end()) return out;
        pts[k] = it->second + int64_t{pics[k].temporalReference} * ticks;
    }
    // The range's pictures: those starting in its packets. What it shows: from the
    // earliest to the latest of their times.
    const uint64_t rangeFrom = src.pktPos[first];
    const uint64_t rangeTo = end <= lastPacket ? src.pktPos[end] : UINT64_MAX;
    int64_t earliest = INT64_MAX, latest = INT64_MIN, copyPts = INT64_MAX;
    size_t copyIndex = SIZE_MAX;
    for (size_t k = 0; k < n; ++k) {
        if (pics[k].packet < rangeFrom || pics[k].packet >= rangeTo) continue;
        earliest = std::min(earliest, pts[k]);
        latest = std::max(latest, pts[k]);
        if (copyFrom >= 0 && copyIndex == SIZE_MAX && pics[k].codingType == pictureTypeI) {
            copyIndex = k;
            copyPts = pts[k];
        }
    }
    if (earliest == INT64_MAX || earliest >= copyPts) return out;   // nothing before the I picture
    // Wanted and re-encoded: earliest .. latest, before the copied I picture.
    std::vector<std::pair<int64_t, size_t>> wanted;
    for (size_t k = 0; k < n; ++k)
        if (pts[k] >= earliest && pts[k] <= latest && pts[k] < copyPts) wanted.push_back({pts[k], k});
    std::sort(wanted.begin(), wanted.end());
    // The feed: every picture from the first I picture on, in coding order, up to the
    // copied I picture's leading B pictures (or the last wanted one).
    size_t feedEnd = 0;
    for (const auto& w : wanted) feedEnd = std::max(feedEnd, w.second + 1);
    std::vector<media::CodedPicture> feed;
    std::vector<int64_t> tags;
    size_t replaced = 0;
    int bRun = 0, bMost = 0;
    for (size_t k = 0; k < feedEnd; ++k) {
        feed.push_back({vp.stream().data() + pics[k].begin, pics[k].end - pics[k].begin});
        tags.push_back(pts[k]);
        bRun = pics[k].codingType == pictureTypeB ? bRun + 1 : 0;
        bMost = std::max(bMost, bRun);
    }
    std::vector<int64_t> wantedTags;
    for (const auto& w : wanted) {
        wantedTags.push_back(w.first);
        replaced += pics[w.second].end - pics[w.second].begin;
    }
    const VideoPicture& shownFirst = pics[wanted.front().second];
    media::RecodeFormat format = recodeFormat(vp, seq, bMost > 0 ? bMost : 2);
    if (shownFirst.gop >= 0) {
        const VideoGop& gop = vp.gops()[static_cast<size_t>(shownFirst.gop)];
        out.hasTimeCode = true;
        out.timeCodePictures = timeCodePictures(gop.header.timeCode(), picturesPerSecond(seq.frameRate))
            + shownFirst.temporalReference;
        format.timeCodePictures = out.timeCodePictures;
    }
    media::RecodeResult result;
    if (!media::recodePictures(feed, tags, wantedTags, format, replaced, result, why)) return out;
    if (!result.fits) {
        why = result.underflow ? "the decoder's buffer would run dry" : "the pictures would not fit in the bytes they replace";
        return out;
    }
    // Cut into packets: each picture starts one, with its time stamp. In the packet
    // list it stands in the place of the picture it replaces.
    const uint8_t baseFlags = static_cast<uint8_t>(src.pktHeader[first].flags & ~(pvaFlagPts | 3u));
    auto packetIndex = [&](uint64_t offset) {
        const auto at = std::upper_bound(&src.pktPos[0], &src.pktPos[0] + src.pktCount, offset);
        return static_cast<int64_t>(at - &src.pktPos[0]) - 1;
    };
    for (const media::RecodedPicture& p : result.pictures) {
        const int64_t t = wantedTags[static_cast<size_t>(p.displayIndex)];
        const int64_t pictureAt = packetIndex(pics[wanted[static_cast<size_t>(p.displayIndex)].second].packet);
        int64_t rest = pictureAt;
        for (int64_t j = pictureAt + 1; j <= lastPacket && j <= pictureAt + 400; ++j)
            if (isVideo(src, j) && src.picType[j] == 0) {
                rest = j;
                break;
            }
        size_t at = 0;
        bool firstPacket = true;
        while (at < p.bytes.size()) {
            RecodedPacket pk;
            pk.sourcePacket = firstPacket ? pictureAt : rest;
            pk.flags = static_cast<uint8_t>(baseFlags | (firstPacket ? pvaFlagPts : 0));
            pk.hasPts = firstPacket;
            pk.pts = static_cast<uint32_t>(t);
            if (firstPacket) {
                const uint32_t raw = pk.pts + src.vStartPts;
                for (int i = 0; i < 4; ++i) pk.payload.push_back(static_cast<uint8_t>(raw >> (24 - 8 * i)));
            }
            const size_t take = std::min(p.bytes.size() - at, maxVideoPayload - pk.payload.size());
            pk.payload.insert(pk.payload.end(), p.bytes.begin() + static_cast<long>(at),
                              p.bytes.begin() + static_cast<long>(at + take));
            at += take;
            firstPacket = false;
            out.packets.push_back(std::move(pk));
        }
    }
    out.done = true;
    out.copyFrom = copyFrom;
    out.firstPts = static_cast<uint32_t>(earliest);
    out.frameRateCode = seq.frameRate;
    out.pictures = result.pictures.size();
    out.bytes = result.bytes;
    out.replacedBytes = replaced;
    out.underflow = result.underflow;
    return out;
}

// A run of units that follow each other in one source: packets first .. end - 1.
struct Range {
    int32_t source;
    int32_t entry;   // its first list entry
    int64_t first;
    int64_t end;
};

class CleanAssembly {
public:
    CleanAssembly(CutEditor& editor, CleanJoinPlan& plan, const platform::OperationContext* op)
        : op_(op), editor_(editor), list_(editor.packetList), settings_(editor.app.settings), plan_(plan),
          calc_(settings_.assCalcNewPts == 1), recode_(settings_.saveRecodeAtCuts == 1),
          videoPtsOffset_((500u - static_cast<uint32_t>(settings_.assAudioPtsOffset)) * 90u)
    {}

    void add(Range range);
    // Progress of the re-encoding: `done` of `all` entries assembled. False once cancelled.
    bool going(int64_t done, int64_t all);

private:
    bool append(int32_t s, int64_t j, bool video, uint32_t ptsDelta = 0);
    void appendRecoded(int32_t s, int64_t j, const RecodedPacket& p);
    bool takePartOfPes(int32_t s, const SourceStream& src, int64_t j, uint32_t audioFrom, uint32_t audioUntil,
                       uint32_t audioOffset, bool& taking);
    uint32_t audioDuration(const SourceStream& src, int64_t j);
    uint32_t lastShownPts(const SourceStream& src, const Range& r, uint32_t fallback) const;

    const platform::OperationContext* op_;
    bool showing_ = false;
    int lastPercent_ = -1;
    CutEditor& editor_;
    NewPvaPacketList& list_;
    const Settings& settings_;
    CleanJoinPlan& plan_;
    const bool calc_;
    const bool recode_;
    bool started_ = false;
    bool full_ = false;
    uint32_t videoPtsOffset_;
    uint32_t previousLastPts_ = 0;   // new PTS of the last picture shown so far
    uint32_t previousPictureTicks_ = defaultPictureTicks;
    bool audioEndKnown_ = false;
    uint32_t audioEnd_ = 0;          // where the sound so far ends, on the new time line
    uint32_t lastAudioDuration_ = defaultAudioFrameTicks;
    int64_t timeCodeNext_ = 0;       // the time code, in pictures, the next range's first GOP gets
    bool timeCodeKnown_ = false;
};

bool CleanAssembly::append(int32_t s, int64_t j, bool video, uint32_t ptsDelta)
{
    const SourceStream& src = editor_.app.sources[s];
    // Past the limit, or without memory, packets are only counted: the writer then
    // says how many did not fit and saves nothing.
    const bool room = !full_ && list_.numOfAVpkt < editor_.app.limits.newPvaPackets - 1;
    if (!room || !list_.reserve(size_t{list_.numOfAVpkt} + 1)) {
        if (room) editor_.app.log.write("ERROR: OUT OF MEMORY\n", 1);
        full_ = true;
        ++list_.refusedPackets;
        return false;
    }
    const uint32_t k = list_.numOfAVpkt++;
    list_.source[k] = s;
    list_.packet[k] = static_cast<uint32_t>(j);
    if (video)
        list_.newVideoPts[k] = calc_ ? src.vPts[j] + videoPtsOffset_ : src.vPts[j];
    else
        list_.newAudioPts[k] = ptsDelta + (calc_ ? src.aPts[j] + videoPtsOffset_ + 90u * static_cast<uint32_t>(settings_.assAudioPtsOffset)
                                                 : src.aPts[j]);
    return true;
}

bool CleanAssembly::going(int64_t done, int64_t all)
{
    if (!op_ || !recode_) return true;
    if (!showing_) {
        op_->progress.running(true);
        showing_ = true;
    }
    if (done >= all) {
        op_->progress.running(false);
        showing_ = false;
        return true;
    }
    const int percent = all > 0 ? static_cast<int>(done * 100 / all) : 0;
    if (percent != lastPercent_) op_->progress.progress(percent);
    lastPercent_ = percent;
    op_->pump.serve(8);
    if (!op_->cancelRequested()) return true;
    plan_.cancelled = true;
    op_->progress.running(false);
    showing_ = false;
    return false;
}

// A packet of re-encoded pictures, in place of source packet j.
void CleanAssembly::appendRecoded(int32_t s, int64_t j, const RecodedPacket& p)
{
    if (!append(s, j, true)) return;
    const uint32_t k = list_.numOfAVpkt - 1;
    list_.newVideoPts[k] = calc_ ? p.pts + videoPtsOffset_ : p.pts;
    plan_.rewrites.push_back({k, p.flags, p.payload});
    if (p.hasPts) list_.recodedEntries.push_back(k);
}

// The time one audio PES packet plays: up to the next one of its source.
uint32_t CleanAssembly::audioDuration(const SourceStream& src, int64_t j)
{
    const int64_t last = std::min<int64_t>(src.pktCount - 1, j + 200);
    for (int64_t k = j + 1; k <= last; ++k) {
        if (!isAudioPesStart(src, k)) continue;
        const uint32_t d = src.aPts[k] - src.aPts[j];
        if (d > 0 && d < ptsTicksPerSecond) lastAudioDuration_ = d;
        break;
    }
    return lastAudioDuration_;
}

// The frames of PES packet j that start within [audioFrom, audioUntil) and not
// before the sound so far ends, as a packet of their own. False (nothing done)
// when the packet is not one whole PES packet of whole frames, or all its frames
// or none would be taken anyway.
bool CleanAssembly::takePartOfPes(int32_t s, const SourceStream& src, int64_t j, uint32_t audioFrom,
                                  uint32_t audioUntil, uint32_t audioOffset, bool& taking)
{
    std::vector<uint8_t> payload;
    if (!readPayload(src, j, payload) || payload.size() < 14) return false;
    const AudioFrames f = audioFramesOf(payload);
    const size_t n = f.offsets.size();
    if (n < 2) return false;
    size_t first = n, last = 0;
    for (size_t k = 0; k < n; ++k) {
        const uint32_t t = src.aPts[j] + static_cast<uint32_t>(k) * f.ticks;
        const bool in = notBefore(t, audioFrom) && !notBefore(t, audioUntil)
            && (!audioEndKnown_ || notBefore(t + audioOffset, audioEnd_));
        if (!in) continue;
        first = std::min(first, k);
        last = k;
    }
    if (first == 0 && last == n - 1) return false;
    taking = false;   // its continuation packets, if any, are not this one's
    if (first == n) return true;
    const uint32_t begin = f.offsets[first];
    const uint32_t end = last + 1 < n ? f.offsets[last + 1] : static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> part(payload.begin(), payload.begin() + static_cast<long>(f.dataAt));
    part.insert(part.end(), payload.begin() + begin, payload.begin() + end);
    const size_t pesLength = part.size() - 6;
    part[4] = static_cast<uint8_t>(pesLength >> 8);
    part[5] = static_cast<uint8_t>(pesLength);
    const uint32_t delta = static_cast<uint32_t>(first) * f.ticks;
    if (!append(s, j, false, delta)) return true;
    plan_.rewrites.push_back({list_.numOfAVpkt - 1, src.pktHeader[j].flags, std::move(part)});
    audioEnd_ = src.aPts[j] + delta + audioOffset + static_cast<uint32_t>(last + 1 - first) * f.ticks;
    audioEndKnown_ = true;
    return true;
}

// The source PTS of the range's last picture shown: the latest time stamp of its last GOP.
uint32_t CleanAssembly::lastShownPts(const SourceStream& src, const Range& r, uint32_t fallback) const
{
    bool found = false;
    uint32_t latest = fallback;
    for (int64_t j = r.end - 1; j >= r.first; --j) {
        const PvaPacketHeader& h = src.pktHeader[j];
        if (h.streamId != pvaStreamVideo) continue;
        if ((h.flags & pvaFlagPts) != 0 && (!found || notBefore(src.vPts[j], latest))) {
            latest = src.vPts[j];
            found = true;
        }
        if (src.picType[j] == pictureTypeI) break;
    }
    return found && notBefore(latest, fallback) ? latest : fallback;
}

void CleanAssembly::add(Range r)
{
    const SourceStream& src = editor_.app.sources[r.source];
    const int64_t lastPacket = src.pktCount - 1;

    // Re-encoding at cuts: a range shows every picture from the earliest to the latest
    // of its units. It ends with the B pictures coded after its last anchor (shown
    // before it), and what it shows before its first clean I picture is re-encoded.
    RecodedStart recoded;
    if (recode_) {
        while (r.end <= lastPacket
               && !(isVideo(src, r.end) && (src.picType[r.end] == pictureTypeI || src.picType[r.end] == pictureTypeP)))
            ++r.end;
        std::string why;
        recoded = recodeStart(src, r.first, r.end, why);
        if (!why.empty())
            editor_.app.log.writef("Range at entry %d joined without re-encoding: %s\n", r.entry + 1, why.c_str());
    }
    const uint64_t outside = r.end <= lastPacket ? src.pktPos[r.end] : UINT64_MAX;
    // The first packet whose video is copied.
    const int64_t copyFirst = !recoded.done ? r.first : recoded.copyFrom >= 0 ? recoded.copyFrom : r.end;

    // The pictures of the range's first GOP, up to the packet of the next I picture.
    int64_t headEnd = copyFirst + 1;
    while (headEnd < r.end && src.picType[headEnd] != pictureTypeI) ++headEnd;
    headEnd = std::min(headEnd, lastPacket);
    RegionRules headRules;
    headRules.dropLeadingBytes = true;
    headRules.cleanFirstGop = true;
    if (headEnd >= r.end) headRules.outsideFrom = outside;
    Region head;
    if (copyFirst < r.end) head = readRegion(src, copyFirst, headEnd, headRules);
    if (!head.read) head = Region{};
    if (recoded.done) {
        head.hasSequence = true;
        head.frameRateCode = recoded.frameRateCode;
        head.hasFirstPts = false;
        head.hasGop = recoded.hasTimeCode;
        head.gopTimeCode = 0;
        head.droppedPictures = 0;
        ++plan_.recodedCuts;
        plan_.recodedPictures += recoded.pictures;
        plan_.recodedBytes += recoded.bytes;
        plan_.replacedBytes += recoded.replacedBytes;
    }

    // The end: the range's last picture may end in the packet where the next begins.
    Region tail;
    if (outside != UINT64_MAX && headEnd < r.end && copyFirst < r.end) {
        RegionRules tailRules;
        tailRules.outsideFrom = outside;
        tail = readRegion(src, std::max(headEnd + 1, r.end - 1), r.end, tailRules);
    }

    const uint32_t ticks = head.hasSequence ? pictureTicks(head.frameRateCode) : previousPictureTicks_;
    const uint32_t firstPts = recoded.done ? recoded.firstPts
        : head.hasFirstPts              ? head.firstPts - src.vStartPts
                                        : src.vPts[r.first];
    const uint32_t lastPts = lastShownPts(src, r, firstPts);

    if (calc_) {
        if (!started_) {
            // As the plain assembly: entry 0 keeps its source's time base.
            if (r.entry != 0) videoPtsOffset_ -= firstPts;
        } else {
            videoPtsOffset_ = previousLastPts_ + previousPictureTicks_ - firstPts;
        }
    }
    const uint32_t audioOffset = videoPtsOffset_ + 90u * static_cast<uint32_t>(settings_.assAudioPtsOffset);

    // GOP time codes run on: the first GOP of the range comes right after the
    // pictures before it.
    const int32_t fps = picturesPerSecond(head.frameRateCode);
    TimeCodeShift shift;
    shift.firstEntry = list_.numOfAVpkt;
    shift.picturesPerSecond = fps;
    if (head.hasGop) {
        const int64_t own = recoded.done ? recoded.timeCodePictures
                                         : timeCodePictures(head.gopTimeCode, fps) + head.droppedPictures;
        if (timeCodeKnown_) {
            const int64_t day = int64_t{24} * 3600 * fps;
            int64_t d = (timeCodeNext_ - own) % day;
            shift.pictures = static_cast<int32_t>(d);
            timeCodeNext_ = own + d;
        } else {
            timeCodeNext_ = own;
        }
        timeCodeKnown_ = true;
        timeCodeNext_ += (lastPts - firstPts) / ticks + 1;
    }
    if (plan_.timeCodes.empty() || plan_.timeCodes.back().pictures != shift.pictures) plan_.timeCodes.push_back(shift);

    // The sound that belongs to the range's pictures, in whole PES packets: from the
    // first that starts with the first picture shown (and not before the sound so
    // far ends) up to the last that starts before the range's time is over.
    const uint32_t audioFrom = firstPts;
    const uint32_t audioUntil = lastPts + ticks;
    int64_t lo = r.first;
    for (int64_t j = r.first - 1; j >= 0 && r.first - j <= audioSearchPackets; --j) {
        lo = j;
        if (isAudioPesStart(src, j) && !notBefore(src.aPts[j], audioFrom - startOffsetTicks)) break;
    }
    int64_t hi = r.end - 1;
    for (int64_t j = r.end; j <= lastPacket && j - r.end <= audioSearchPackets; ++j) {
        hi = j;
        if (isAudioPesStart(src, j) && notBefore(src.aPts[j], audioUntil)) break;
    }

    bool taking = false;
    bool recodedOut = !recoded.done;
    for (int64_t j = lo; j <= hi; ++j) {
        if (isVideo(src, j)) {
            const bool inside = j >= r.first && j < r.end;
            if (inside && !recodedOut) {
                for (const RecodedPacket& p : recoded.packets) appendRecoded(r.source, p.sourcePacket, p);
                recodedOut = true;
            }
            if (inside && j < copyFirst) continue;
            const Region* from = tail.rewrites.count(j) ? &tail : head.rewrites.count(j) ? &head : nullptr;
            if (!inside && !(from && j == r.end)) continue;
            if (from) {
                const Rewrite& rw = from->rewrites.at(j);
                if (rw.drop) continue;
                if (append(r.source, j, true)) plan_.rewrites.push_back({list_.numOfAVpkt - 1, rw.flags, rw.payload});
            } else {
                append(r.source, j, true);
            }
        } else if (src.pktHeader[j].streamId == pvaStreamAudio) {
            if (isAudioPesStart(src, j)) {
                const uint32_t at = src.aPts[j] + audioOffset;
                const uint32_t duration = audioDuration(src, j);
                // A PES packet of several frames that reaches over an edge of the range
                // (or under the sound before) gives the frames that belong here.
                auto inside = [duration](uint32_t t, uint32_t x) { return x - t > 0 && x - t < duration; };
                const bool edge = inside(src.aPts[j], audioFrom) || inside(src.aPts[j], audioUntil)
                    || (audioEndKnown_ && inside(at, audioEnd_));
                if (edge && takePartOfPes(r.source, src, j, audioFrom, audioUntil, audioOffset, taking)) continue;
                taking = notBefore(src.aPts[j], audioFrom) && !notBefore(src.aPts[j], audioUntil)
                    && (!audioEndKnown_ || notBefore(at, audioEnd_));
                if (taking) {
                    audioEnd_ = at + duration;
                    audioEndKnown_ = true;
                }
            }
            if (taking) append(r.source, j, false);
        }
    }

    previousLastPts_ = lastPts + videoPtsOffset_;
    previousPictureTicks_ = ticks;
    started_ = true;
}

} // namespace

uint32_t shiftTimeCode(uint32_t tc, int32_t pictures, int32_t fps)
{
    if (fps <= 0) fps = 25;
    const int64_t day = int64_t{24} * 3600 * fps;
    int64_t n = (timeCodePictures(tc, fps) + pictures) % day;
    if (n < 0) n += day;
    const uint32_t p = static_cast<uint32_t>(n % fps);
    n /= fps;
    const uint32_t s = static_cast<uint32_t>(n % 60), m = static_cast<uint32_t>((n / 60) % 60),
                   h = static_cast<uint32_t>(n / 3600);
    return (tc & (1u << 24)) | (h << 19) | (m << 13) | (tc & (1u << 12)) | (s << 6) | p;
}

void shiftGopTimeCodes(uint8_t* data, uint32_t length, int32_t pictures, int32_t fps)
{
    if (pictures == 0) return;
    forEachHeaderInBlock(
        data, length,
        [&](uint32_t p, const GopHeader& gop) {
            const uint32_t word = (shiftTimeCode(gop.timeCode(), pictures, fps) << 7) | (gop.word & 0x7F);
            for (int i = 0; i < 4; ++i) data[p + 4 + i] = static_cast<uint8_t>(word >> (24 - 8 * i));
        },
        [](uint32_t, const PictureHeader&) {});
}

int assembleCleanJoins(CutEditor& editor, int selectionOnly, CleanJoinPlan& plan, const platform::OperationContext* op)
{
    NewPvaPacketList& packets = editor.packetList;
    packets.numOfAVpkt = 0;
    packets.recodedEntries.clear();
    packets.refusedPackets = 0;
    plan.clear();
    if (!editor.ready()) return -1;
    const CutList& list = editor.currentList();
    if (list.count == 0) return 0;

    const EntryRange entries = entriesToAssemble(list, selectionOnly);
    CleanAssembly assembly(editor, plan, op);
    bool open = false;
    Range range{};
    for (int32_t i = entries.first; i <= entries.last; ++i) {
        if (!assembly.going(i - entries.first, int64_t{entries.last} - entries.first + 1)) return -1;
        const SourceStream* src = editor.app.usableSource(list.source[i]);
        const bool usable = src && list.firstPacket[i] >= 0 && list.firstPacket[i] < list.endPacket[i]
            && list.endPacket[i] <= src->pktCount;
        if (!usable) {
            if (open) assembly.add(range);
            open = false;
            continue;
        }
        if (open && range.source == list.source[i] && range.end == list.firstPacket[i]) {
            range.end = list.endPacket[i];
            continue;
        }
        if (open) assembly.add(range);
        range = Range{list.source[i], i, list.firstPacket[i], list.endPacket[i]};
        open = true;
    }
    if (open) assembly.add(range);
    assembly.going(1, 1);
    return 1;
}

bool assembleForSave(CutEditor& editor, int selectionOnly, CleanJoinPlan& plan, const platform::OperationContext* op)
{
    plan.clear();
    if (editor.app.settings.assCleanJoins != 1) {
        assembleNewStream(editor, selectionOnly);
        return false;
    }
    assembleCleanJoins(editor, selectionOnly, plan, op);
    return true;
}
