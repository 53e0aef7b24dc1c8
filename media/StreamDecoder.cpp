#include "media/StreamDecoder.h"
#include "media/Mpeg2Codec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>

namespace media {

namespace {

// A 64-bit digest over the samples of each row, eight bytes at a time: fast enough
// to be lost beside the decoding, and a changed sample changes it.
uint64_t digestFrame(const AVFrame* f)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(f->width) << 32) ^ static_cast<uint64_t>(f->height);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    const int chromaW = d ? d->log2_chroma_w : 1;
    const int chromaH = d ? d->log2_chroma_h : 1;
    for (int plane = 0; plane < 3 && f->data[plane]; ++plane) {
        const int w = plane == 0 ? f->width : (f->width + (1 << chromaW) - 1) >> chromaW;
        const int rows = plane == 0 ? f->height : (f->height + (1 << chromaH) - 1) >> chromaH;
        for (int y = 0; y < rows; ++y) {
            const uint8_t* p = f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane];
            int x = 0;
            for (; x + 8 <= w; x += 8) {
                uint64_t v;
                std::memcpy(&v, p + x, 8);
                h = (h ^ v) * 0x100000001B3ull;
                h ^= h >> 29;
            }
            for (; x < w; ++x) h = (h ^ p[x]) * 0x100000001B3ull;
        }
    }
    return h;
}

} // namespace

StreamDecoder::StreamDecoder()
{
    // One thread: a check is measured against a plain decode on one core, and the
    // pictures come back at once, in order.
    context_ = openMpeg2Decoder(0, 1);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
}

StreamDecoder::~StreamDecoder()
{
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
}

void StreamDecoder::collect(std::vector<DecodedPicture>& out)
{
    while (avcodec_receive_frame(context_, frame_) == 0) {
        DecodedPicture p;
        p.tag = frame_->pts;
        p.digest = digestFrame(frame_);
        p.damaged = frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0;
        out.push_back(p);
        av_frame_unref(frame_);
    }
}

bool StreamDecoder::send(const uint8_t* data, size_t size, int64_t tag, std::vector<DecodedPicture>& out)
{
    if (!available() || size == 0 || size > INT32_MAX) return false;
    if (av_new_packet(packet_, static_cast<int>(size)) < 0) return false;
    std::memcpy(packet_->data, data, size);
    packet_->pts = tag;
    packet_->dts = AV_NOPTS_VALUE;
    int rc = avcodec_send_packet(context_, packet_);
    if (rc == AVERROR(EAGAIN)) {
        collect(out);
        rc = avcodec_send_packet(context_, packet_);
    }
    av_packet_unref(packet_);
    collect(out);
    return rc >= 0;
}

void StreamDecoder::finish(std::vector<DecodedPicture>& out)
{
    if (!available()) return;
    avcodec_send_packet(context_, nullptr);
    collect(out);
    avcodec_flush_buffers(context_);
}

} // namespace media
