#include "source/VideoPictures.h"

#include <algorithm>

namespace {

constexpr uint8_t sequenceExtensionId = 1;
constexpr uint8_t sequenceDisplayExtensionId = 2;
constexpr uint8_t pictureCodingExtensionId = 8;
constexpr uint8_t pictureStructureFrame = 3;

// Reads bits from d[0 .. n-1]; past the end it gives zeros.
class Bits {
public:
    Bits(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    uint32_t take(int count)
    {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i, ++bit_) {
            const size_t byte = bit_ / 8;
            const uint32_t b = byte < n_ ? (d_[byte] >> (7 - bit_ % 8)) & 1 : 0;
            v = (v << 1) | b;
        }
        return v;
    }

private:
    const uint8_t* d_;
    size_t n_;
    size_t bit_ = 0;
};

void parseSequenceHeader(const uint8_t* h, VideoSequence& s)
{
    Bits b(h + 4, 8);
    s.width = static_cast<uint16_t>(b.take(12));
    s.height = static_cast<uint16_t>(b.take(12));
    s.aspectRatio = static_cast<uint8_t>(b.take(4));
    s.frameRate = static_cast<uint8_t>(b.take(4));
    s.bitRate = b.take(18);
    b.take(1);
    s.vbvBufferSize = b.take(10);
}

void parseSequenceExtension(const uint8_t* h, VideoSequence& s)
{
    Bits b(h + 4, 6);
    b.take(4);
    s.hasExtension = true;
    s.profileLevel = static_cast<uint8_t>(b.take(8));
    s.progressiveSequence = b.take(1) != 0;
    s.chromaFormat = static_cast<uint8_t>(b.take(2));
    s.width = static_cast<uint16_t>((s.width & 0x0FFF) | (b.take(2) << 12));
    s.height = static_cast<uint16_t>((s.height & 0x0FFF) | (b.take(2) << 12));
    s.bitRate = (s.bitRate & 0x3FFFF) | (b.take(12) << 18);
    b.take(1);
    s.vbvBufferSize = (s.vbvBufferSize & 0x3FF) | (b.take(8) << 10);
}

void parseDisplayExtension(const uint8_t* h, size_t n, VideoSequence& s)
{
    Bits b(h + 4, n);
    b.take(4);
    b.take(3);
    if (b.take(1)) b.take(24);
    s.hasDisplayExtension = true;
    s.displayWidth = static_cast<uint16_t>(b.take(14));
    b.take(1);
    s.displayHeight = static_cast<uint16_t>(b.take(14));
}

} // namespace

void VideoPictures::read(const PacketWalker& walker, uint64_t from)
{
    stream_.clear();
    packets_.clear();
    walker.walk(from, walker.end(), [&](uint64_t at, const PvaPacketHeader& h) {
        if (h.streamId != pvaStreamVideo) return;
        const uint64_t payload = at + pvaHeaderSize;
        const uint64_t have = std::min<uint64_t>(h.length, walker.end() > payload ? walker.end() - payload : 0);
        VideoPacket p;
        p.offset = at;
        p.streamBegin = stream_.size();
        p.hasPts = (h.flags & pvaFlagPts) && have >= 4;
        p.pts = p.hasPts ? readVideoPts(walker.at(payload)) : 0;
        p.payloadSkip = (h.flags & 3u) + ((h.flags & pvaFlagPts) ? 4u : 0u);
        packets_.push_back(p);
        if (p.payloadSkip < have) stream_.insert(stream_.end(), walker.at(payload + p.payloadSkip), walker.at(payload + have));
    });
    cut();
}

void VideoPictures::readElementary(const uint8_t* data, size_t size)
{
    stream_.assign(data, data + size);
    packets_.clear();
    cut();
}

void VideoPictures::readElementary(std::vector<uint8_t>&& bytes)
{
    stream_ = std::move(bytes);
    packets_.clear();
    cut();
}

size_t VideoPictures::packetOf(size_t at) const
{
    auto it = std::upper_bound(packets_.begin(), packets_.end(), at,
                               [](size_t v, const VideoPacket& p) { return v < p.streamBegin; });
    return it == packets_.begin() ? packets_.size() : static_cast<size_t>(it - 1 - packets_.begin());
}

size_t VideoPictures::packetAt(uint64_t offset) const
{
    auto it = std::lower_bound(packets_.begin(), packets_.end(), offset,
                               [](const VideoPacket& p, uint64_t v) { return p.offset < v; });
    return it != packets_.end() && it->offset == offset ? static_cast<size_t>(it - packets_.begin()) : packets_.size();
}

// Each picture takes the sequence and GOP headers in front of it. A frame coded as
// two field pictures is one picture here, as a decoder is fed it.
void VideoPictures::cut()
{
    pictures_.clear();
    sequences_.clear();
    gops_.clear();
    lastOpen_ = false;
    const uint8_t* d = stream_.data();
    const size_t n = stream_.size();
    VideoPicture current;
    bool open = false, hasPicture = false, awaitsSecondField = false;
    bool inSequenceHeaders = false;   // extensions here belong to the last sequence header
    auto close = [&](size_t end) {
        current.end = end;
        const size_t b = packetOf(current.begin);
        if (b < packets_.size()) {
            current.beginPacket = packets_[b].offset;
            current.beginInPacket = static_cast<uint32_t>(current.begin - packets_[b].streamBegin + pvaHeaderSize
                                                          + packets_[b].payloadSkip);
        }
        const size_t p = packetOf(current.picture + 3);
        if (p < packets_.size()) current.packet = packets_[p].offset;
        pictures_.push_back(current);
    };
    // A start code found within the four bytes of the one before it is no start code
    // (00 00 01 00 00 01 is read once).
    size_t nextAllowed = 0;
    if (n < 4) return;
    forEachStartCode(d, static_cast<uint32_t>(std::min<size_t>(n - 3, UINT32_MAX - 3)), [&](uint32_t p) {
        const size_t s = p;
        if (s < nextAllowed) return;
        nextAllowed = s + 4;
        const uint8_t code = d[s + 3];
        if (code == extensionStartCode) {
            const uint8_t id = s + 4 < n ? d[s + 4] >> 4 : 0;
            if (id == pictureCodingExtensionId && open && hasPicture && s + 6 < n) {
                const int structure = d[s + 6] & 3;
                if (structure != pictureStructureFrame && structure != 0) awaitsSecondField = ++current.fields == 1;
            } else if (inSequenceHeaders && !sequences_.empty()) {
                if (id == sequenceExtensionId && s + 9 < n) parseSequenceExtension(d + s, sequences_.back());
                if (id == sequenceDisplayExtensionId && s + 6 < n) parseDisplayExtension(d + s, n - s - 4, sequences_.back());
            }
            return;
        }
        if (code != sequenceHeaderCode && code != gopStartCode && code != pictureStartCode) return;
        if (code == pictureStartCode && open && awaitsSecondField) {
            awaitsSecondField = false;
            return;
        }
        if (open && hasPicture) {
            close(s);
            open = false;
        }
        if (!open) {
            current = VideoPicture{};
            current.begin = s;
            current.sequence = static_cast<int32_t>(sequences_.size()) - 1;
            current.gop = static_cast<int32_t>(gops_.size()) - 1;
            open = true;
            hasPicture = false;
            awaitsSecondField = false;
        }
        inSequenceHeaders = code == sequenceHeaderCode;
        if (code == sequenceHeaderCode) {
            VideoSequence sequence;
            sequence.at = s;
            if (s + 11 < n) parseSequenceHeader(d + s, sequence);
            sequences_.push_back(sequence);
            current.sequenceHeader = true;
            current.sequence = static_cast<int32_t>(sequences_.size()) - 1;
        } else if (code == gopStartCode) {
            VideoGop gop;
            gop.at = s;
            if (s + 7 < n) gop.header = parseGopHeader(d + s);
            gops_.push_back(gop);
            current.gopHeader = true;
            current.gop = static_cast<int32_t>(gops_.size()) - 1;
        } else {
            hasPicture = true;
            current.picture = s;
            if (s + 5 < n) {
                const PictureHeader h = parsePictureHeader(d + s);
                current.codingType = h.codingType;
                current.temporalReference = h.temporalReference;
            }
        }
    });
    if (open && hasPicture) {
        close(n);
        lastOpen_ = true;
    }
}
