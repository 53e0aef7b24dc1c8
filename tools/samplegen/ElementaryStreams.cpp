#include "ElementaryStreams.h"

#include <cstdio>

namespace samplegen {

bool readFileBytes(const std::string& path, std::vector<uint8_t>& out)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool parseVideo(std::vector<uint8_t> bytes, VideoStream& out, std::string& error)
{
    out = VideoStream{};
    out.bytes = std::move(bytes);
    const std::vector<uint8_t>& b = out.bytes;
    const size_t n = b.size();

    // A unit begins at the first sequence or GOP header after the previous picture's
    // data, or at its picture header when none precedes it.
    long pendingStart = -1;
    long pendingGop = -1;
    std::vector<size_t> starts;
    std::vector<long> gopAt;
    for (size_t p = 0; p + 5 < n; ++p) {
        if (b[p] != 0 || b[p + 1] != 0 || b[p + 2] != 1) continue;
        uint8_t code = b[p + 3];
        if (code == 0xB3 || code == 0xB8) {
            if (pendingStart < 0) pendingStart = static_cast<long>(p);
            if (code == 0xB8) {
                if (p + 8 > n) break;
                pendingGop = static_cast<long>(p + 4);
            }
        } else if (code == 0x00) {
            starts.push_back(pendingStart >= 0 ? static_cast<size_t>(pendingStart) : p);
            gopAt.push_back(pendingGop);
            PictureUnit u;
            u.temporalRef = static_cast<uint16_t>((b[p + 4] << 2) | (b[p + 5] >> 6));
            int t = (b[p + 5] >> 3) & 7;
            u.type = t == 1 ? 'I' : t == 2 ? 'P' : t == 3 ? 'B' : '?';
            if (u.type == '?') {
                error = "picture of unknown coding type";
                return false;
            }
            out.pictures.push_back(u);
            pendingStart = pendingGop = -1;
        }
        p += 2;
    }
    if (out.pictures.empty() || starts[0] != 0) {
        error = "video stream does not begin with a picture unit";
        return false;
    }
    long gopStart = 0;
    for (size_t i = 0; i < out.pictures.size(); ++i) {
        PictureUnit& u = out.pictures[i];
        u.offset = starts[i];
        u.size = (i + 1 < starts.size() ? starts[i + 1] : n) - starts[i];
        if (gopAt[i] >= 0) {
            u.gopWordAt = gopAt[i] - static_cast<long>(u.offset);
            out.gopStarts.push_back(i);
            gopStart = static_cast<long>(i);
        }
        long display = gopStart + u.temporalRef;
        out.displayIndex.push_back(display);
        if (static_cast<long>(i) - display > out.reorderDelay) out.reorderDelay = static_cast<long>(i) - display;
    }
    if (out.gopStarts.empty() || out.gopStarts[0] != 0 || out.pictures[0].type != 'I') {
        error = "video stream does not begin with a GOP and an I picture";
        return false;
    }
    return true;
}

bool parseAudio(std::vector<uint8_t> bytes, AudioStream& out, std::string& error)
{
    static const int bitrates[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
    static const int rates[4] = {44100, 48000, 32000, 0};
    out = AudioStream{};
    out.bytes = std::move(bytes);
    const std::vector<uint8_t>& b = out.bytes;
    size_t p = 0;
    while (p + 4 <= b.size()) {
        // MPEG-1 layer II: sync 0xFFF, ID 1, layer '10'.
        if (b[p] != 0xFF || (b[p + 1] & 0xFE) != 0xFC) {
            error = "audio stream is not MPEG-1 layer II at byte " + std::to_string(p);
            return false;
        }
        int kbps = bitrates[b[p + 2] >> 4];
        int rate = rates[(b[p + 2] >> 2) & 3];
        if (kbps == 0 || rate == 0) {
            error = "audio frame with free or bad bit rate";
            return false;
        }
        size_t size = static_cast<size_t>(144 * kbps * 1000 / rate + ((b[p + 2] >> 1) & 1));
        if (p + size > b.size()) break; // a cut-off last frame is left out
        out.frameOffsets.push_back(p);
        out.frameSizes.push_back(size);
        p += size;
    }
    if (out.frameOffsets.empty()) {
        error = "audio stream holds no frame";
        return false;
    }
    return true;
}

uint32_t gopWordWithTimeCode(uint32_t word, uint64_t pictureCount)
{
    uint32_t pictures = static_cast<uint32_t>(pictureCount % 25);
    uint32_t seconds = static_cast<uint32_t>(pictureCount / 25 % 60);
    uint32_t minutes = static_cast<uint32_t>(pictureCount / (25 * 60) % 60);
    uint32_t hours = static_cast<uint32_t>(pictureCount / (25 * 3600) % 24);
    // drop flag 31, hours 30-26, minutes 25-20, marker 19, seconds 18-13, pictures 12-7
    uint32_t keep = word & (0x80000000u | 0x7Fu);
    return keep | hours << 26 | minutes << 20 | 1u << 19 | seconds << 13 | pictures << 7;
}

} // namespace samplegen
