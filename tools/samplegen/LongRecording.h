#pragma once
#include <cstdint>
#include <string>

namespace samplegen {

struct LongSpec {
    uint64_t targetBytes = 0;   // stop before the file would grow past this (0: no size limit)
    uint64_t minPictures = 0;   // or go on until at least this many pictures are written
    uint64_t startPts = 360000000;
    size_t payload = 6136;      // the largest payload of a packet
    bool small = false;         // the small, low-rate encode (see EncodeSpec)
    bool closedGop = false;     // closed GOPs (see EncodeSpec)
    bool interlaced = false;    // interlaced coding (see EncodeSpec)
};

// A long recording made from the GOPs of the 60-second encode (cached in encodeDir),
// repeated with rising time stamps and continuous GOP time codes. Refused at once
// when the disk cannot hold it. 0 on success.
int makeLongRecording(const std::string& path, const std::string& encodeDir, const LongSpec& spec);

} // namespace samplegen
