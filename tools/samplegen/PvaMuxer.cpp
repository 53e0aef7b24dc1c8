#include "PvaMuxer.h"

#include <algorithm>
#include <cstring>

namespace samplegen {

void PacketList::packet(const PacketInfo& info, const uint8_t* head, size_t headLen, const uint8_t* body,
                        size_t bodyLen)
{
    HeldPacket p;
    p.info = info;
    p.payload.reserve(headLen + bodyLen);
    if (headLen) p.payload.insert(p.payload.end(), head, head + headLen);
    if (bodyLen) p.payload.insert(p.payload.end(), body, body + bodyLen);
    packets.push_back(std::move(p));
}

void MemoryOut::append(const uint8_t* data, size_t n)
{
    bytes.insert(bytes.end(), data, data + n);
    size_ += n;
}

FileOut::FileOut(const std::string& path, size_t bufferSize) : buffer_(bufferSize)
{
    file_ = std::fopen(path.c_str(), "wb");
    ok_ = file_ != nullptr;
    if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
}

FileOut::~FileOut()
{
    if (file_) std::fclose(file_);
}

void FileOut::flush()
{
    if (used_ && ok_ && std::fwrite(buffer_.data(), 1, used_, file_) != used_) ok_ = false;
    used_ = 0;
}

void FileOut::append(const uint8_t* data, size_t n)
{
    size_ += n;
    if (!ok_) return;
    if (n > buffer_.size() - used_) {
        flush();
        if (n >= buffer_.size()) {
            if (std::fwrite(data, 1, n, file_) != n) ok_ = false;
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
}

bool FileOut::close()
{
    flush();
    if (file_ && std::fclose(file_) != 0) ok_ = false;
    file_ = nullptr;
    return ok_;
}

void PvaWriter::header(uint8_t streamId, uint8_t flags, uint16_t length)
{
    uint8_t h[8] = {0x41, 0x56, streamId, counters_[streamId]++, 0x55, flags, static_cast<uint8_t>(length >> 8),
                    static_cast<uint8_t>(length & 0xFF)};
    out_.append(h, 8);
}

void PvaWriter::packet(const PacketInfo& info, const uint8_t* head, size_t headLen, const uint8_t* body,
                       size_t bodyLen)
{
    const uint16_t length = static_cast<uint16_t>(headLen + bodyLen);
    if (keepRecords_) records_.push_back({out_.size(), info, length});
    header(info.streamId, info.flags, length);
    if (headLen) out_.append(head, headLen);
    if (bodyLen) out_.append(body, bodyLen);

    WriterStats& s = stats_;
    ++s.packets;
    if (length == 0) ++s.zeroLengthPackets;
    const bool withPts = (info.flags & flagPts) && info.pts >= 0;
    if (info.streamId == 1) {
        ++s.videoPackets;
        if (withPts) {
            ++s.videoPtsPackets;
            if (s.firstVpts < 0) s.firstVpts = info.pts;
            s.lastVpts = info.pts;
        }
    } else if (info.streamId == 2) {
        ++s.audioPackets;
        if (withPts) {
            ++s.audioPtsPackets;
            if (s.firstApts < 0) s.firstApts = info.pts;
            s.lastApts = info.pts;
        }
    } else {
        ++s.otherPackets;
    }
    if (info.pictureType) {
        ++s.pictures;
        if (info.pictureType == 'I') ++s.iPictures;
        if (info.pictureType == 'P') ++s.pPictures;
        if (info.pictureType == 'B') ++s.bPictures;
    }
    s.gops += static_cast<uint64_t>(info.gops);
}

void PvaWriter::damagedPacket(const PacketInfo& info, const std::vector<uint8_t>& payload, uint16_t lengthField)
{
    header(info.streamId, info.flags, lengthField);
    out_.append(payload.data(), payload.size());
}

void PvaWriter::garbage(const std::vector<uint8_t>& bytes)
{
    out_.append(bytes.data(), bytes.size());
    stats_.garbageBytes += bytes.size();
}

void PvaWriter::restartCounters() { std::memset(counters_, 0, sizeof counters_); }

void pesHeader(uint8_t out[14], uint64_t pts33, size_t frameSize)
{
    const uint64_t v = pts33 & ((uint64_t(1) << 33) - 1);
    const size_t pesLength = 8 + frameSize; // flags, header length, PTS, frame
    const uint8_t h[14] = {0x00, 0x00, 0x01, 0xC0,
                           static_cast<uint8_t>(pesLength >> 8), static_cast<uint8_t>(pesLength & 0xFF),
                           0x81, 0x80, 0x05,
                           static_cast<uint8_t>(0x21 | ((v >> 29) & 0x0E)),
                           static_cast<uint8_t>(v >> 22),
                           static_cast<uint8_t>(((v >> 14) & 0xFE) | 1),
                           static_cast<uint8_t>(v >> 7),
                           static_cast<uint8_t>(((v << 1) & 0xFE) | 1)};
    std::memcpy(out, h, 14);
}

uint32_t pesPts32(const uint8_t b[5])
{
    return static_cast<uint32_t>((b[0] >> 1) & 3) << 30 | static_cast<uint32_t>(b[1]) << 22 |
           static_cast<uint32_t>(b[2] >> 1) << 15 | static_cast<uint32_t>(b[3]) << 7 | static_cast<uint32_t>(b[4] >> 1);
}

// Audio frames are compared with video packet times shifted by one picture period,
// so that nothing here subtracts below zero.
void Muxer::sendAudioUpTo(uint64_t shiftedTime)
{
    for (;;) {
        if (!hasPending_ && !audioDone_) {
            hasPending_ = audio_ && audio_(pending_);
            if (!hasPending_) audioDone_ = true;
        }
        if (!hasPending_) return;
        if (shiftedTime != UINT64_MAX && pending_.deadline + ticksPerPicture > shiftedTime) return;
        uint8_t pes[14];
        pesHeader(pes, pending_.pts, pending_.size);
        PacketInfo info;
        info.streamId = 2;
        info.flags = flagPts;
        info.pts = pesPts32(pes + 9);
        size_t sent = std::min(pending_.size, payload_ - sizeof pes);
        sink_.packet(info, pes, sizeof pes, pending_.data, sent);
        PacketInfo more;
        more.streamId = 2;
        while (sent < pending_.size) {
            const size_t n = std::min(payload_, pending_.size - sent);
            sink_.packet(more, nullptr, 0, pending_.data + sent, n);
            sent += n;
        }
        hasPending_ = false;
    }
}

void Muxer::addPicture(const TimedPicture& pic)
{
    const size_t firstRoom = payload_ - 4;
    size_t count = 1;
    if (pic.size > firstRoom) count += (pic.size - firstRoom + payload_ - 1) / payload_;
    const uint32_t pts32 = static_cast<uint32_t>(pic.pts);
    if (pts32 == 0x100 || pts32 == 0x1B8 || (pts32 & 0xFFFFFF) == 1) ++startCodeLikePts_;
    const uint8_t ptsBytes[4] = {static_cast<uint8_t>(pts32 >> 24), static_cast<uint8_t>(pts32 >> 16),
                                 static_cast<uint8_t>(pts32 >> 8), static_cast<uint8_t>(pts32)};
    size_t pos = 0;
    for (size_t j = 0; j < count; ++j) {
        sendAudioUpTo(pic.dts + ticksPerPicture * (j + 1) / count);
        PacketInfo info;
        info.streamId = 1;
        if (j == 0) {
            info.flags = flagPts;
            info.pts = pts32;
            info.pictureType = pic.type;
            info.gops = pic.gops;
            size_t n = std::min(firstRoom, pic.size);
            sink_.packet(info, ptsBytes, 4, pic.data, n);
            pos = n;
        } else {
            size_t n = std::min(payload_, pic.size - pos);
            sink_.packet(info, nullptr, 0, pic.data + pos, n);
            pos += n;
        }
    }
}

void Muxer::finish(uint64_t until)
{
    sendAudioUpTo(until >= UINT64_MAX - ticksPerPicture ? UINT64_MAX : until + ticksPerPicture);
}

int64_t findNextHeader(const std::vector<uint8_t>& file, uint64_t start)
{
    const size_t n = file.size();
    size_t p = static_cast<size_t>(start);
    while (p < n) {
        if (file[p] != 0x41) {
            ++p;
            continue;
        }
        const size_t at = p++;
        if (p >= n) return -1;
        if (file[p++] != 0x56) continue;
        if (p >= n) return -1;
        if (file[p] == 1 || file[p] == 2) return static_cast<int64_t>(at);
        ++p;
    }
    return -1;
}

} // namespace samplegen
