#pragma once
// A small world for writer tests: a console, the application object and the
// editor over hand-made recordings in a scratch directory.
#include "cut/CutEditor.h"
#include "output/OutputWriter.h"
#include "platform/fake/Fakes.h"
#include "platform/fake/FaultySystemCalls.h"
#include "core/LogConsole.h"
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
// end extension runs on to the end of the file when that is near), each as a
// video packet with a time stamp and `videoBytes` of picture data, one audio PES
// packet, one audio continuation and `dataPackets` video continuations.
inline PacketBuilder pictures(int count, int iEvery, uint32_t firstPts = 900000, size_t videoBytes = 200,
                              bool withAudio = true, int dataPackets = 1, size_t dataBytes = 100)
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
        for (int d = 0; d < dataPackets; ++d) b.video(std::vector<uint8_t>(dataBytes, static_cast<uint8_t>(0x40 + k)));
    }
    return b;
}

// Pictures of about 600 KB in 6,000-byte packets: more than the end extension looks ahead.
inline PacketBuilder bigPictures(int count, int iEvery = 4, int dataPackets = 100)
{
    return pictures(count, iEvery, 900000, 5000, true, dataPackets, 6000);
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

// The parts stem_0.pva, stem_1.pva, ... of a split save, each made of whole
// packets; all but the last end with the first packet of a picture.
inline std::vector<std::vector<uint8_t>> readParts(const std::string& stem)
{
    std::vector<std::vector<uint8_t>> parts;
    for (std::string p; testsupport::fileExists(p = stem + "_" + std::to_string(parts.size()) + ".pva");)
        parts.push_back(testsupport::readBytes(p));
    for (size_t k = 0; k < parts.size(); ++k) {
        auto packets = parse(parts[k]);
        EXPECT_FALSE(packets.empty()) << "part " << k;
        const bool pictureStartLast = !packets.empty() && packets.back().h.streamId == 1 && packets.back().h.flags == 0x10;
        EXPECT_TRUE(pictureStartLast || k + 1 == parts.size()) << "part " << k;
    }
    return parts;
}

inline std::vector<uint8_t> joined(const std::vector<std::vector<uint8_t>>& parts)
{
    std::vector<uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Rig {
    platform::fake::FakeOperation host;
    // What saves show their progress on: nothing unless a test gives it controls.
    platform::ControlProgress controls;
    testsupport::ScratchDir dir{"writer"};
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    std::unique_ptr<SourceAnalyser> app = std::make_unique<SourceAnalyser>(*log);
    std::unique_ptr<CutEditor> editor = std::make_unique<CutEditor>(*app);

    Rig()
    {
        log->attachWindow(nullptr, 1001);
        fileAccessProbe().reset();
        // These tests pin the plain assembly and writer; clean joins have their own.
        app->settings.assCleanJoins = 0;
    }
    // With `source` written to `name`, scanned, and all its units in the cut list.
    explicit Rig(const std::vector<uint8_t>& source, const std::string& name = "src.pva") : Rig()
    {
        load(name, source);
        addAll();
    }
    ~Rig() { fileAccessProbe().reset(); }

    std::string path(const std::string& name) const { return dir.file(name); }
    platform::OperationContext operation() { return host.context(controls, app->settings.cancelRequested); }
    std::string text() const { return log->text(); }

    // Writes the recording and scans it into the next slot.
    std::string load(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        testsupport::writeBytes(path(name), bytes);
        EXPECT_EQ(app->scanSource(path(name).c_str(), 0, operation()), 1) << text();
        return path(name);
    }

    // Appends all units of source s.
    void addAll(int s = 0)
    {
        app->currentSource = s;
        app->sources[s].selStart = 0;
        app->sources[s].selEnd = app->sources[s].lastCutPoint - 1;
        ASSERT_EQ(editor->insertSrcPicPkts(true), 1);
    }

    int save(const std::string& name, int selectionOnly = 0)
    {
        return saveNewStream(*editor, path(name).c_str(), selectionOnly, operation());
    }
    // A save that must succeed; returns the file written.
    std::vector<uint8_t> saved(const std::string& name)
    {
        EXPECT_EQ(save(name), 1) << text();
        return testsupport::readBytes(path(name));
    }
};

} // namespace writertest
