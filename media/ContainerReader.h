#pragma once
// Reads a program stream, a transport stream or a Matroska file through libavformat
// and gives its MPEG-2 video and MPEG audio back as AV packets: each picture with
// its presentation time stamp in the first video packet, each audio frame in a PES
// packet with its time stamp. So whatever reads a PVA reads these containers too.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace media {

// The file begins as a program stream, a transport stream or a Matroska file does.
bool looksLikeContainer(const uint8_t* head, size_t size);

class ContainerReader {
public:
    ContainerReader() = default;
    ~ContainerReader();
    ContainerReader(const ContainerReader&) = delete;
    ContainerReader& operator=(const ContainerReader&) = delete;

    // False with `error` set when the file can't be read as a container with MPEG-2 video.
    bool open(const std::string& path, std::string& error);
    // Up to n bytes of AV packets; 0 at the end. failed() tells a read error.
    size_t read(uint8_t* out, size_t n);
    bool failed() const { return failed_; }

private:
    bool refill();
    void addVideo(const uint8_t* data, size_t size, int64_t pts);
    void addAudio(const uint8_t* data, size_t size, int64_t pts);
    void addPacket(uint8_t streamId, uint8_t flags, const uint8_t* payload, size_t size);

    AVFormatContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    int video_ = -1, audio_ = -1;
    std::vector<uint8_t> pending_;
    size_t taken_ = 0;
    uint8_t counter_[2] = {0, 0};
    bool ended_ = false;
    bool failed_ = false;
};

} // namespace media
