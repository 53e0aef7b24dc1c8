#include "Recording.h"

namespace samplegen {

bool loadRecording(const EncodedFiles& files, Recording& out, std::string& error)
{
    std::vector<uint8_t> bytes;
    if (!readFileBytes(files.video, bytes)) {
        error = "cannot read " + files.video;
        return false;
    }
    if (!parseVideo(std::move(bytes), out.video, error)) {
        error = files.video + ": " + error;
        return false;
    }
    if (!readFileBytes(files.audio, bytes)) {
        error = "cannot read " + files.audio;
        return false;
    }
    if (!parseAudio(std::move(bytes), out.audio, error)) {
        error = files.audio + ": " + error;
        return false;
    }
    for (size_t size : out.audio.frameSizes) {
        if (size + 14 > maxPayload) {
            error = "audio frame too large for one packet";
            return false;
        }
    }
    return true;
}

bool muxRecording(const Recording& rec, const TimeBase& tb, PacketSink& sink, std::string& error)
{
    const uint64_t firstPts = tb.base + static_cast<uint64_t>(rec.video.reorderDelay) * ticksPerPicture;
    size_t frame = 0;
    auto audio = [&](TimedAudio& a) {
        if (frame >= rec.audio.frameOffsets.size()) return false;
        a.data = rec.audio.bytes.data() + rec.audio.frameOffsets[frame];
        a.size = rec.audio.frameSizes[frame];
        a.deadline = firstPts + frame * ticksPerAudioFrame;
        a.pts = tb.stamp(a.deadline, a.deadline);
        ++frame;
        return true;
    };
    Muxer mux(sink, audio);
    for (size_t i = 0; i < rec.video.pictures.size(); ++i) {
        const PictureUnit& u = rec.video.pictures[i];
        TimedPicture p;
        p.data = rec.video.bytes.data() + u.offset;
        p.size = u.size;
        p.dts = tb.base + i * ticksPerPicture;
        p.pts = tb.stamp(p.dts, firstPts + static_cast<uint64_t>(rec.video.displayIndex[i]) * ticksPerPicture);
        p.type = u.type;
        p.gops = u.gopWordAt >= 0 ? 1 : 0;
        mux.addPicture(p);
    }
    mux.finish();
    if (mux.startCodeLikePts()) {
        error = "a video time stamp of this time base reads as a start code";
        return false;
    }
    return true;
}

} // namespace samplegen
