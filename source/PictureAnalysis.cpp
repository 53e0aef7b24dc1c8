#include "source/PictureAnalysis.h"

#include "core/LogConsole.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint8_t gopStartCode = 0xB8;
constexpr uint8_t pictureStartCode = 0x00;

inline bool hasZeroByte(uint64_t x)
{
    constexpr uint64_t ones = 0x0101010101010101ull;
    constexpr uint64_t highs = 0x8080808080808080ull;
    return ((x - ones) & ~x & highs) != 0;
}

} // namespace

int analysePictures(const uint8_t* data, uint32_t length, int32_t& iCount, int32_t& pictureCounter,
                    int32_t& gopCount, uint8_t& pictureType, uint32_t& gopWord, int logMode,
                    LogConsole& log, uint64_t positionBase)
{
    pictureType = 0;
    if (length <= 6 || !data) return 0;
    const bool logging = logMode == 1 || logMode == 2;
    // Start codes are recognised at positions 0 .. length-7; a picture header needs
    // the two bytes after its start code, a GOP header the four of its word.
    const uint32_t end = length - 6;
    auto examine = [&](uint32_t p) {
        if (data[p] != 0 || data[p + 1] != 0 || data[p + 2] != 1) return;
        const uint8_t code = data[p + 3];
        if (code == gopStartCode && p + 7 < length) {
            gopWord = (static_cast<uint32_t>(data[p + 4]) << 24) | (static_cast<uint32_t>(data[p + 5]) << 16)
                | (static_cast<uint32_t>(data[p + 6]) << 8) | static_cast<uint32_t>(data[p + 7]);
            if (logging) {
                log.write(" GOP: ", 1);
                formatTimeCode(gopWord, log);
            }
            ++gopCount;
        } else if (code == pictureStartCode) {
            pictureType = static_cast<uint8_t>((data[p + 5] >> 3) & 0x07);
            if (logging) {
                log.writef(" Fr:%llu: %x %x   ->%x", static_cast<unsigned long long>(positionBase + p),
                           static_cast<unsigned>(data[p + 4]), static_cast<unsigned>(data[p + 5]),
                           static_cast<unsigned>(pictureType));
                if (logMode == 2) log.write("\n", 1);
            }
            if (pictureType == 1) ++iCount;
            ++pictureCounter;
        }
    };

    // Eight positions at a time: a start code needs two zero bytes in a row, and
    // such pairs are rare in coded pictures, so most words are passed over whole.
    // Position p + 7 reads its pair partner at p + 8 < length - 5: inside the block.
    uint32_t p = 0;
#if defined(__SSE2__)
    // Sixteen positions at a time, looking for the whole 00 00 01 prefix so that
    // runs of stuffing zeros cost no more than coded data. Position p + 15 reads
    // its prefix up to p + 17 < length - 4: inside the block.
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    for (; end >= 16 && p <= end - 16; p += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 2));
        const __m128i prefix = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, b), zero), _mm_cmpeq_epi8(c, one));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(prefix));
        while (mask != 0) {
            examine(p + static_cast<uint32_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; end >= 8 && p <= end - 8; p += 8) {
        uint64_t a, b;
        std::memcpy(&a, data + p, 8);
        std::memcpy(&b, data + p + 1, 8);
        if (!hasZeroByte(a | b)) continue;
        for (uint32_t q = p; q < p + 8; ++q) examine(q);
    }
    for (; p < end; ++p) examine(p);
    return 0;
}

int formatTimeCode(uint32_t gopWord, LogConsole& log)
{
    const int hours = static_cast<int>((gopWord >> 26) & 0x1F);
    const int minutes = static_cast<int>((gopWord >> 20) & 0x3F);
    const int seconds = static_cast<int>((gopWord >> 13) & 0x3F);
    const int pictures = static_cast<int>((gopWord >> 7) & 0x3F);
    log.writef(" %02d:%02d:%02d.%02d ", hours, minutes, seconds, pictures);
    return 1;
}
