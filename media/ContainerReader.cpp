#include "media/ContainerReader.h"

#include "source/PvaPacket.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstring>

namespace media {

namespace {

constexpr size_t largestPayload = 6136;
constexpr AVRational ticks90k{1, 90000};

} // namespace

bool looksLikeContainer(const uint8_t* h, size_t size)
{
    if (size >= 4 && h[0] == 0 && h[1] == 0 && h[2] == 1 && h[3] == 0xBA) return true;               // pack header
    if (size >= 4 && h[0] == 0x1A && h[1] == 0x45 && h[2] == 0xDF && h[3] == 0xA3) return true;      // EBML
    if (size >= 189 && h[0] == 0x47 && h[188] == 0x47) return true;                                  // TS sync
    return false;
}

ContainerReader::~ContainerReader()
{
    av_packet_free(&packet_);
    avformat_close_input(&context_);
}

bool ContainerReader::open(const std::string& path, std::string& error)
{
    av_log_set_level(AV_LOG_FATAL);
    int rc = avformat_open_input(&context_, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = "not a container libavformat reads";
        context_ = nullptr;
        return false;
    }
    rc = avformat_find_stream_info(context_, nullptr);
    if (rc < 0) {
        error = "its streams can't be found";
        return false;
    }
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        const AVCodecParameters* p = context_->streams[i]->codecpar;
        if (video_ < 0 && p->codec_id == AV_CODEC_ID_MPEG2VIDEO) video_ = static_cast<int>(i);
        if (audio_ < 0 && (p->codec_id == AV_CODEC_ID_MP1 || p->codec_id == AV_CODEC_ID_MP2 || p->codec_id == AV_CODEC_ID_MP3))
            audio_ = static_cast<int>(i);
    }
    packet_ = av_packet_alloc();
    if (video_ < 0 || !packet_) {
        error = "it holds no MPEG-2 video";
        return false;
    }
    return true;
}

void ContainerReader::addPacket(uint8_t streamId, uint8_t flags, const uint8_t* payload, size_t size)
{
    PvaPacketHeader h{};
    h.sync1 = 'A';
    h.sync2 = 'V';
    h.streamId = streamId;
    h.counter = counter_[streamId == pvaStreamVideo ? 0 : 1]++;
    h.reserved = 0x55;
    h.flags = flags;
    h.length = static_cast<uint16_t>(size);
    const size_t at = pending_.size();
    pending_.resize(at + pvaHeaderSize + size);
    writePacketHeader(h, pending_.data() + at);
    if (size) std::memcpy(pending_.data() + at + pvaHeaderSize, payload, size);
}

void ContainerReader::addVideo(const uint8_t* data, size_t size, int64_t pts)
{
    // The time stamp goes with the packet where the picture begins.
    uint8_t first[largestPayload];
    const bool timed = pts != AV_NOPTS_VALUE;
    const size_t room = largestPayload - (timed ? 4 : 0);
    const size_t n = std::min(size, room);
    size_t k = 0;
    if (timed) {
        writeVideoPts(first, static_cast<uint32_t>(pts));
        k = 4;
    }
    std::memcpy(first + k, data, n);
    addPacket(pvaStreamVideo, timed ? pvaFlagPts : 0, first, k + n);
    for (size_t at = n; at < size; at += largestPayload)
        addPacket(pvaStreamVideo, 0, data + at, std::min(largestPayload, size - at));
}

void ContainerReader::addAudio(const uint8_t* data, size_t size, int64_t pts)
{
    // One PES packet a frame: 00 00 01 C0, its length, the MPEG-2 header with the time stamp.
    const bool timed = pts != AV_NOPTS_VALUE;
    std::vector<uint8_t> pes(timed ? 14 : 9);
    const size_t length = pes.size() - 6 + size;
    if (length > 0xFFFF) return;
    pes[2] = 1;
    pes[3] = 0xC0;
    pes[4] = static_cast<uint8_t>(length >> 8);
    pes[5] = static_cast<uint8_t>(length);
    pes[6] = 0x80;
    pes[7] = timed ? 0x80 : 0;
    pes[8] = timed ? 5 : 0;
    if (timed) {
        pes[9] = 0x21;
        pes[11] = pes[13] = 1;
        encodePesPts(pes.data() + 9, static_cast<uint32_t>(pts));
    }
    pes.insert(pes.end(), data, data + size);
    for (size_t at = 0; at < pes.size(); at += largestPayload)
        addPacket(pvaStreamAudio, at == 0 && timed ? pvaFlagPts : 0, pes.data() + at,
                  std::min(largestPayload, pes.size() - at));
}

bool ContainerReader::refill()
{
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken_));
    taken_ = 0;
    while (pending_.size() < (1u << 20) && !ended_) {
        const int rc = av_read_frame(context_, packet_);
        if (rc == AVERROR_EOF) {
            ended_ = true;
            break;
        }
        if (rc < 0) {
            failed_ = true;
            ended_ = true;
            return false;
        }
        const int s = packet_->stream_index;
        if (s == video_ || s == audio_) {
            const AVRational tb = context_->streams[s]->time_base;
            const int64_t pts = packet_->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(packet_->pts, tb, ticks90k);
            if (s == video_)
                addVideo(packet_->data, static_cast<size_t>(packet_->size), pts);
            else
                addAudio(packet_->data, static_cast<size_t>(packet_->size), pts);
        }
        av_packet_unref(packet_);
    }
    return true;
}

size_t ContainerReader::read(uint8_t* out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        if (taken_ == pending_.size() && (ended_ || !refill() || taken_ == pending_.size())) break;
        const size_t k = std::min(n - got, pending_.size() - taken_);
        std::memcpy(out + got, pending_.data() + taken_, k);
        taken_ += k;
        got += k;
    }
    return got;
}

} // namespace media
