#pragma once
// Decodes a video stream picture after picture, as a player would, and tells for each
// picture whether the decoder took it and a digest of the picture it made. Two
// decodes of the same picture are alike exactly when their digests are: a saved file
// is compared with its sources that way without keeping any picture.
#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace media {

struct DecodedPicture {
    int64_t tag = 0;          // as given with the coded picture
    uint64_t digest = 0;      // of the picture's samples (all three planes)
    bool damaged = false;     // the decoder marked it as concealed or corrupt
};

class StreamDecoder {
public:
    StreamDecoder();
    ~StreamDecoder();
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    bool available() const { return context_ != nullptr && packet_ && frame_; }

    // Feeds one coded picture (with the headers in front of it). The pictures the
    // decoder gives back meanwhile, in display order, are appended to `out`. False
    // when the decoder refused the picture as damaged.
    bool send(const uint8_t* data, size_t size, int64_t tag, std::vector<DecodedPicture>& out);
    // The pictures still held back; afterwards the decoder starts afresh, without
    // references.
    void finish(std::vector<DecodedPicture>& out);

private:
    void collect(std::vector<DecodedPicture>& out);

    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

} // namespace media
