#include "WriterRig.h"

#include <filesystem>
#include <regex>
#include <tuple>

using namespace writertest;
using testsupport::concat;
using testsupport::readBytes;
namespace fs = std::filesystem;

namespace {

// Whole-file saves: unit 0 starts the file and, with P pictures only, the end
// extension of the last entry reaches the end of the file.
TEST(OutputWriter, CountersRunPerStreamAndTimeStampsJoinTheNewTimeLine)
{
    PacketBuilder b = pictures(5, 3);
    for (size_t at = 0; at < b.bytes.size(); at += 8 + (b.bytes[at + 6] << 8 | b.bytes[at + 7])) b.bytes[at + 3] = 0xEE;
    Rig rig(b.bytes);
    auto out = parse(rig.saved("out.pva"));
    EXPECT_NE(rig.text().find("Save Pva: " + rig.path("out.pva") + "\r\n"), std::string::npos);
    ASSERT_EQ(out.size(), 20u);
    int video = 0, audio = 0;
    for (const Packet& p : out) EXPECT_EQ(p.h.counter, (p.h.streamId == 1 ? video : audio)++);
    EXPECT_TRUE(video == 10 && audio == 10);
    // 500 ms after the source's own start; the audio keeps its 100 ticks lead.
    EXPECT_EQ(readVideoPts(out[0].payload.data()), 45000u);
    EXPECT_EQ(decodePesPts(&out[1].payload[9]), 45100u);
    EXPECT_EQ(readVideoPts(out[4].payload.data()), 48600u);

    // Left-out audio is still counted, the video counters keep running without gaps.
    rig.app->settings.saveNoAudio = 1;
    auto videoOnly = parse(rig.saved("video.pva"));
    ASSERT_EQ(videoOnly.size(), 10u);
    for (size_t k = 0; k < videoOnly.size(); ++k)
        EXPECT_TRUE(videoOnly[k].h.streamId == 1 && videoOnly[k].h.counter == k) << k;
}

// Also packets larger than the buffer's spare room and a zero-length packet.
TEST(OutputWriter, WithoutNewTimeStampsOnlyTheCountersChange)
{
    PacketBuilder b = pictures(1, 1, 900000, 200, false);
    for (int k = 0; k < 80; ++k) b.video(std::vector<uint8_t>(65535, static_cast<uint8_t>(k)));
    b.bytes = concat({b.bytes, pictures(6, 3, 903600).bytes});
    b.raw(2, 0, {});
    Rig rig(b.bytes);
    rig.app->settings.assCalcNewPts = 0;
    std::vector<uint8_t> out = rig.saved("out.pva");
    ASSERT_EQ(out.size(), b.bytes.size());
    size_t at = 0;
    for (const Packet& p : parse(out)) {
        out[at + 3] = b.bytes[at + 3];
        at += 8 + p.h.length;
    }
    EXPECT_EQ(out, b.bytes);
}

TEST(OutputWriter, ElementaryStreamDropsTheLeadingBytesOfEachPayload)
{
    std::vector<uint8_t> ramp(100);
    for (size_t k = 0; k < ramp.size(); ++k) ramp[k] = static_cast<uint8_t>(0x80 + k);
    PacketBuilder b = pictures(1, 1, 900000, 200, false);
    b.raw(1, 0x12, ramp);                                 // time stamp + 2 bytes: from byte 6
    b.raw(1, 0x01, ramp);                                 // 1 byte: from byte 1
    b.raw(1, 0x13, {1, 2, 3, 4, 5});                      // shorter than its 7 leading bytes
    b.raw(2, 0x00, {9, 9, 9});                            // audio, left out
    b.bytes = concat({b.bytes, pictures(1, 1, 903600, 200, false).bytes});
    Rig rig(b.bytes);
    rig.app->settings.saveNoAVPacketHeader = 1;
    rig.app->settings.saveNoAudio = 1;

    auto src = parse(b.bytes);
    std::vector<uint8_t> expected;
    for (auto [k, skip] : {std::pair{0, 4}, {1, 0}, {2, 6}, {3, 1}, {6, 4}, {7, 0}})
        expected.insert(expected.end(), src[k].payload.begin() + skip, src[k].payload.end());
    EXPECT_EQ(rig.saved("out.es"), expected);
}

TEST(OutputWriter, PartNamesComeFromTheLastDotAndKeepThreeLettersOfTheExtension)
{
    const std::string n300(300, 'n');
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"film.pva", 0, "film_0.pva", "film.pva"},
        {"film.pva", 12, "film_12.pva", "film.pva"},
        {"d:\\my.dir\\film", 0, "d:\\my_0.dir", "d:\\my.dir\\film"},
        {"d:\\rec\\film", 1, "d:\\rec\\film_1.pva", "d:\\rec\\film.pva"},   // the saved name gets ".pva"
        {"news.ts", 1, "news_1.ts", "news.ts"},
        {"x.", 0, "x_0.", "x."},
        {n300 + ".pvax", 3, n300 + "_3.pva", n300 + ".pvax"},
    };
    for (auto [name, number, part, saved] : cases) {
        EXPECT_EQ(partFileName(name, number), part);
        EXPECT_EQ(name, saved);
    }
}

// A dot in a directory's name is no extension: the parts go where the name says,
// and a file beside that directory that the whole-path rule would name is left alone.
TEST(OutputWriter, PartNamesTakeTheDotOfTheFileNameOnly)
{
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"/x/my.recordings/film", 0, "/x/my.recordings/film_0.pva", "/x/my.recordings/film.pva"},
        {"/x/my.recordings/film.ts", 2, "/x/my.recordings/film_2.ts", "/x/my.recordings/film.ts"},
        {"v1.2/cut", 1, "v1.2/cut_1.pva", "v1.2/cut.pva"},
        {"/x/rec/film.pva", 3, "/x/rec/film_3.pva", "/x/rec/film.pva"},
    };
    for (auto [name, number, part, saved] : cases) {
        EXPECT_EQ(partFileName(name, number), part);
        EXPECT_EQ(name, saved);
    }

    Rig rig(bigPictures(20).bytes);
    const std::vector<uint8_t> whole = rig.saved("whole.pva");
    fs::create_directory(rig.path("my.recordings"));
    testsupport::writeBytes(rig.path("my_0.rec"), {'k', 'e', 'e', 'p'});
    rig.app->settings.splitPvaDstFile = 1;
    rig.app->settings.splitPvaDstFileSizeMB = 4;
    ASSERT_EQ(rig.save("my.recordings/film"), 1) << rig.text();
    EXPECT_EQ(readBytes(rig.path("my_0.rec")), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(fs::exists(rig.path("my_1.rec")));
    const auto parts = readParts(rig.path("my.recordings/film"));
    EXPECT_GE(parts.size(), 3u);
    EXPECT_EQ(joined(parts), whole);
    EXPECT_NE(rig.text().find("Save Pva: " + rig.path("my.recordings/film_0.pva") + "\r\n"), std::string::npos);
}

// Pictures of about 600 KB each: a split save that waits for a picture start
// always runs past the buffer's spare room.
TEST(OutputWriter, SplitPartsEndAfterAPictureStartAndJoinToTheWholeSave)
{
    Rig rig(bigPictures(20).bytes);
    const testsupport::ScopedWorkingDir inRig(rig.dir.path());
    const std::vector<uint8_t> whole = rig.saved("whole.pva");

    // 4 MB: every flush after the first opens a new part. No dot: ".pva" is added.
    rig.app->settings.splitPvaDstFile = 1;
    rig.app->settings.splitPvaDstFileSizeMB = 4;
    rig.editor->outputName = "cut";
    ASSERT_EQ(saveNewStream(*rig.editor, rig.editor->outputName.c_str(), 0, rig.operation()), 1);
    EXPECT_EQ(rig.editor->outputName, "cut.pva");
    auto parts = readParts(rig.path("cut"));
    EXPECT_GE(parts.size(), 3u);
    for (size_t k = 0; k + 1 < parts.size(); ++k) EXPECT_GE(parts[k].size(), saveFlushMark);
    EXPECT_FALSE(fs::exists(rig.path("cut.pva")));
    EXPECT_EQ(joined(parts), whole);

    // Sizes far above 4 GiB do not wrap: one part. Below 4 MB (refused where
    // settings are read, so only set by hand) a size counts as 4. 2 is not 1: no split.
    rig.app->settings.splitPvaDstFileSizeMB = 4100;
    ASSERT_EQ(rig.save("big.pva"), 1);
    EXPECT_EQ(readBytes(rig.path("big_0.pva")), whole);
    EXPECT_FALSE(fs::exists(rig.path("big_1.pva")));
    rig.app->settings.splitPvaDstFileSizeMB = 2;
    ASSERT_EQ(rig.save("small.pva"), 1);
    EXPECT_EQ(readParts(rig.path("small")), parts);
    rig.app->settings.splitPvaDstFile = 2;
    EXPECT_EQ(rig.saved("plain.pva"), whole);
}

// The file being written lives under a temporary name beside the output until
// the save is complete: a cancel removes it and leaves an earlier file as it was.
TEST(OutputWriter, CancelRemovesTheUnfinishedFileKeepsTheEarlierOneAndHidesTheControls)
{
    Rig rig(bigPictures(30).bytes);
    platform::fake::FakeControl progress, cancel;
    rig.controls = platform::ControlProgress(&progress, &cancel, nullptr);
    const std::string out = rig.path("out.pva");
    testsupport::writeBytes(out, {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
    std::string unfinished;
    uintmax_t sizeAtCancel = 0;
    rig.host.pump.onServe = [&](int) {
        EXPECT_TRUE(rig.app->busy == 1 && progress.visible && cancel.visible);
        for (const auto& e : fs::directory_iterator(rig.dir.path())) {
            const std::string name = e.path().filename().string();
            if (name != "src.pva" && name != "out.pva") unfinished = e.path().string();
        }
        std::error_code ec;
        const uintmax_t size = unfinished.empty() ? 0 : fs::file_size(unfinished, ec);
        if (!ec && size >= 3 * saveFlushMark && sizeAtCancel == 0) {
            sizeAtCancel = size;
            rig.app->settings.cancelRequested = 1;
        }
    };
    EXPECT_EQ(rig.save("out.pva"), -1);
    EXPECT_EQ(fs::path(unfinished).parent_path(), fs::path(rig.dir.path()));
    EXPECT_EQ(fs::path(unfinished).filename().string().rfind(".out.pva.", 0), 0u) << unfinished;
    EXPECT_GT(sizeAtCancel, 0u);
    EXPECT_FALSE(fs::exists(unfinished));
    EXPECT_EQ(readBytes(out), (std::vector<uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    EXPECT_NE(rig.text().find(out + " not replaced: an earlier file of that name is left as it was\r\n"),
              std::string::npos)
        << rig.text();
    EXPECT_EQ(rig.app->settings.cancelRequested, 0);
    EXPECT_FALSE(progress.visible || cancel.visible);
    EXPECT_EQ(progress.rangeHigh, 100);
    EXPECT_EQ(rig.app->busy, 0);
}

// "Sauver" saves again without asking and replaces the file; settings changed and
// a reset during a save do not reach it.
TEST(OutputWriter, SaveAgainReplacesTheFileUntouchedByChangesDuringTheSave)
{
    Rig rig(pictures(8, 4).bytes);
    platform::fake::FakeFileDialog dialog;
    dialog.cancel = true;
    EXPECT_EQ(saveDialog(*rig.editor, &dialog, 0, 0, rig.operation()), -1);
    EXPECT_TRUE(rig.editor->outputName.empty());

    dialog.cancel = false;
    dialog.answer = rig.path("out.pva");
    EXPECT_EQ(saveDialog(*rig.editor, &dialog, 1, 0, rig.operation()), 1);
    std::vector<uint8_t> first = readBytes(dialog.answer);
    testsupport::writeBytes(dialog.answer, concat({first, {0x41}}));
    rig.host.pump.onServe = [&](int) {
        rig.app->settings.saveNoAudio = 1;
        rig.app->settings.saveNoAVPacketHeader = 1;
        rig.app->settings.assCalcNewPts = 0;
        rig.editor->resetEditor();
    };
    EXPECT_EQ(saveDialog(*rig.editor, &dialog, 0, 0, rig.operation()), 1);
    EXPECT_EQ(readBytes(dialog.answer), first);
    const std::string line = "Save Pva: " + dialog.answer + "\r\n";
    EXPECT_NE(rig.text().find(line), rig.text().rfind(line));

    ASSERT_EQ(dialog.requests.size(), 2u);
    const auto& r = dialog.requests[1];
    // The two PVA filters first, then the other containers a save can write.
    ASSERT_EQ(r.filters.size(), 5u);
    EXPECT_EQ(r.title + "|" + r.filters[0].shown + "|" + r.filters[0].pattern + "|" + r.filters[1].shown,
              "set PVA file|*.pva *.pav|*.pva;*.pav|*.* ");
    EXPECT_EQ(r.filters[2].pattern + "|" + r.filters[3].pattern + "|" + r.filters[4].pattern, "*.mpg;*.vob|*.ts;*.m2ts|*.mkv");
    EXPECT_TRUE(r.confirmOverwrite && r.maxPathLength == 1023);

    // Without containers by name, the dialog has the two PVA filters alone.
    rig.host.pump.onServe = nullptr;
    rig.app->settings.saveContainerByName = 0;
    EXPECT_EQ(saveDialog(*rig.editor, &dialog, 1, 0, rig.operation()), 1);
    ASSERT_EQ(dialog.requests.size(), 3u);
    EXPECT_EQ(dialog.requests[2].filters.size(), 2u);
}

TEST(OutputWriter, RateLineOnlyAfterMoreThanFourSeconds)
{
    Rig rig(bigPictures(5).bytes);
    platform::fake::FakeControl info;
    rig.controls = platform::ControlProgress(nullptr, nullptr, &info);
    rig.saved("fast.pva");
    EXPECT_EQ(info.setTextCalls, 0);

    rig.host.clock.stepMs = 50;   // 412 packets, one reading each: 20.6 s
    rig.saved("slow.pva");
    ASSERT_EQ(info.texts.size(), 5u);
    EXPECT_TRUE(std::regex_match(info.texts.back(), std::regex("Save PVA +[0-9]+MB  [0-9]+\\.[0-9]{2} MB/s")))
        << info.texts.back();
}

TEST(OutputWriter, RefusesToOverwriteASource)
{
    const std::vector<uint8_t> bytes = bigPictures(14).bytes;
    Rig rig(bytes, "film_1.pva");
    const std::string src = rig.path("film_1.pva");
    const testsupport::ScopedWorkingDir inRig(rig.dir.path());
    fs::create_directory(rig.path("sub"));
    fs::create_hard_link(src, rig.path("link.pva"));
    for (std::string name : {src, rig.path("sub/../film_1.pva"), std::string("film_1.pva"), rig.path("link.pva")})
        EXPECT_EQ(saveNewStream(*rig.editor, name.c_str(), 0, rig.operation()), -1) << name;
    EXPECT_EQ(readBytes(src), bytes);

    // A split save whose second part would be the source: the parts go in place
    // together or not at all, so the first one, complete, is not put in place either.
    rig.app->settings.splitPvaDstFile = 1;
    rig.app->settings.splitPvaDstFileSizeMB = 4;
    EXPECT_EQ(rig.save("film.pva"), -1);
    EXPECT_EQ(readBytes(src), bytes);
    EXPECT_FALSE(fs::exists(rig.path("film_0.pva")));
    const std::string t = rig.text();
    EXPECT_NE(t.find(rig.path("film_0.pva") + " not replaced: "), std::string::npos) << t;
    EXPECT_EQ(t.find("Save Pva:"), t.find("Save Pva: " + rig.path("film_0.pva")));
    EXPECT_NE(t.find("ERROR: can't save to " + src + ": it is the source PVA file " + src + "\r\n"), std::string::npos);
    EXPECT_EQ(t.find("Save Pva: " + src), std::string::npos);
}

TEST(OutputWriter, EmptyListsWriteNothingAndAnEmptyLastFlushIsNoFailure)
{
    Rig rig;
    rig.load("src.pva", pictures(5, 3).bytes);
    EXPECT_EQ(rig.save("none.pva"), 1);
    rig.addAll();
    EXPECT_EQ(rig.save("none.pva", 1), 1);   // no list selection
    EXPECT_FALSE(testsupport::fileExists(rig.path("none.pva")));

    // A flush at the last video packet, then only audio, which is left out.
    PacketBuilder b = pictures(1, 1, 900000, 200, false);
    while (b.bytes.size() < saveFlushMark - 7000) b.video(std::vector<uint8_t>(6000, 0x11));
    std::vector<uint8_t> es = concat({testsupport::gopHeader(0), testsupport::pictureHeader(1)});
    es.resize(saveFlushMark + 100 - b.bytes.size(), 0xAA);
    b.videoPts(903600, es);
    b.audioPes(903600, std::vector<uint8_t>(100, 1)).audio(std::vector<uint8_t>(100, 2));
    Rig second(b.bytes);
    second.app->settings.saveNoAudio = 1;
    EXPECT_EQ(second.saved("out.pva").size(), b.bytes.size() - 2 * 8 - 114 - 100);
    EXPECT_EQ(second.text().find("ERROR"), std::string::npos);
}

} // namespace

// Reading runs of packets at once gives the bytes that one read per packet gives, in
// every output format, with clean joins on and off, for a list that jumps back,
// repeats a unit, and starts again inside what was just read.
TEST(OutputWriter, ReadingInRunsWritesTheBytesOfOneReadPerPacket)
{
    Rig rig(bigPictures(24, 3, 40).bytes);
    const SourceStream& src = rig.app->sources[0];
    ASSERT_GE(src.lastCutPoint, 6);
    for (auto [first, last] : {std::pair{4, 5}, {4, 4}, {1, 2}, {2, 2}, {0, 5}}) {
        rig.app->sources[0].selStart = first;
        rig.app->sources[0].selEnd = last;
        ASSERT_EQ(rig.editor->insertSrcPicPkts(true), 1);
    }
    struct Format {
        int noAudio, elementary, split, completeAudio = 1;
    };
    for (int clean = 0; clean <= 1; ++clean) {
        for (const Format f : {Format{0, 0, 0}, Format{1, 0, 0}, Format{0, 1, 0}, Format{1, 1, 0}, Format{0, 0, 1},
                               // No audio taken beyond a range: its packets are one run.
                               Format{0, 1, 0, 0}, Format{0, 0, 0, 0}}) {
            SCOPED_TRACE(testing::Message() << "clean " << clean << " no audio " << f.noAudio << " elementary "
                                            << f.elementary << " split " << f.split << " complete audio "
                                            << f.completeAudio);
            Settings& s = rig.app->settings;
            s.assCleanJoins = clean;
            s.saveNoAudio = f.noAudio;
            s.saveNoAVPacketHeader = f.elementary;
            s.splitPvaDstFile = f.split;
            s.splitPvaDstFileSizeMB = 4;
            s.assCompleteAudioPkt = f.completeAudio;
            auto saveAll = [&](const std::string& stem) {
                EXPECT_EQ(rig.save(stem + ".pva"), 1) << rig.text();
                if (!f.split) return testsupport::readBytes(rig.path(stem + ".pva"));
                std::vector<uint8_t> all;
                for (int k = 0; testsupport::fileExists(rig.path(stem + "_" + std::to_string(k) + ".pva")); ++k) {
                    const auto part = testsupport::readBytes(rig.path(stem + "_" + std::to_string(k) + ".pva"));
                    all.insert(all.end(), part.begin(), part.end());
                }
                return all;
            };
            setSaveReadRunLimit(0);
            const std::vector<uint8_t> perPacket = saveAll("one" + std::to_string(clean));
            setSaveReadRunLimit(UINT32_MAX);
            const std::vector<uint8_t> inRuns = saveAll("runs" + std::to_string(clean));
            EXPECT_GT(inRuns.size(), saveFlushMark);
            EXPECT_TRUE(inRuns == perPacket);
        }
    }
}
