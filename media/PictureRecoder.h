#pragma once
// Re-encoding a few pictures of an MPEG-2 stream as a closed GOP that fits the stream
// they go into: decoded with libavcodec from the I picture their references start at,
// encoded again with libavcodec's MPEG-2 encoder at a fixed quantiser, the lowest of
// a few tried whose pictures take no more bytes than the budget and keep the decoder's
// buffer from running dry. No FFmpeg type shows here.
#include "media/PictureDecoder.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace media {

// What the re-encoded pictures must match, from the source's sequence header.
struct RecodeFormat {
    int width = 0;
    int height = 0;
    int aspectRatio = 2;               // aspect_ratio_information: 1 square samples, 2 4:3, 3 16:9, 4 2.21:1
    int frameRateCode = 3;             // 3: 25 pictures a second
    int chromaFormat = 1;              // 1 4:2:0, 2 4:2:2
    bool interlaced = false;           // not a progressive sequence
    int bFrames = 2;                   // B pictures between anchors at most
    int64_t maxRate = 0;               // bit/s, 0 when unknown
    int64_t bufferBits = 0;            // VBV buffer, bits, 0 when unknown
    bool hasIntraMatrix = false;       // matrices in the order the sequence header carries them
    uint8_t intraMatrix[64] = {};
    bool hasNonIntraMatrix = false;
    uint8_t nonIntraMatrix[64] = {};
    int64_t timeCodePictures = 0;      // the first GOP's time code, in pictures
};

struct RecodedPicture {
    std::vector<uint8_t> bytes;        // the picture with the headers in front of it
    uint8_t codingType = 0;            // 1 I, 2 P, 3 B
    int displayIndex = 0;              // index into the wanted pictures
};

struct RecodeResult {
    std::vector<RecodedPicture> pictures;   // in coding order
    int quantiser = 0;
    size_t bytes = 0;
    bool fits = false;                 // within the budget and no buffer underflow
    bool underflow = false;
    int tries = 0;
};

// Decodes `feed` (coded pictures in coding order, each tagged by `tags`) and re-encodes
// those whose tags are `wanted` (in display order) as one closed GOP. False with
// `error` set when a wanted picture could not be decoded or the encoder failed; a
// result that does not fit the budget is still given (fits false).
bool recodePictures(std::span<const CodedPicture> feed, std::span<const int64_t> tags,
                    std::span<const int64_t> wanted, const RecodeFormat& format, size_t budgetBytes,
                    RecodeResult& result, std::string& error);

// The decoder's buffer fed at `maxRate` up to `bufferBits`, full when the first picture
// is due, each picture taken out one picture period (`frameRateCode`) after the one
// before in coding order: true when one of them is not wholly there in time.
bool bufferUnderflows(std::span<const size_t> pictureBytes, int64_t maxRate, int64_t bufferBits, int frameRateCode);

} // namespace media
