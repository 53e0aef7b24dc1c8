#include "media/PictureRecoder.h"
#include "media/Mpeg2Codec.h"
#include "source/VideoPictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/rational.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace media {

namespace {

// The scan order a sequence header carries its matrices in.
constexpr uint8_t zigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

uint16_t* naturalMatrix(const uint8_t* scanOrder)
{
    auto* m = static_cast<uint16_t*>(av_malloc(64 * sizeof(uint16_t)));
    if (m)
        for (int i = 0; i < 64; ++i) m[zigzag[i]] = scanOrder[i];
    return m;
}

AVRational frameRate(int code)
{
    const Fraction r = frameRateOfCode(code);
    return AVRational{r.num, r.den};
}

AVRational sampleAspect(const RecodeFormat& f)
{
    const Fraction r = sampleAspectOf(f.aspectRatio, f.width, f.height);
    return {r.num, r.den};
}

struct Frames {
    std::vector<AVFrame*> frames;
    ~Frames()
    {
        for (AVFrame*& f : frames) av_frame_free(&f);
    }
};

// The wanted pictures, decoded, in display order.
bool decodeWanted(std::span<const CodedPicture> feed, std::span<const int64_t> tags, std::span<const int64_t> wanted,
                  Frames& out, std::string& error)
{
    AVCodecContext* dec = openMpeg2Decoder(0, 1);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::map<int64_t, size_t> slot;
    for (size_t k = 0; k < wanted.size(); ++k) slot[wanted[k]] = k;
    out.frames.assign(wanted.size(), nullptr);
    bool ok = dec && pkt && frame;
    auto collect = [&] {
        while (avcodec_receive_frame(dec, frame) == 0) {
            auto it = slot.find(frame->pts);
            if (it != slot.end() && !out.frames[it->second]) {
                out.frames[it->second] = av_frame_clone(frame);
                if (!out.frames[it->second]) ok = false;
            }
            av_frame_unref(frame);
        }
    };
    // A damaged picture is skipped as a player would; a wanted one it leaves undecoded is said below.
    for (size_t k = 0; ok && k < feed.size(); ++k) sendCodedPicture(dec, pkt, feed[k].data, feed[k].size, tags[k], collect);
    if (dec) {
        avcodec_send_packet(dec, nullptr);
        collect();
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    if (!ok) {
        error = "the decoder failed";
        return false;
    }
    for (size_t k = 0; k < out.frames.size(); ++k)
        if (!out.frames[k]) {
            error = "picture " + std::to_string(wanted[k]) + " was not decoded";
            return false;
        }
    return true;
}

bool encodeAt(const Frames& frames, const RecodeFormat& f, int q, RecodeResult& result, std::string& error)
{
    result.pictures.clear();
    result.bytes = 0;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    AVCodecContext* enc = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!enc) {
        error = "no MPEG-2 encoder";
        return false;
    }
    const AVFrame* first = frames.frames.front();
    enc->width = f.width;
    enc->height = f.height;
    enc->pix_fmt = static_cast<AVPixelFormat>(first->format);
    enc->sample_aspect_ratio = sampleAspect(f);
    enc->framerate = frameRate(f.frameRateCode);
    enc->time_base = av_inv_q(enc->framerate);
    const int n = static_cast<int>(frames.frames.size());
    enc->gop_size = n + 1;
    enc->max_b_frames = std::max(0, std::min(f.bFrames, n - 1));
    enc->flags |= AV_CODEC_FLAG_CLOSED_GOP | AV_CODEC_FLAG_QSCALE;
    enc->global_quality = q * FF_QP2LAMBDA;
    enc->qmin = enc->qmax = q;
    enc->thread_count = 1;
    if (f.maxRate > 0) enc->rc_max_rate = f.maxRate;
    if (f.bufferBits > 0) enc->rc_buffer_size = static_cast<int>(std::min<int64_t>(f.bufferBits, INT32_MAX));
    if (f.interlaced) {
        enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        enc->field_order = first->top_field_first ? AV_FIELD_TT : AV_FIELD_BB;
    }
    if (f.hasIntraMatrix) enc->intra_matrix = naturalMatrix(f.intraMatrix);
    if (f.hasNonIntraMatrix) enc->inter_matrix = naturalMatrix(f.nonIntraMatrix);
    av_opt_set_int(enc->priv_data, "sc_threshold", 1000000000, 0);
    // The encoder takes its first time code only as text (its number option is overwritten).
    {
        const int fps = (enc->framerate.num + enc->framerate.den / 2) / enc->framerate.den;
        const int64_t t = f.timeCodePictures % (int64_t{24} * 3600 * fps);
        char text[32];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", static_cast<int>(t / (3600 * fps)),
                      static_cast<int>(t / (60 * fps) % 60), static_cast<int>(t / fps % 60), static_cast<int>(t % fps));
        av_opt_set(enc->priv_data, "gop_timecode", text, 0);
    }
    if (avcodec_open2(enc, codec, nullptr) < 0) {
        avcodec_free_context(&enc);
        error = "the MPEG-2 encoder refused the stream's format";
        return false;
    }
    AVPacket* pkt = av_packet_alloc();
    bool ok = pkt != nullptr;
    auto drain = [&] {
        while (ok && avcodec_receive_packet(enc, pkt) == 0) {
            RecodedPicture p;
            p.bytes.assign(pkt->data, pkt->data + pkt->size);
            p.displayIndex = static_cast<int>(pkt->pts);
            // The picture header's coding type: the first picture start code.
            for (size_t k = 0; k + 5 < p.bytes.size(); ++k)
                if (p.bytes[k] == 0 && p.bytes[k + 1] == 0 && p.bytes[k + 2] == 1 && p.bytes[k + 3] == 0) {
                    p.codingType = static_cast<uint8_t>((p.bytes[k + 5] >> 3) & 7);
                    break;
                }
            result.bytes += p.bytes.size();
            result.pictures.push_back(std::move(p));
            av_packet_unref(pkt);
        }
    };
    for (int k = 0; ok && k < n; ++k) {
        AVFrame* fr = av_frame_clone(frames.frames[static_cast<size_t>(k)]);
        if (!fr) {
            ok = false;
            break;
        }
        fr->pts = k;
        fr->pict_type = AV_PICTURE_TYPE_NONE;
        fr->quality = q * FF_QP2LAMBDA;
        if (avcodec_send_frame(enc, fr) < 0) ok = false;
        av_frame_free(&fr);
        drain();
    }
    if (ok && avcodec_send_frame(enc, nullptr) >= 0) drain();
    av_packet_free(&pkt);
    avcodec_free_context(&enc);
    if (!ok || static_cast<int>(result.pictures.size()) != n) {
        error = "the MPEG-2 encoder failed";
        return false;
    }
    return true;
}

} // namespace

bool bufferUnderflows(std::span<const size_t> pictureBytes, int64_t maxRate, int64_t bufferBits, int frameRateCode)
{
    if (maxRate <= 0 || bufferBits <= 0) return false;
    const AVRational rate = frameRate(frameRateCode);
    const double perPicture = static_cast<double>(maxRate) * rate.den / rate.num;
    double fullness = static_cast<double>(bufferBits);
    for (size_t bytes : pictureBytes) {
        const double bits = 8.0 * static_cast<double>(bytes);
        if (bits > fullness) return true;
        fullness = std::min(static_cast<double>(bufferBits), fullness - bits + perPicture);
    }
    return false;
}

bool recodePictures(std::span<const CodedPicture> feed, std::span<const int64_t> tags, std::span<const int64_t> wanted,
                    const RecodeFormat& format, size_t budgetBytes, RecodeResult& result, std::string& error)
{
    result = RecodeResult{};
    if (wanted.empty()) return true;
    if (feed.size() != tags.size()) {
        error = "pictures and tags differ";
        return false;
    }
    Frames frames;
    if (!decodeWanted(feed, tags, wanted, frames, error)) return false;

    auto judge = [&](RecodeResult& r) {
        std::vector<size_t> sizes;
        for (const RecodedPicture& p : r.pictures) sizes.push_back(p.bytes.size());
        r.underflow = bufferUnderflows(sizes, format.maxRate, format.bufferBits, format.frameRateCode);
        r.fits = r.bytes <= budgetBytes && !r.underflow;
    };
    // Bytes go roughly with the inverse of the quantiser: start at 4, step towards the
    // budget from what each try took, and keep the finest that fits.
    RecodeResult best, last;
    int q = 4;
    int tries = 0;
    int lowestFailing = 0;
    while (tries < 6) {
        RecodeResult r;
        if (!encodeAt(frames, format, q, r, error)) return false;
        ++tries;
        r.quantiser = q;
        judge(r);
        if (r.fits) {
            if (!best.fits || q < best.quantiser) best = std::move(r);
            if (q <= 2 || q - 1 <= lowestFailing) break;
            const double ratio = static_cast<double>(best.bytes) / static_cast<double>(std::max<size_t>(budgetBytes, 1));
            if (ratio > 0.8) {
                --q;
                if (q <= lowestFailing) break;
            } else {
                q = std::max(std::max(2, lowestFailing + 1), static_cast<int>(std::floor(q * ratio * 1.1)));
            }
            if (q >= best.quantiser) break;
        } else {
            lowestFailing = std::max(lowestFailing, q);
            const double ratio = static_cast<double>(r.bytes) / static_cast<double>(std::max<size_t>(budgetBytes, 1));
            last = std::move(r);
            if (q >= 31) break;
            int next = static_cast<int>(std::ceil(q * std::max(ratio, 1.0) * 1.05));
            next = std::min(31, std::max(q + 1, next));
            if (best.fits && next >= best.quantiser) break;
            q = next;
        }
    }
    if (!best.fits) best = std::move(last);
    best.tries = tries;
    result = std::move(best);
    return true;
}

} // namespace media
