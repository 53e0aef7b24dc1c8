#pragma once
// MPEG-2 decoding with libavcodec and the conversion to an RGB picture at the size a
// television shows it. No FFmpeg type shows here: callers see bytes and sizes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace media {

// One coded picture with the headers in front of it, as the decoder is fed.
struct CodedPicture {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// 32 bits a pixel, 0xffRRGGBB in host order; each row `stride` bytes.
struct RgbPicture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> pixels;
};

struct PictureSize {
    int width = 0;
    int height = 0;
};

// The display size of a coded picture with the given sample aspect ratio.
PictureSize displaySize(int width, int height, int sarNum, int sarDen);

class PictureDecoder {
public:
    PictureDecoder();
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Decodes the pictures in order and returns the one at index `target`, converted
    // to RGB and widened or narrowed to its display aspect ratio. Damaged pictures are
    // decoded as far as the decoder can; `stop` is asked between pictures. Pictures
    // larger than a broadcast's (maxPixels) are not decoded at all. `position` only
    // goes into the error text.
    bool decode(std::span<const CodedPicture> pictures, size_t target, uint64_t position, RgbPicture& picture,
                std::string& error, const std::function<bool()>& stop = {});

    static constexpr int64_t maxPixels = int64_t{1920} * 1152;

private:
    bool convert(const AVFrame* frame, RgbPicture& picture, std::string& error);

    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* wanted_ = nullptr;
    SwsContext* scaler_ = nullptr;
};

} // namespace media
