#pragma once
// The one reader of the video's pictures: finds the start codes of the MPEG-2
// elementary stream carried in a recording's video packets and parses the headers
// that matter for cutting (sequence, GOP, picture and their extensions).
//
// Two ways to read. Packet by packet (`forEachHeaderInBlock`), as the scanner does:
// only start codes that lie wholly inside one packet's bytes count. And as a stream
// (`VideoPictures::read`): the video packets of a stretch of the file are joined
// and cut into pictures, each with the headers in front of it, the packet and byte
// where it begins and the sequence and GOP in force; the viewer decodes from that
// and a writer can leave pictures out or replace them.
#include "source/PacketWalker.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr uint8_t pictureStartCode = 0x00;
inline constexpr uint8_t sequenceHeaderCode = 0xB3;
inline constexpr uint8_t extensionStartCode = 0xB5;
inline constexpr uint8_t gopStartCode = 0xB8;

inline constexpr uint8_t pictureTypeI = 1;
inline constexpr uint8_t pictureTypeP = 2;
inline constexpr uint8_t pictureTypeB = 3;

// Calls found(p), in order, for each p < end where data[p .. p+2] are 00 00 01.
// Reads data[0 .. end+2] only, so the code byte data[p+3] is always there.
template <class Found>
inline void forEachStartCode(const uint8_t* data, uint32_t end, Found&& found)
{
    auto examine = [&](uint32_t p) {
        if (data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1) found(p);
    };
    uint32_t p = 0;
#if defined(__SSE2__)
    // Sixteen positions at a time, looking for the whole 00 00 01 prefix so that
    // runs of stuffing zeros cost no more than coded data. Position p + 15 reads its
    // prefix up to p + 17 <= end + 1.
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    for (; end >= 16 && p <= end - 16; p += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 2));
        const __m128i prefix = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, b), zero), _mm_cmpeq_epi8(c, one));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(prefix));
        while (mask != 0) {
            found(p + static_cast<uint32_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
#endif
    // Eight positions at a time: a start code needs two zero bytes in a row, and such
    // pairs are rare in coded pictures, so most words are passed over whole. The
    // pair partner of p + 7 is p + 8 <= end.
    constexpr uint64_t ones = 0x0101010101010101ull;
    constexpr uint64_t highs = 0x8080808080808080ull;
    for (; end >= 8 && p <= end - 8; p += 8) {
        uint64_t a, b;
        std::memcpy(&a, data + p, 8);
        std::memcpy(&b, data + p + 1, 8);
        const uint64_t x = a | b;
        if (((x - ones) & ~x & highs) == 0) continue;
        for (uint32_t q = p; q < p + 8; ++q) examine(q);
    }
    for (; p < end; ++p) examine(p);
}

// The fields of a picture header (its start code at h[0 .. 3], h[4] and h[5] there).
struct PictureHeader {
    uint8_t codingType = 0;          // 1 I, 2 P, 3 B; anything else is damage
    uint16_t temporalReference = 0;
};
inline PictureHeader parsePictureHeader(const uint8_t* h)
{
    return {static_cast<uint8_t>((h[5] >> 3) & 0x07), static_cast<uint16_t>((h[4] << 2) | (h[5] >> 6))};
}

// A GOP header's word (the four bytes after its start code, big-endian).
struct GopHeader {
    uint32_t word = 0;
    uint32_t timeCode() const { return word >> 7; }   // drop flag, hh, mm, marker, ss, pictures
    bool closedGop() const { return (word >> 6) & 1; }
    bool brokenLink() const { return (word >> 5) & 1; }
};
inline GopHeader parseGopHeader(const uint8_t* h)
{
    return {(static_cast<uint32_t>(h[4]) << 24) | (static_cast<uint32_t>(h[5]) << 16)
            | (static_cast<uint32_t>(h[6]) << 8) | static_cast<uint32_t>(h[7])};
}

// Packet by packet: the GOP and picture headers whose start codes lie in
// data[0 .. length-1] at positions 0 .. length-7, a GOP header only with its whole
// word inside. Calls gop(p, header) and picture(p, header) in stream order.
template <class OnGop, class OnPicture>
inline void forEachHeaderInBlock(const uint8_t* data, uint32_t length, OnGop&& gop, OnPicture&& picture)
{
    if (length <= 6 || !data) return;
    forEachStartCode(data, length - 6, [&](uint32_t p) {
        const uint8_t code = data[p + 3];
        if (code == gopStartCode && p + 7 < length)
            gop(p, parseGopHeader(data + p));
        else if (code == pictureStartCode)
            picture(p, parsePictureHeader(data + p));
    });
}

struct Fraction {
    int32_t num = 1, den = 1;
};

// A frame_rate_code as pictures per second; 25 for a reserved code.
inline Fraction frameRateOfCode(int code)
{
    static constexpr Fraction rates[] = {{25, 1}, {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                                         {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};
    return code >= 1 && code <= 8 ? rates[code] : Fraction{25, 1};
}

// The sample aspect ratio that aspect_ratio_information gives pictures of width x
// height, reduced; 1:1 for square samples or a reserved code.
inline Fraction sampleAspectOf(uint8_t aspectRatio, uint32_t width, uint32_t height)
{
    static constexpr Fraction display[] = {{4, 3}, {16, 9}, {221, 100}};
    if (aspectRatio < 2 || aspectRatio > 4) return {};
    const Fraction d = display[aspectRatio - 2];
    if (!width || !height) return d;
    const int64_t num = int64_t{d.num} * height, den = int64_t{d.den} * width;
    const int64_t g = std::gcd(num, den);
    return {static_cast<int32_t>(num / g), static_cast<int32_t>(den / g)};
}

// A sequence header with the extensions that follow it.
struct VideoSequence {
    size_t at = 0;                   // offset in the joined stream
    uint16_t width = 0, height = 0;  // horizontal and vertical size, with the extension's high bits
    uint8_t aspectRatio = 0;         // aspect_ratio_information
    uint8_t frameRate = 0;           // frame_rate_code
    uint32_t bitRate = 0;            // in units of 400 bit/s, with the extension's high bits
    uint32_t vbvBufferSize = 0;      // in units of 16 kbit, with the extension's high bits
    bool hasExtension = false;       // a sequence extension follows (MPEG-2, not MPEG-1)
    uint8_t profileLevel = 0;
    bool progressiveSequence = false;
    uint8_t chromaFormat = 0;        // 1 4:2:0, 2 4:2:2, 3 4:4:4
    bool hasDisplayExtension = false;
    uint16_t displayWidth = 0, displayHeight = 0;
};

struct VideoGop {
    size_t at = 0;                   // offset in the joined stream
    GopHeader header;
};

// One coded frame: a frame picture, or the two field pictures of a frame.
struct VideoPicture {
    size_t begin = 0;                // joined-stream offset of its first header: sequence, GOP or picture
    size_t picture = 0;              // joined-stream offset of the (first) picture start code
    size_t end = 0;                  // where the next picture's headers begin
    uint64_t beginPacket = 0;        // file offset of the video packet `begin` lies in
    uint32_t beginInPacket = 0;      // `begin` as a byte offset from that packet's first byte
    uint64_t packet = 0;             // file offset of the packet holding the picture start code's code byte
    uint8_t codingType = 0;          // 1 I, 2 P, 3 B, 0 when the header is cut off
    uint16_t temporalReference = 0;
    uint8_t fields = 0;              // field pictures in it, 0 for a frame picture
    bool sequenceHeader = false;     // a sequence header is among its headers
    bool gopHeader = false;          // a GOP header is among its headers
    int32_t sequence = -1;           // index in sequences() of the sequence in force, -1 before any
    int32_t gop = -1;                // index in gops() of the GOP it belongs to, -1 before any
};

// A video packet as it went into the joined stream.
struct VideoPacket {
    uint64_t offset = 0;             // file offset of its header
    size_t streamBegin = 0;          // where its bytes begin in the joined stream
    uint32_t payloadSkip = 0;        // payload bytes in front of the stream bytes (time stamp, stuffing)
    bool hasPts = false;
    uint32_t pts = 0;
};

class VideoPictures {
public:
    // Joins the video packets met walking `packets` from `from` to the end of its
    // bytes and cuts the stream into pictures. Bytes in front of the first header
    // belong to a picture that began before and are left out. Work and memory are
    // linear in the bytes.
    void read(const PacketWalker& packets, uint64_t from);
    // The same for a bare elementary stream: data[0 .. size-1] are its bytes, and
    // packets() stays empty.
    void readElementary(const uint8_t* data, size_t size);
    // The same over `bytes`, taken over without a copy; releaseStream() gives them back.
    void readElementary(std::vector<uint8_t>&& bytes);
    std::vector<uint8_t> releaseStream() { return std::move(stream_); }

    const std::vector<uint8_t>& stream() const { return stream_; }
    const std::vector<VideoPacket>& packets() const { return packets_; }
    const std::vector<VideoPicture>& pictures() const { return pictures_; }
    const std::vector<VideoSequence>& sequences() const { return sequences_; }
    const std::vector<VideoGop>& gops() const { return gops_; }
    // The last picture runs to the end of the bytes and may go on beyond them.
    bool lastOpen() const { return lastOpen_; }
    // The packet that joined-stream offset `at` came from, or packets().size().
    size_t packetOf(size_t at) const;
    // packets() index of the video packet whose header is at file offset `offset`, or packets().size().
    size_t packetAt(uint64_t offset) const;

private:
    void cut();

    // Kept between reads: fresh memory for every read costs more than the reading.
    std::vector<uint8_t> stream_;
    std::vector<VideoPacket> packets_;
    std::vector<VideoPicture> pictures_;
    std::vector<VideoSequence> sequences_;
    std::vector<VideoGop> gops_;
    bool lastOpen_ = false;
};
