#include "WriterRig.h"

#include <filesystem>
#include <regex>
#include <unistd.h>

using namespace writertest;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

// Whole-file saves: unit 0 starts the file and, with P pictures only, the end
// extension of the last entry reaches the end of the file.
TEST(OutputWriter, CountersRunPerStreamAndTimeStampsJoinTheNewTimeLine)
{
    Rig rig;
    PacketBuilder b = pictures(5, 3);
    for (size_t at = 0; at < b.bytes.size(); at += 8 + (b.bytes[at + 6] << 8 | b.bytes[at + 7])) b.bytes[at + 3] = 0xEE;
    rig.load("src.pva", b.bytes);
    rig.add(0);
    ASSERT_EQ(rig.save("out.pva"), 1);

    auto out = parse(readBytes(rig.path("out.pva")));
    ASSERT_EQ(out.size(), 20u);
    int video = 0, audio = 0;
    for (const Packet& p : out) {
        int& expected = p.h.streamId == 1 ? video : audio;
        EXPECT_EQ(p.h.counter, expected++);
    }
    EXPECT_EQ(video, 10);
    EXPECT_EQ(audio, 10);
    // 500 ms after the source's own start; the audio keeps its 100 ticks lead.
    EXPECT_EQ(readVideoPts(out[0].payload.data()), 45000u);
    EXPECT_EQ(decodePesPts(&out[1].payload[9]), 45100u);
    EXPECT_EQ(readVideoPts(out[4].payload.data()), 48600u);
    EXPECT_NE(rig.text().find("Save Pva: " + rig.path("out.pva") + "\r\n"), std::string::npos);
    EXPECT_EQ(rig.app->saveRunning, 0);

    // Left-out audio is still counted, the video counters keep running without gaps.
    rig.app->settings.saveNoAudio = 1;
    ASSERT_EQ(rig.save("video.pva"), 1);
    auto videoOnly = parse(readBytes(rig.path("video.pva")));
    ASSERT_EQ(videoOnly.size(), 10u);
    for (size_t k = 0; k < videoOnly.size(); ++k) {
        EXPECT_EQ(videoOnly[k].h.streamId, 1);
        EXPECT_EQ(videoOnly[k].h.counter, k);
    }
}

TEST(OutputWriter, WithoutNewTimeStampsOnlyTheCountersChange)
{
    Rig rig;
    PacketBuilder b = pictures(6, 3);
    b.raw(2, 0, {});   // a zero-length packet: its header alone
    rig.load("src.pva", b.bytes);
    rig.app->settings.assCalcNewPts = 0;
    rig.add(0);
    ASSERT_EQ(rig.save("out.pva"), 1);

    std::vector<uint8_t> out = readBytes(rig.path("out.pva"));
    ASSERT_EQ(out.size(), b.bytes.size());
    auto packets = parse(out);
    size_t at = 0;
    for (const Packet& p : packets) {
        out[at + 3] = b.bytes[at + 3];
        at += 8 + p.h.length;
    }
    EXPECT_EQ(out, b.bytes);
}

TEST(OutputWriter, ElementaryStreamDropsTheLeadingBytesOfEachPayload)
{
    Rig rig;
    std::vector<uint8_t> ramp(100);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<uint8_t>(0x80 + k);
    PacketBuilder b = pictures(1, 1, 900000, 200, false);
    b.raw(1, 0x12, ramp);                                 // time stamp + 2 bytes: from byte 6
    b.raw(1, 0x01, ramp);                                 // 1 byte: from byte 1
    b.raw(1, 0x13, {1, 2, 3, 4, 5});                      // shorter than its 7 leading bytes
    b.raw(2, 0x00, {9, 9, 9});                            // audio, left out
    PacketBuilder tail = pictures(1, 1, 903600, 200, false);
    b.bytes.insert(b.bytes.end(), tail.bytes.begin(), tail.bytes.end());
    rig.load("src.pva", b.bytes);
    rig.app->settings.saveNoAVPacketHeader = 1;
    rig.app->settings.saveNoAudio = 1;
    rig.add(0);
    ASSERT_EQ(rig.save("out.es"), 1);

    auto src = parse(b.bytes);
    std::vector<uint8_t> expected;
    auto from = [&](const Packet& p, size_t k) {
        expected.insert(expected.end(), p.payload.begin() + static_cast<long>(k), p.payload.end());
    };
    from(src[0], 4);
    from(src[1], 0);
    from(src[2], 6);
    from(src[3], 1);
    from(src[6], 4);
    from(src[7], 0);
    EXPECT_EQ(readBytes(rig.path("out.es")), expected);
}

TEST(OutputWriter, PartNamesComeFromTheLastDotOfTheWholeName)
{
    std::string film = "film.pva", myDir = "d:\\my.dir\\film", rec = "d:\\rec\\film", ts = "news.ts", dotEnd = "x.";
    EXPECT_EQ(partFileName(film, 0), "film_0.pva");
    EXPECT_EQ(partFileName(film, 12), "film_12.pva");
    EXPECT_EQ(partFileName(myDir, 0), "d:\\my_0.dir");
    EXPECT_EQ(myDir, "d:\\my.dir\\film");
    EXPECT_EQ(partFileName(rec, 1), "d:\\rec\\film_1.pva");
    EXPECT_EQ(rec, "d:\\rec\\film.pva");
    EXPECT_EQ(partFileName(ts, 1), "news_1.ts");
    EXPECT_EQ(partFileName(dotEnd, 0), "x_0.");
    std::string longName(300, 'n');
    longName += ".pvax";
    EXPECT_EQ(partFileName(longName, 3), std::string(300, 'n') + "_3.pva");
}

// Pictures of about 600 KB each, in packets of 6,000 bytes: a split save that
// waits for a picture start always runs past the buffer's spare room.
PacketBuilder bigPictures(int count)
{
    PacketBuilder b;
    for (int k = 0; k < count; ++k) {
        std::vector<uint8_t> es = k % 4 == 0
            ? testsupport::concat({testsupport::gopHeader(0x00080000), testsupport::pictureHeader(1)})
            : testsupport::pictureHeader(2);
        es.resize(5000, 0xAA);
        b.videoPts(900000 + static_cast<uint32_t>(k) * 3600, es);
        b.audioPes(900000 + static_cast<uint32_t>(k) * 3600, std::vector<uint8_t>(500, 0x55));
        for (int d = 0; d < 100; ++d) b.video(std::vector<uint8_t>(6000, static_cast<uint8_t>(k)));
    }
    return b;
}

TEST(OutputWriter, SplitPartsEndAfterAPictureStartAndJoinToTheWholeSave)
{
    Rig rig;
    ASSERT_EQ(chdir(rig.dir.path().c_str()), 0);
    rig.load("src.pva", bigPictures(20).bytes);
    rig.add(0);
    ASSERT_EQ(rig.save("whole.pva"), 1);
    std::vector<uint8_t> whole = readBytes(rig.path("whole.pva"));

    // 4 MB: every flush after the first opens a new part. No dot: ".pva" is added.
    rig.app->settings.splitPvaDstFile = 1;
    rig.app->settings.splitPvaDstFileSizeMB = 4;
    rig.editor->outputName = "cut";
    ASSERT_EQ(saveNewStream(*rig.editor, rig.editor->outputName.c_str(), 0), 1);
    EXPECT_EQ(rig.editor->outputName, "cut.pva");

    std::vector<uint8_t> joined;
    int parts = 0;
    for (; std::filesystem::exists(rig.path("cut_" + std::to_string(parts) + ".pva")); ++parts) {
        std::vector<uint8_t> part = readBytes(rig.path("cut_" + std::to_string(parts) + ".pva"));
        auto packets = parse(part);
        ASSERT_FALSE(packets.empty());
        if (std::filesystem::exists(rig.path("cut_" + std::to_string(parts + 1) + ".pva"))) {
            EXPECT_EQ(packets.back().h.streamId, 1) << "part " << parts;
            EXPECT_EQ(packets.back().h.flags, 0x10) << "part " << parts;
            EXPECT_GE(part.size(), saveFlushMark);
        }
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_GE(parts, 3);
    EXPECT_FALSE(std::filesystem::exists(rig.path("cut.pva")));
    EXPECT_EQ(joined, whole);

    // A size of 2 MB wraps the threshold to 4094 MiB: one part; 2 is not 1: no split.
    rig.app->settings.splitPvaDstFileSizeMB = 2;
    ASSERT_EQ(rig.save("small.pva"), 1);
    EXPECT_EQ(readBytes(rig.path("small_0.pva")), whole);
    rig.app->settings.splitPvaDstFile = 2;
    ASSERT_EQ(rig.save("plain.pva"), 1);
    EXPECT_EQ(readBytes(rig.path("plain.pva")), whole);
}

TEST(OutputWriter, PacketsLargerThanTheSpareRoomAreCopiedWhole)
{
    Rig rig;
    PacketBuilder b = pictures(1, 1, 900000, 200, false);
    for (int k = 0; k < 80; ++k) b.video(std::vector<uint8_t>(65535, static_cast<uint8_t>(k)));
    PacketBuilder tail = pictures(2, 1, 903600, 200, false);
    b.bytes.insert(b.bytes.end(), tail.bytes.begin(), tail.bytes.end());
    rig.load("src.pva", b.bytes);
    rig.app->settings.assCalcNewPts = 0;
    rig.add(0);
    ASSERT_EQ(rig.save("out.pva"), 1);
    auto out = parse(readBytes(rig.path("out.pva")));
    auto src = parse(b.bytes);
    ASSERT_EQ(out.size(), src.size());
    for (size_t k = 0; k < out.size(); ++k) EXPECT_EQ(out[k].payload, src[k].payload) << k;
}

TEST(OutputWriter, CancelKeepsExactlyTheFlushesDoneAndHidesTheControls)
{
    Rig rig;
    platform::fake::FakeControl progress, cancel;
    rig.app->settings.saveProgress = &progress;
    rig.app->settings.saveCancelButton = &cancel;
    rig.load("src.pva", bigPictures(30).bytes);
    rig.add(0);
    const std::string out = rig.path("out.pva");
    uintmax_t sizeAtCancel = 0;
    rig.host.pump.onServe = [&](int) {
        EXPECT_EQ(rig.app->saveRunning, 1);
        EXPECT_TRUE(progress.visible && cancel.visible);
        std::error_code ec;
        uintmax_t size = std::filesystem::file_size(out, ec);
        if (!ec && size >= 3 * saveFlushMark && sizeAtCancel == 0) {
            sizeAtCancel = size;
            rig.app->settings.cancelRequested = 1;
        }
    };
    EXPECT_EQ(rig.save("out.pva"), -1);
    EXPECT_GT(sizeAtCancel, 0u);
    EXPECT_LT(sizeAtCancel, 4 * saveFlushMark);
    EXPECT_EQ(std::filesystem::file_size(out), sizeAtCancel);
    EXPECT_EQ(rig.app->settings.cancelRequested, 0);
    EXPECT_FALSE(progress.visible);
    EXPECT_FALSE(cancel.visible);
    EXPECT_EQ(progress.rangeHigh, 100);
    EXPECT_EQ(rig.app->saveRunning, 0);
}

TEST(OutputWriter, SettingsAndResetDuringASaveDoNotReachIt)
{
    Rig rig;
    rig.load("src.pva", pictures(8, 4).bytes);
    rig.add(0);
    ASSERT_EQ(rig.save("first.pva"), 1);
    rig.host.pump.onServe = [&](int) {
        rig.app->settings.saveNoAudio = 1;
        rig.app->settings.saveNoAVPacketHeader = 1;
        rig.app->settings.assCalcNewPts = 0;
        rig.editor->resetEditor();
    };
    ASSERT_EQ(rig.save("second.pva"), 1);
    EXPECT_EQ(readBytes(rig.path("second.pva")), readBytes(rig.path("first.pva")));
}

TEST(OutputWriter, SaveAgainAsksOnceAndReplacesTheOldFile)
{
    Rig rig;
    rig.load("src.pva", pictures(5, 3).bytes);
    rig.add(0);
    platform::fake::FakeFileDialog dialog;
    dialog.cancel = true;
    EXPECT_EQ(saveDialog(*rig.editor, &dialog, 0, 0), -1);
    EXPECT_TRUE(rig.editor->outputName.empty());

    dialog.cancel = false;
    dialog.answer = rig.path("out.pva");
    EXPECT_EQ(saveDialog(*rig.editor, &dialog, 1, 0), 1);
    std::vector<uint8_t> first = readBytes(dialog.answer);
    std::vector<uint8_t> spoiled = first;
    spoiled.push_back(0x41);
    writeBytes(dialog.answer, spoiled);
    EXPECT_EQ(saveDialog(*rig.editor, &dialog, 0, 0), 1);   // "Sauver": no question
    EXPECT_EQ(readBytes(dialog.answer), first);

    ASSERT_EQ(dialog.requests.size(), 2u);
    const auto& r = dialog.requests[1];
    EXPECT_EQ(r.title, "set PVA file");
    ASSERT_EQ(r.filters.size(), 2u);
    EXPECT_EQ(r.filters[0].shown, "*.pva *.pav");
    EXPECT_EQ(r.filters[0].pattern, "*.pva;*.pav");
    EXPECT_EQ(r.filters[1].shown, "*.* ");
    EXPECT_TRUE(r.confirmOverwrite);
    EXPECT_EQ(r.maxPathLength, 1023);
    const std::string t = rig.text();
    const std::string line = "Save Pva: " + dialog.answer + "\r\n";
    EXPECT_NE(t.find(line), t.rfind(line));
}

TEST(OutputWriter, RateLineOnlyAfterMoreThanFourSeconds)
{
    Rig rig;
    platform::fake::FakeControl info;
    rig.app->settings.listInfoLine = &info;
    rig.load("src.pva", bigPictures(5).bytes);
    rig.add(0);
    ASSERT_EQ(rig.save("fast.pva"), 1);
    EXPECT_EQ(info.setTextCalls, 0);

    rig.host.clock.stepMs = 50;   // 408 packets, one reading each: 20.4 s
    ASSERT_EQ(rig.save("slow.pva"), 1);
    ASSERT_EQ(info.texts.size(), 5u);
    EXPECT_TRUE(std::regex_match(info.texts.back(), std::regex("Save PVA +[0-9]+MB  [0-9]+\\.[0-9]{2} MB/s")))
        << info.texts.back();
}

TEST(OutputWriter, RefusesToOverwriteASource)
{
    Rig rig;
    ASSERT_EQ(chdir(rig.dir.path().c_str()), 0);
    std::vector<uint8_t> bytes = bigPictures(14).bytes;
    const std::string src = rig.load("film_1.pva", bytes);
    rig.add(0);
    std::filesystem::create_directory(rig.path("sub"));
    std::filesystem::create_hard_link(src, rig.path("link.pva"));

    for (std::string name : {src, rig.path("sub/../film_1.pva"), std::string("film_1.pva"), rig.path("link.pva")}) {
        EXPECT_EQ(saveNewStream(*rig.editor, name.c_str(), 0), -1) << name;
        EXPECT_EQ(readBytes(src), bytes);
    }
    // A split save whose second part would be the source: the first part is written.
    rig.app->settings.splitPvaDstFile = 1;
    rig.app->settings.splitPvaDstFileSizeMB = 4;
    EXPECT_EQ(rig.save("film.pva"), -1);
    EXPECT_EQ(readBytes(src), bytes);
    EXPECT_GE(std::filesystem::file_size(rig.path("film_0.pva")), saveFlushMark);
    const std::string t = rig.text();
    EXPECT_EQ(t.find("Save Pva:"), t.find("Save Pva: " + rig.path("film_0.pva")));
    EXPECT_NE(t.find("ERROR: can't save to " + src + ": it is the source PVA file " + src + "\r\n"), std::string::npos);
    EXPECT_EQ(t.find("Save Pva: " + src), std::string::npos);
}

TEST(OutputWriter, EmptyListsWriteNothingAndAnEmptyLastFlushIsNoFailure)
{
    Rig rig;
    rig.load("src.pva", pictures(5, 3).bytes);
    EXPECT_EQ(rig.save("none.pva"), 1);
    EXPECT_FALSE(testsupport::fileExists(rig.path("none.pva")));
    rig.add(0);
    EXPECT_EQ(rig.save("none.pva", 1), 1);   // no list selection
    EXPECT_FALSE(testsupport::fileExists(rig.path("none.pva")));

    // A flush at the last video packet, then only audio, which is left out.
    PacketBuilder b = pictures(1, 1, 900000, 200, false);
    while (b.bytes.size() < saveFlushMark - 7000) b.video(std::vector<uint8_t>(6000, 0x11));
    std::vector<uint8_t> es = testsupport::concat({testsupport::gopHeader(0), testsupport::pictureHeader(1)});
    es.resize(saveFlushMark + 100 - b.bytes.size(), 0xAA);
    b.videoPts(903600, es);
    b.audioPes(903600, std::vector<uint8_t>(100, 1)).audio(std::vector<uint8_t>(100, 2));
    Rig second;
    second.load("src.pva", b.bytes);
    second.app->settings.saveNoAudio = 1;
    second.add(0);
    EXPECT_EQ(second.save("out.pva"), 1) << second.text();
    EXPECT_EQ(second.text().find("ERROR"), std::string::npos);
    EXPECT_EQ(readBytes(second.path("out.pva")).size(), b.bytes.size() - 2 * 8 - 114 - 100);
}

} // namespace
