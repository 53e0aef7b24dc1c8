#include "media/ContainerWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include <climits>
#include <new>
#include <cstring>

namespace media {

namespace {

// The output, written through to the disk, takes pieces of this size, as the PVA
// writer's (the muxers would flush after every pack).
constexpr int ioBufferSize = 4 << 20;
// The mux rate of a DVD's program stream, bit/s.
constexpr int64_t dvdMuxRate = 10080000;
constexpr AVRational ticks90k{1, 90000};
// How far ahead of its decoding the DVD muxer may send a packet, microseconds.
constexpr int64_t dvdDelay = 700000;
// Where a program stream starts whose times can't be kept (90 kHz).
constexpr int64_t dvdStart = 45000;

std::string avError(const char* what, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

} // namespace

const char* containerMuxer(Container c)
{
    switch (c) {
    case Container::ps:
        return "dvd";
    case Container::ts:
        return "mpegts";
    case Container::mkv:
        return "matroska";
    }
    return "mpegts";
}

ContainerWriter::~ContainerWriter() { abandon(); }

int ContainerWriter::writeBytes(void* opaque, uint8_t* buf, int size)
{
    auto* self = static_cast<ContainerWriter*>(opaque);
    if (size <= 0) return 0;
    if (!self->sink_(buf, static_cast<size_t>(size))) return AVERROR(EIO);
    self->position_ += static_cast<uint64_t>(size);
    if (self->position_ > self->end_) self->end_ = self->position_;
    return size;
}

int64_t ContainerWriter::seekBytes(void* opaque, int64_t offset, int whence)
{
    auto* self = static_cast<ContainerWriter*>(opaque);
    if (whence & AVSEEK_SIZE) return static_cast<int64_t>(self->end_);
    int64_t to = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        to = static_cast<int64_t>(self->position_) + offset;
        break;
    case SEEK_END:
        to = static_cast<int64_t>(self->end_) + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (to < 0 || !self->seek_ || !self->seek_(static_cast<uint64_t>(to))) return AVERROR(ESPIPE);
    self->position_ = static_cast<uint64_t>(to);
    return to;
}

bool ContainerWriter::open(Container c, const ContainerVideo& video, const ContainerAudio* audio, int64_t firstTime,
                           Sink sink, Seek seek, std::string& error)
{
    abandon();
    // The muxers' own messages would go to stderr past the console; what fails is
    // reported from the return codes.
    av_log_set_level(AV_LOG_FATAL);
    container_ = c;
    sink_ = std::move(sink);
    seek_ = std::move(seek);
    position_ = end_ = 0;
    chapters_ = 0;
    shift_ = 0;

    int rc = avformat_alloc_output_context2(&context_, nullptr, containerMuxer(c), nullptr);
    if (rc < 0 || !context_) {
        error = avError(containerMuxer(c), rc < 0 ? rc : AVERROR_MUXER_NOT_FOUND);
        context_ = nullptr;
        return false;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(ioBufferSize));
    io_ = buffer ? avio_alloc_context(buffer, ioBufferSize, 1, this, nullptr, &ContainerWriter::writeBytes,
                                      seek_ ? &ContainerWriter::seekBytes : nullptr)
                 : nullptr;
    packet_ = av_packet_alloc();
    if (!io_ || !packet_) {
        if (!io_) av_free(buffer);
        error = "out of memory";
        abandon();
        return false;
    }
    io_->seekable = seek_ ? AVIO_SEEKABLE_NORMAL : 0;
    io_->min_packet_size = ioBufferSize;
    context_->pb = io_;
    context_->flags |= AVFMT_FLAG_CUSTOM_IO;
    context_->flush_packets = 0;

    AVStream* vs = avformat_new_stream(context_, nullptr);
    if (!vs) {
        error = "out of memory";
        abandon();
        return false;
    }
    vs->time_base = ticks90k;
    AVCodecParameters* vp = vs->codecpar;
    vp->codec_type = AVMEDIA_TYPE_VIDEO;
    vp->codec_id = AV_CODEC_ID_MPEG2VIDEO;
    vp->width = video.width;
    vp->height = video.height;
    vp->bit_rate = video.bitRate;
    vp->sample_aspect_ratio = AVRational{video.sarNum, video.sarDen};
    vs->sample_aspect_ratio = vp->sample_aspect_ratio;
    vs->avg_frame_rate = AVRational{video.frameRateNum, video.frameRateDen};
    vs->r_frame_rate = vs->avg_frame_rate;
    if (c == Container::mkv && !video.headers.empty()) {
        vp->extradata = static_cast<uint8_t*>(av_mallocz(video.headers.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (vp->extradata) {
            std::memcpy(vp->extradata, video.headers.data(), video.headers.size());
            vp->extradata_size = static_cast<int>(video.headers.size());
        }
    }
    // The program stream muxer sizes the decoder buffer it announces from these;
    // without them it assumes a default one that players overrun.
    if (video.bufferBits > 0) {
        auto* props = reinterpret_cast<AVCPBProperties*>(
            av_stream_new_side_data(vs, AV_PKT_DATA_CPB_PROPERTIES, sizeof(AVCPBProperties)));
        if (props) {
            std::memset(props, 0, sizeof *props);
            props->buffer_size = video.bufferBits;
            props->max_bitrate = video.bitRate;
            props->avg_bitrate = video.bitRate;
            props->vbv_delay = UINT64_MAX;
        }
    }

    if (audio) {
        AVStream* as = avformat_new_stream(context_, nullptr);
        if (!as) {
            error = "out of memory";
            abandon();
            return false;
        }
        as->time_base = ticks90k;
        AVCodecParameters* ap = as->codecpar;
        ap->codec_type = AVMEDIA_TYPE_AUDIO;
        ap->codec_id = audio->layer == 1 ? AV_CODEC_ID_MP1 : audio->layer == 3 ? AV_CODEC_ID_MP3 : AV_CODEC_ID_MP2;
        ap->sample_rate = static_cast<int>(audio->sampleRate);
        av_channel_layout_default(&ap->ch_layout, audio->channels);
        ap->bit_rate = audio->bitRate;
        ap->frame_size = static_cast<int>(audio->frameSamples);
        audioStream_ = as->index;
    } else {
        audioStream_ = -1;
    }

    AVDictionary* options = nullptr;
    if (c == Container::ps) {
        av_dict_set_int(&options, "muxrate", dvdMuxRate, 0);
        // The DVD muxer starts its clock at 0 and moves every time stamp by the first
        // one it is given, less its preload: a preload of that time keeps the original
        // times (as far as the preload reaches: INT_MAX microseconds, 35 minutes).
        // Its buffer model then needs room to send the first packets that far ahead.
        // Later times (its own arithmetic would overflow on them) are moved to start
        // at 0.5 s, as DVDs do.
        shift_ = 0;
        int64_t preload = av_rescale(firstTime, 1000000, 90000);
        if (firstTime <= 0 || preload + dvdDelay > INT_MAX) {
            shift_ = firstTime - dvdStart;
            preload = av_rescale(dvdStart, 1000000, 90000);
        }
        av_dict_set_int(&options, "preload", preload, 0);
        context_->max_delay = static_cast<int>(preload + dvdDelay);
    } else if (c == Container::ts) {
        // The original times, without the start the muxer would add in front.
        context_->max_delay = 0;
        av_dict_set_int(&options, "copyts", 1, 0);
    } else if (c == Container::mkv) {
        // A CRC-32 in every cluster would take a third of the save's time; the
        // elements are optional and players do not need them.
        av_dict_set_int(&options, "write_crc32", 0, 0);
    }
    rc = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (rc < 0) {
        error = avError("can't write the header", rc);
        abandon();
        return false;
    }
    return true;
}

namespace {

void freeBytes(void* opaque, uint8_t*) { delete static_cast<ContainerWriter::Bytes*>(opaque); }

} // namespace

bool ContainerWriter::write(int stream, Bytes bytes, size_t offset, size_t size, int64_t pts, int64_t dts, bool key,
                            std::string& error)
{
    if (!context_) {
        error = "the container is not open";
        return false;
    }
    if (!bytes || offset + size + padding > bytes->size() || size > INT_MAX) {
        error = "a packet without its padding";
        return false;
    }
    uint8_t* data = const_cast<uint8_t*>(bytes->data()) + offset;
    auto* held = new (std::nothrow) Bytes(std::move(bytes));
    AVBufferRef* buffer =
        held ? av_buffer_create(data, static_cast<int>(size), freeBytes, held, AV_BUFFER_FLAG_READONLY) : nullptr;
    if (!buffer) {
        delete held;
        error = "out of memory";
        return false;
    }
    AVPacket* p = packet_;
    av_packet_unref(p);
    p->buf = buffer;
    p->data = buffer->data;
    p->size = static_cast<int>(size);
    p->stream_index = stream;
    p->pts = pts - shift_;
    p->dts = dts - shift_;
    p->time_base = ticks90k;
    if (key) p->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(p, ticks90k, context_->streams[stream]->time_base);
    const int rc = av_interleaved_write_frame(context_, p);
    if (rc < 0) {
        error = avError("can't write a packet", rc);
        return false;
    }
    return true;
}

bool ContainerWriter::writeVideo(Bytes bytes, size_t offset, size_t size, int64_t pts, int64_t dts, bool key,
                                 std::string& error)
{
    return write(0, std::move(bytes), offset, size, pts, dts, key, error);
}

bool ContainerWriter::writeAudio(Bytes bytes, size_t offset, size_t size, int64_t pts, std::string& error)
{
    if (audioStream_ < 0) return true;
    return write(audioStream_, std::move(bytes), offset, size, pts, pts, true, error);
}

void ContainerWriter::addChapter(int64_t start, int64_t end, const std::string& title)
{
    if (!context_ || container_ != Container::mkv) return;
    auto* ch = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (!ch) return;
    ch->id = ++chapters_;
    ch->time_base = ticks90k;
    ch->start = start;
    ch->end = end;
    av_dict_set(&ch->metadata, "title", title.c_str(), 0);
    if (av_dynarray_add_nofree(&context_->chapters, reinterpret_cast<int*>(&context_->nb_chapters), ch) < 0) {
        av_dict_free(&ch->metadata);
        av_free(ch);
    }
}

bool ContainerWriter::finish(std::string& error)
{
    if (!context_) {
        error = "the container is not open";
        return false;
    }
    int rc = av_write_trailer(context_);
    if (rc >= 0) {
        avio_flush(io_);
        if (io_->error < 0) rc = io_->error;
    }
    abandon();
    if (rc < 0) {
        error = avError("can't finish the file", rc);
        return false;
    }
    return true;
}

void ContainerWriter::abandon()
{
    av_packet_free(&packet_);
    if (context_) {
        context_->pb = nullptr;
        avformat_free_context(context_);
        context_ = nullptr;
    }
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    audioStream_ = -1;
}

} // namespace media
