#include "source/AudioFrame.h"

bool parseMpegAudioFrame(const uint8_t* h, size_t left, MpegAudioFrame& out)
{
    if (left < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    const int version = (h[1] >> 3) & 3;   // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int rateIndex = h[2] >> 4, srIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
    if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || srIndex == 3) return false;
    static constexpr int kbit[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static constexpr int rates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int rate = rates[srIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int bitRate = kbit[mpeg1 ? 0 : 1][layer - 1][rateIndex] * 1000;
    if (layer == 1) {
        out.padding = static_cast<uint32_t>(padding * 4);
        out.bytes = static_cast<uint32_t>(12 * bitRate / rate * 4) + out.padding;
        out.samples = 384;
    } else {
        const bool half = layer == 3 && !mpeg1;
        out.padding = static_cast<uint32_t>(padding);
        out.bytes = static_cast<uint32_t>((half ? 72 : 144) * bitRate / rate) + out.padding;
        out.samples = half ? 576 : 1152;
    }
    out.sampleRate = static_cast<uint32_t>(rate);
    return true;
}
