#pragma once
// MPEG-2 decoding with libavcodec and the conversion to an RGB picture at the size
// a television shows it.
#include "viewer/PvaVideo.h"

#include <QImage>

#include <atomic>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace viewer {

class PictureDecoder {
public:
    PictureDecoder();
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Decodes the plan's units and returns its target picture, converted to RGB and
    // widened or narrowed to its display aspect ratio. Damaged units are decoded as
    // far as the decoder can; `cancel` is looked at between units.
    bool decode(const DecodePlan& plan, QImage& picture, std::string& error,
                const std::atomic<bool>* cancel = nullptr);

private:
    bool convert(const AVFrame* frame, QImage& picture, std::string& error);

    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* wanted_ = nullptr;
    SwsContext* scaler_ = nullptr;
};

// The display size of a coded picture with the given sample aspect ratio.
QSize displaySize(int width, int height, int sarNum, int sarDen);

} // namespace viewer
