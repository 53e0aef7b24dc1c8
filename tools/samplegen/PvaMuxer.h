#pragma once
// Packetising into AV packets as a DVB card writes them, and interleaving audio
// with video by time.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace samplegen {

inline constexpr size_t maxPayload = 6136;   // what receivers (and FFmpeg's reader) accept
inline constexpr uint8_t flagPts = 0x10;
inline constexpr uint64_t ticksPerPicture = 3600;   // 25 fps
inline constexpr uint64_t ticksPerAudioFrame = 2160; // 1152 samples at 48 kHz

// What the ground truth records about a packet besides its bytes.
struct PacketInfo {
    uint8_t streamId = 1;
    uint8_t flags = 0;
    int64_t pts = -1;        // video: the 4-byte PTS; audio: the PES PTS modulo 2^32; -1 none
    char pictureType = 0;    // type of the picture header starting in the packet, 0 none
    int gops = 0;            // GOP headers starting in the packet
};

class PacketSink {
public:
    virtual ~PacketSink() = default;
    // The payload is head followed by body.
    virtual void packet(const PacketInfo& info, const uint8_t* head, size_t headLen, const uint8_t* body,
                        size_t bodyLen) = 0;
};

// A whole packet kept in memory, for recordings that are edited before writing.
struct HeldPacket {
    PacketInfo info;
    std::vector<uint8_t> payload;
};

class PacketList : public PacketSink {
public:
    std::vector<HeldPacket> packets;
    void packet(const PacketInfo& info, const uint8_t* head, size_t headLen, const uint8_t* body,
                size_t bodyLen) override;
};

// Where written bytes go: memory or a file through one large buffer.
class ByteOut {
public:
    virtual ~ByteOut() = default;
    virtual void append(const uint8_t* data, size_t n) = 0;
    virtual bool ok() const = 0;
    uint64_t size() const { return size_; }

protected:
    uint64_t size_ = 0;
};

class MemoryOut : public ByteOut {
public:
    std::vector<uint8_t> bytes;
    void append(const uint8_t* data, size_t n) override;
    bool ok() const override { return true; }
};

class FileOut : public ByteOut {
public:
    explicit FileOut(const std::string& path, size_t bufferSize = 16u << 20);
    ~FileOut() override;
    FileOut(const FileOut&) = delete;
    FileOut& operator=(const FileOut&) = delete;
    void append(const uint8_t* data, size_t n) override;
    bool ok() const override { return ok_; }
    bool close(); // flushes; false when anything failed

private:
    void flush();
    std::FILE* file_ = nullptr;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    bool ok_ = false;
};

struct PacketRecord {
    uint64_t offset;
    PacketInfo info;
    uint16_t length;
};

struct WriterStats {
    uint64_t packets = 0, videoPackets = 0, audioPackets = 0, otherPackets = 0, zeroLengthPackets = 0;
    uint64_t videoPtsPackets = 0, audioPtsPackets = 0;
    uint64_t pictures = 0, iPictures = 0, pPictures = 0, bPictures = 0, gops = 0;
    int64_t firstVpts = -1, lastVpts = -1, firstApts = -1, lastApts = -1;
    uint64_t garbageBytes = 0;
};

// Writes AV packets: "AV", stream id, per-stream counter, reserved 0x55, flags, big-endian length.
class PvaWriter : public PacketSink {
public:
    PvaWriter(ByteOut& out, bool keepRecords) : out_(out), keepRecords_(keepRecords) {}
    void packet(const PacketInfo& info, const uint8_t* head, size_t headLen, const uint8_t* body,
                size_t bodyLen) override;
    // A packet whose length field does not tell its true length; not counted as well-formed.
    void damagedPacket(const PacketInfo& info, const std::vector<uint8_t>& payload, uint16_t lengthField);
    void garbage(const std::vector<uint8_t>& bytes);
    // A new recording begins (a file appended to another): counters start again.
    void restartCounters();

    uint64_t offset() const { return out_.size(); }
    const WriterStats& stats() const { return stats_; }
    const std::vector<PacketRecord>& records() const { return records_; }

private:
    void header(uint8_t streamId, uint8_t flags, uint16_t length);
    ByteOut& out_;
    bool keepRecords_;
    uint8_t counters_[256] = {};
    WriterStats stats_;
    std::vector<PacketRecord> records_;
};

// One picture to send. Times are on a 64-bit clock that never wraps; the written
// time stamps are taken modulo 2^32 (video) or 2^33 (audio).
struct TimedPicture {
    const uint8_t* data;
    size_t size;
    uint64_t dts;
    uint64_t pts;
    char type;
    int gops;
};

struct TimedAudio {
    const uint8_t* data;
    size_t size;
    uint64_t deadline; // when the frame must have arrived (its presentation time)
    uint64_t pts;
};

// Sends pictures (each starting a packet with its PTS) and audio frames (each in its
// own PES packet at the start of an audio packet), audio placed between the video
// packets by time: the packets of a picture are spread over the picture period
// before its decode time.
class Muxer {
public:
    using AudioSource = std::function<bool(TimedAudio&)>;
    // Payloads of at most `payload` bytes (at least 32): a smaller size gives more,
    // smaller packets; an audio frame that does not fit goes on in continuation packets.
    Muxer(PacketSink& sink, AudioSource audio, size_t payload = maxPayload)
        : sink_(sink), audio_(std::move(audio)), payload_(payload < 32 ? 32 : payload > maxPayload ? maxPayload : payload)
    {}
    void addPicture(const TimedPicture& picture);
    // Sends the audio frames due up to the given time (all of them by default).
    void finish(uint64_t until = UINT64_MAX);
    // Video time stamps whose bytes, followed by a picture's first bytes, read as a
    // start code (a reader searching the payload from its first byte would miscount).
    int startCodeLikePts() const { return startCodeLikePts_; }

private:
    void sendAudioUpTo(uint64_t time);
    PacketSink& sink_;
    AudioSource audio_;
    size_t payload_;
    TimedAudio pending_{};
    bool hasPending_ = false;
    bool audioDone_ = false;
    int startCodeLikePts_ = 0;
};

// 14-byte PES header of an MPEG audio frame with its time stamp (33 bits; bit 32 kept).
void pesHeader(uint8_t out[14], uint64_t pts33, size_t frameSize);
uint32_t pesPts32(const uint8_t b[5]);

// The resynchronisation search of a reader that lost the packet sequence: from start,
// the offset of the next 0x41 0x56 followed by stream id 1 or 2; a byte that breaks the
// pattern is consumed. -1 when there is none.
int64_t findNextHeader(const std::vector<uint8_t>& file, uint64_t start);

} // namespace samplegen
