#pragma once
// The new PVA in another container: the AV packets the writer would write are taken
// apart into the pictures of the video (with their presentation and decode time
// stamps, in coding order) and the frames of the sound, and handed to a muxer. So a
// program stream, a transport stream or a Matroska file carries exactly the pictures
// and the sound of the PVA the same cut list makes.
#include "media/ContainerWriter.h"
#include "output/SaveFormat.h"
#include "source/VideoPictures.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class CutEditor;

// The packet list entries where a join's range begins (the first video packet of
// each range after the first), in order, as the editor's last assembly made them.
std::vector<uint32_t> joinEntries(const CutEditor& editor, int selectionOnly);

class ContainerOutput {
public:
    using Sink = media::ContainerWriter::Sink;
    using Seek = media::ContainerWriter::Seek;

    // withAudio: the new PVA has sound, so the container gets an audio stream.
    ContainerOutput(media::Container container, bool withAudio);

    void start(Sink sink, Seek seek);
    // A join's range begins with the packet at this byte of the PVA stream.
    void markJoin(uint64_t pvaOffset) { joinMarks_.push_back(pvaOffset); }
    // Whole AV packets, in the order the PVA would hold them. False with error() set.
    bool take(const uint8_t* data, size_t size);
    // Everything held back, chapters and the trailer. False with error() set.
    bool finish();
    void abandon();
    const std::string& error() const { return error_; }

private:
    using Bytes = media::ContainerWriter::Bytes;
    struct Unit {
        bool video = false;
        Bytes bytes;               // holds the unit at offset, and more
        size_t offset = 0, size = 0;
        int64_t pts = 0, dts = 0;
        bool key = false;
    };
    struct PtsMark {
        uint64_t from, to;   // stream bytes of the packet that carried it
        uint32_t pts;
    };
    struct HeldPicture {
        Unit unit;
        uint8_t type = 0;
    };

    void takeVideo(const uint8_t* payload, uint32_t length, uint8_t flags, uint64_t pvaOffset);
    void takeAudio(const uint8_t* payload, uint32_t length);
    bool cutPictures(bool all);
    bool picture(const VideoPicture& p, const Bytes& whole);
    bool releaseHeld();
    bool cutAudioFrames();
    bool emit(Unit&& u);
    bool openMuxer();
    int64_t unwrap(uint32_t pts);

    media::Container container_;
    bool withAudio_;
    Sink sink_;
    Seek seek_;
    media::ContainerWriter writer_;
    std::string error_;
    uint64_t pvaOffset_ = 0;

    // Video: the stream bytes not cut into pictures yet, from esBase_ on.
    std::vector<uint8_t> es_;
    uint64_t esBase_ = 0;
    std::deque<PtsMark> ptsMarks_;
    uint64_t lastPtsFrom_ = UINT64_MAX;
    VideoPictures pictures_;
    std::vector<uint64_t> joinMarks_;      // PVA offsets
    size_t nextJoinMark_ = 0;
    std::vector<uint64_t> joinStreamAt_;   // the same, as video stream offsets
    // The anchor picture and the B pictures after it in coding order: the anchor's
    // decode time stamp depends on how many follow.
    std::vector<HeldPicture> held_;
    int64_t ticksPerPicture_ = 3600;
    int64_t lastPts_ = INT64_MIN;
    int64_t refPts_ = INT64_MIN;           // a picture of the current GOP with a time stamp
    int32_t refTemporal_ = 0;
    int64_t lastDts_ = INT64_MIN;
    bool haveVideo_ = false;
    media::ContainerVideo video_;
    // Chapters: the earliest time shown in each range.
    std::vector<int64_t> rangeStart_;
    int64_t lastEnd_ = 0;

    // Sound: PES bytes not taken apart yet, then the frames' bytes.
    std::vector<uint8_t> pes_;
    std::vector<uint8_t> aes_;
    uint64_t aesBase_ = 0;
    std::deque<std::pair<uint64_t, uint32_t>> audioMarks_;   // stream offset, PTS
    int64_t nextAudioPts_ = INT64_MIN;
    uint64_t audioRemainder_ = 0;
    bool haveAudio_ = false;
    media::ContainerAudio audio_;

    // Time stamps unwrapped on one clock.
    bool clockKnown_ = false;
    uint32_t clock32_ = 0;
    int64_t clock64_ = 0;

    // Before the muxer knows its streams, units wait here.
    std::vector<Unit> waiting_;
};
