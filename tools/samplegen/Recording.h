#pragma once
// An encoded recording (video and audio elementary streams) and how it is sent on a time base.
#include "ElementaryStreams.h"
#include "Encoder.h"
#include "PvaMuxer.h"

#include <cstdint>
#include <string>

namespace samplegen {

struct Recording {
    VideoStream video;
    AudioStream audio;
};

bool loadRecording(const EncodedFiles& files, Recording& out, std::string& error);

// Time stamps of a recording: decode time of picture i is base + i pictures; its PTS
// follows display order, late enough that no picture is shown before it is decoded;
// audio frame k is presented at the first picture's PTS + k frames. From jumpAt on
// (on the sending clock) every time stamp is moved by jumpBy.
struct TimeBase {
    uint64_t base = 0;
    uint64_t jumpAt = UINT64_MAX;
    int64_t jumpBy = 0;
    uint64_t stamp(uint64_t sendTime, uint64_t value) const
    {
        return sendTime >= jumpAt ? value + static_cast<uint64_t>(jumpBy) : value;
    }
};

// Sends the whole recording; false when a time stamp would mimic a start code.
bool muxRecording(const Recording& rec, const TimeBase& timeBase, PacketSink& sink, std::string& error);

} // namespace samplegen
