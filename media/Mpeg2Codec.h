#pragma once
// Opening libavcodec's MPEG-2 decoder the one way both decoders of this folder want it.
#include "media/PictureDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <cstring>

namespace media {

// The MPEG-2 decoder opened with these threads, its own log quiet (damage is reported
// by the caller; the decoder's remarks would only flood stderr), refusing pictures
// larger than a broadcast's before any frame memory is taken; null when it can't be.
inline AVCodecContext* openMpeg2Decoder(int threadType, int threadCount)
{
    av_log_set_level(AV_LOG_FATAL);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
    if (!codec) return nullptr;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    if (!context) return nullptr;
    if (threadType) context->thread_type = threadType;
    context->thread_count = threadCount;
    context->max_pixels = PictureDecoder::maxPixels;
    if (avcodec_open2(context, codec, nullptr) < 0) avcodec_free_context(&context);
    return context;
}

// Feeds one coded picture tagged `pts`; `collect` takes the pictures the decoder gives
// back, also when it needs them taken before it accepts this one. False when the
// picture could not be given to it (no memory, or the decoder refused it).
template <class Collect>
inline bool sendCodedPicture(AVCodecContext* context, AVPacket* packet, const uint8_t* data, size_t size, int64_t pts,
                             Collect&& collect)
{
    if (size == 0 || size > INT32_MAX || av_new_packet(packet, static_cast<int>(size)) < 0) return false;
    std::memcpy(packet->data, data, size);
    packet->pts = pts;
    int rc = avcodec_send_packet(context, packet);
    if (rc == AVERROR(EAGAIN)) {
        collect();
        rc = avcodec_send_packet(context, packet);
    }
    av_packet_unref(packet);
    collect();
    return rc >= 0;
}

} // namespace media
