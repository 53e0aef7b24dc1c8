#pragma once
// A small world for writer tests: a console, the application object and the
// editor over hand-made recordings in a scratch directory.
#include "cut/CutEditor.h"
#include "output/OutputWriter.h"
#include "platform/fake/Fakes.h"
#include "shell/LogConsole.h"
#include "source/PvaPacket.h"
#include "source/SourceAnalyser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace writertest {

using testsupport::PacketBuilder;

// `count` pictures, an I picture every `iEvery` (the others P, so a last entry's
// end extension runs to the end of the file), each as a video packet with a time
// stamp, `videoBytes` of picture data, one audio PES packet, one audio
// continuation and one video continuation.
inline PacketBuilder pictures(int count, int iEvery, uint32_t firstPts = 900000, size_t videoBytes = 200,
                              bool withAudio = true)
{
    PacketBuilder b;
    for (int k = 0; k < count; ++k) {
        std::vector<uint8_t> es = k % iEvery == 0
            ? testsupport::concat({testsupport::gopHeader(0x00080000), testsupport::pictureHeader(1)})
            : testsupport::pictureHeader(2);
        es.resize(videoBytes, 0xAA);
        const uint32_t pts = firstPts + static_cast<uint32_t>(k) * 3600;
        b.videoPts(pts, es);
        if (withAudio) {
            b.audioPes(pts + 100, std::vector<uint8_t>(50, static_cast<uint8_t>(0x30 + k)));
            b.audio(std::vector<uint8_t>(30, 0x77));
        }
        b.video(std::vector<uint8_t>(100, static_cast<uint8_t>(0x40 + k)));
    }
    return b;
}

struct Packet {
    PvaPacketHeader h;
    std::vector<uint8_t> payload;
};

inline std::vector<Packet> parse(const std::vector<uint8_t>& bytes)
{
    std::vector<Packet> out;
    size_t at = 0;
    while (at + 8 <= bytes.size()) {
        Packet p{readPacketHeader(&bytes[at]), {}};
        EXPECT_TRUE(hasAvSync(&bytes[at])) << "no packet header at " << at;
        if (!hasAvSync(&bytes[at]) || at + 8 + p.h.length > bytes.size()) break;
        const auto begin = bytes.begin() + static_cast<long>(at + 8);
        p.payload.assign(begin, begin + p.h.length);
        out.push_back(p);
        at += 8 + p.h.length;
    }
    EXPECT_EQ(at, bytes.size()) << "trailing bytes";
    return out;
}

struct Rig {
    platform::fake::ScopedFakeHost host;
    testsupport::ScratchDir dir{"writer"};
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    std::unique_ptr<SourceAnalyser> app = std::make_unique<SourceAnalyser>(log.get());
    std::unique_ptr<CutEditor> editor = std::make_unique<CutEditor>(*app);

    Rig()
    {
        log->attachWindow(nullptr, 1001);
        fileAccessProbe().reset();
    }
    ~Rig() { fileAccessProbe().reset(); }

    std::string path(const std::string& name) const { return dir.file(name); }

    // Writes the recording and scans it into the next slot.
    std::string load(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::string p = path(name);
        testsupport::writeBytes(p, bytes);
        EXPECT_EQ(app->scanSource(p.c_str(), 0), 1) << log->text();
        return p;
    }

    // Appends units first..last of source s (all units when last is -1).
    void add(int s, int first = 0, int last = -1)
    {
        SourceStream& src = app->sources[s];
        app->currentSource = s;
        src.selStart = first;
        src.selEnd = last < 0 ? src.lastCutPoint - 1 : last;
        ASSERT_EQ(editor->insertSrcPicPkts(true), 1);
    }

    int save(const std::string& name, int selectionOnly = 0)
    {
        return saveNewStream(*editor, path(name).c_str(), selectionOnly);
    }

    std::string text() const { return log->text(); }
};

} // namespace writertest
