#include "media/PictureDecoder.h"
#include "media/Mpeg2Codec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstring>

namespace media {

PictureSize displaySize(int width, int height, int sarNum, int sarDen)
{
    if (sarNum <= 0 || sarDen <= 0) return {width, height};
    const long long w = (static_cast<long long>(width) * sarNum + sarDen / 2) / sarDen;
    // A ratio far outside what television uses is a damaged header: keep the coded size.
    if (w < width / 4 || w > static_cast<long long>(width) * 4) return {width, height};
    return {static_cast<int>(w), height};
}

PictureDecoder::PictureDecoder()
{
    // Slices decode in parallel without delaying the output, which frame threads would.
    context_ = openMpeg2Decoder(FF_THREAD_SLICE, 0);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    wanted_ = av_frame_alloc();
}

PictureDecoder::~PictureDecoder()
{
    sws_freeContext(scaler_);
    av_frame_free(&wanted_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
}

bool PictureDecoder::decode(std::span<const CodedPicture> pictures, size_t target, uint64_t position,
                            RgbPicture& picture, std::string& error, const std::function<bool()>& stop)
{
    if (!context_ || !packet_ || !frame_ || !wanted_) {
        error = "The MPEG-2 decoder is not available";
        return false;
    }
    avcodec_flush_buffers(context_);
    av_frame_unref(wanted_);
    bool found = false;
    // Each picture carries its index as time stamp; the decoder hands it back in
    // display order, which picks out the target among its neighbours.
    auto collect = [&]() {
        while (avcodec_receive_frame(context_, frame_) == 0) {
            if (!found && frame_->pts == static_cast<int64_t>(target)) {
                av_frame_move_ref(wanted_, frame_);
                found = true;
            }
            av_frame_unref(frame_);
        }
    };
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (stop && stop()) {
            error = "Cancelled";
            return false;
        }
        const CodedPicture& coded = pictures[i];
        // A damaged picture is skipped; the decoder conceals what it can in the next ones.
        sendCodedPicture(context_, packet_, coded.data, coded.size, static_cast<int64_t>(i), collect);
    }
    avcodec_send_packet(context_, nullptr);
    collect();
    avcodec_flush_buffers(context_);
    if (!found) {
        char buffer[160];
        std::snprintf(buffer, sizeof buffer, "The picture at position %llu could not be decoded",
                      static_cast<unsigned long long>(position));
        error = buffer;
        return false;
    }
    const bool ok = convert(wanted_, picture, error);
    av_frame_unref(wanted_);
    return ok;
}

bool PictureDecoder::convert(const AVFrame* f, RgbPicture& picture, std::string& error)
{
    const PictureSize size = displaySize(f->width, f->height, f->sample_aspect_ratio.num, f->sample_aspect_ratio.den);
    // Each chroma sample colours the pixels it covers, computed in full precision; a
    // picture widened or narrowed to its aspect ratio is interpolated smoothly.
    const bool sameSize = size.width == f->width && size.height == f->height;
    const int flags = (sameSize ? SWS_POINT : SWS_BICUBIC) | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    scaler_ = sws_getCachedContext(scaler_, f->width, f->height, static_cast<AVPixelFormat>(f->format), size.width,
                                   size.height, AV_PIX_FMT_RGB32, flags, nullptr, nullptr, nullptr);
    if (!scaler_ || size.width <= 0 || size.height <= 0) {
        error = "Cannot convert the picture";
        return false;
    }
    picture.width = size.width;
    picture.height = size.height;
    picture.stride = size.width * 4;
    picture.pixels.assign(static_cast<size_t>(picture.stride) * static_cast<size_t>(size.height), 0);
    uint8_t* dst[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {picture.stride, 0, 0, 0};
    sws_scale(scaler_, f->data, f->linesize, 0, f->height, dst, dstStride);
    return true;
}

} // namespace media
