#pragma once
// Encodes the test picture and tone with the ffmpeg program into raw elementary
// files, cached by their parameters in a directory.
#include <string>

namespace samplegen {

struct EncodeSpec {
    int pictures = 100;     // 25 fps
    int audioSeconds = 4;
    // 176 x 144 pictures at a low rate and mono sound at 32 kbit/s: long recordings
    // that take little disk.
    bool small = false;
    bool closedGop = false;    // every GOP closed, as some encoders send them
    bool interlaced = false;   // interlaced coding, top field first
};

struct EncodedFiles {
    std::string video;      // .m2v
    std::string audio;      // .mp2
    std::string key;        // names the encode (parameters), for the caches built on it
};

// The encode's file names and key; nothing is run.
EncodedFiles encodedFiles(const std::string& dir, const EncodeSpec& spec);
// Runs ffmpeg for whichever of the two files is missing.
bool ensureEncoded(const std::string& dir, const EncodeSpec& spec, EncodedFiles& files, std::string& error);

} // namespace samplegen
