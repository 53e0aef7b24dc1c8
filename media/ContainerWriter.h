#pragma once
// Writes MPEG-2 video and MPEG audio access units into a program stream for DVD
// authoring, a transport stream or Matroska, through libavformat's muxers. The bytes
// go to a callback, never to a file the muxer opens itself: the caller decides where
// they land (a temporary file that replaces the old one, a pipe).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace media {

enum class Container { ps, ts, mkv };

// The muxer's own name for it ("dvd", "mpegts", "matroska").
const char* containerMuxer(Container c);

struct ContainerVideo {
    uint16_t width = 0, height = 0;
    int32_t sarNum = 1, sarDen = 1;        // sample aspect ratio
    int32_t frameRateNum = 25, frameRateDen = 1;
    uint32_t bitRate = 0;                  // bit/s, from the sequence header
    uint32_t bufferBits = 0;               // the decoder buffer (VBV) in bits
    std::vector<uint8_t> headers;          // sequence header and extensions (Matroska's codec data)
};

struct ContainerAudio {
    uint8_t layer = 2;                     // 1, 2 or 3
    uint32_t sampleRate = 48000;
    uint8_t channels = 2;
    uint32_t bitRate = 0;
    uint32_t frameSamples = 1152;
};

class ContainerWriter {
public:
    // Takes the bytes the muxer writes; false stops the writing (a full disk).
    using Sink = std::function<bool(const uint8_t* data, size_t size)>;
    // Moves the write position (Matroska goes back to fill in sizes); false when it can't.
    using Seek = std::function<bool(uint64_t position)>;

    ContainerWriter() = default;
    ~ContainerWriter();
    ContainerWriter(const ContainerWriter&) = delete;
    ContainerWriter& operator=(const ContainerWriter&) = delete;

    // Sets up the muxer with its streams and writes the file header. `seek` may be
    // empty (a pipe). `audio` null: video only. `firstTime` is the first decode time
    // stamp to come (90 kHz). False with `error` set.
    bool open(Container c, const ContainerVideo& video, const ContainerAudio* audio, int64_t firstTime, Sink sink,
              Seek seek, std::string& error);
    bool isOpen() const { return context_ != nullptr; }

    // The bytes of packets are shared with the muxer, which keeps them as long as it
    // needs them: no copy each. Behind every packet's bytes lie at least `padding`
    // more (the room readers of coded data count on).
    using Bytes = std::shared_ptr<const std::vector<uint8_t>>;
    static constexpr size_t padding = 64;

    // One coded picture (a frame, or both fields), bytes[offset .. offset+size-1], with
    // its time stamps in 90 kHz ticks, given in coding order.
    bool writeVideo(Bytes bytes, size_t offset, size_t size, int64_t pts, int64_t dts, bool key, std::string& error);
    // One audio frame, held the same way.
    bool writeAudio(Bytes bytes, size_t offset, size_t size, int64_t pts, std::string& error);
    // A chapter of Matroska, from `start` to `end` (90 kHz); other containers ignore it.
    void addChapter(int64_t start, int64_t end, const std::string& title);
    // Writes what the muxer still holds and the trailer, and releases the muxer.
    bool finish(std::string& error);
    // Releases the muxer without writing anything more (a failed or cancelled save).
    void abandon();

private:
    bool write(int stream, Bytes bytes, size_t offset, size_t size, int64_t pts, int64_t dts, bool key,
               std::string& error);
    static int writeBytes(void* opaque, uint8_t* buf, int size);
    static int64_t seekBytes(void* opaque, int64_t offset, int whence);

    Container container_ = Container::ts;
    AVFormatContext* context_ = nullptr;
    AVIOContext* io_ = nullptr;
    AVPacket* packet_ = nullptr;
    Sink sink_;
    Seek seek_;
    uint64_t position_ = 0;
    uint64_t end_ = 0;
    int audioStream_ = -1;
    // Subtracted from every time stamp (a program stream whose times can't be kept).
    int64_t shift_ = 0;
    int chapters_ = 0;
};

} // namespace media
