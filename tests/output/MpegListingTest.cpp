#include "output/MpegListing.h"
#include "platform/fake/Fakes.h"
#include "core/LogConsole.h"
#include "source/PictureAnalysis.h"
#include "source/SourceAnalyser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>

using namespace testsupport;

namespace {

struct ListingRig {
    ScratchDir dir{"listing"};
    ScopedWorkingDir inDir{dir.path()};
    std::unique_ptr<LogConsole> log = std::make_unique<LogConsole>();
    ListingRig() { log->attachWindow(nullptr, 1001); }
};

TEST(MpegListing, ListsGopAndPictureLinesIntoOutTxtUnlessTheFileIsMissing)
{
    ListingRig rig;
    writeBytes(rig.dir.file("one.mpg"), {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x20, 0x40, 0x00, 0x00, 0x01, 0x00, 0x00,
                                         0x0F, 0xF8, 0x00, 0x00, 0x00});
    writeBytes(rig.dir.file("empty.mpg"), {});
    writeBytes(rig.dir.file("out.txt"), {'o', 'l', 'd'});
    EXPECT_EQ(listMpegFile(*rig.log, rig.dir.file("one.mpg").c_str()), 1);
    EXPECT_EQ(readText("out.txt"), " GOP:  00:00:01.00  Fr:8: 0 f   ->1\n\nSize: 18 Frames 1\n");
    EXPECT_FALSE(rig.log->fileCopy());
    EXPECT_TRUE(rig.log->display());
    EXPECT_EQ(listMpegFile(*rig.log, rig.dir.file("empty.mpg").c_str()), 1);
    EXPECT_EQ(readText("out.txt"), "\nSize: 0 Frames 0\n");

    rig.log->setFileName("other.txt");
    EXPECT_EQ(listMpegFile(*rig.log, rig.dir.file("none.mpg").c_str()), -1);
    EXPECT_EQ(readText("out.txt"), "\nSize: 0 Frames 0\n");
    EXPECT_STREQ(rig.log->fileName(), "other.txt");
    EXPECT_NE(std::string(rig.log->text()).find("ERROR: can't read " + rig.dir.file("none.mpg")), std::string::npos);

    platform::fake::FakeFileDialog dialog;
    dialog.cancel = true;
    EXPECT_EQ(openMpegFileDialog(*rig.log, &dialog), -1);
    dialog.cancel = false;
    dialog.answer = rig.dir.file("none.mpg");
    EXPECT_EQ(openMpegFileDialog(*rig.log, &dialog), 1);
    ASSERT_EQ(dialog.requests.size(), 2u);
    const auto& r = dialog.requests[0];
    EXPECT_EQ(r.title + "|" + r.filters[0].shown + "|" + r.filters[0].pattern, "set PVA file|.mpg file|*.mpg");
    EXPECT_TRUE(r.mustExist);

    // After a scan log, the listing still goes to out.txt and the log is left alone.
    SourceAnalyser app(*rig.log);
    const std::vector<uint8_t> iPicture = concat({gopHeader(0), pictureHeader(1), std::vector<uint8_t>(20, 0xAA)});
    writeBytes(rig.dir.file("rec.pva"), PacketBuilder().videoPts(900000, iPicture).videoPts(903600, iPicture).bytes);
    ASSERT_EQ(app.scanSource(rig.dir.file("rec.pva").c_str(), 1, platform::quietOperation(app.settings.cancelRequested)), 1);
    const std::string scanLog = readText(rig.dir.file("rec.pva.txt"));
    ASSERT_FALSE(scanLog.empty());

    writeBytes(rig.dir.file("es.mpg"), concat({pictureHeader(2), std::vector<uint8_t>(10, 0xAA)}));
    EXPECT_EQ(listMpegFile(*rig.log, rig.dir.file("es.mpg").c_str()), 1);
    EXPECT_EQ(readText("out.txt"), " Fr:0: 0 17   ->2\n\nSize: 18 Frames 1\n");
    EXPECT_EQ(readText(rig.dir.file("rec.pva.txt")), scanLog);
    EXPECT_STREQ(rig.log->fileName(), "out.txt");
}

// "out.txt" is emptied before the listing is written: listing it (by any name)
// would destroy the input. A listing that cannot be written is said once and fails.
TEST(MpegListing, RefusesToListTheListingFileAndReportsAListingItCannotWrite)
{
    ListingRig rig;
    const std::vector<uint8_t> es = concat({gopHeader(0), pictureHeader(1), std::vector<uint8_t>(20, 0xAA)});
    writeBytes("out.txt", es);
    std::filesystem::create_symlink("out.txt", "linked.m2v");
    std::filesystem::create_hard_link("out.txt", "hard.m2v");
    for (const std::string& name : {std::string("out.txt"), rig.dir.file("out.txt"), std::string("linked.m2v"),
                                   std::string("hard.m2v")}) {
        rig.log->clear();
        EXPECT_EQ(listMpegFile(*rig.log, name.c_str()), -1) << name;
        EXPECT_STREQ(rig.log->text(), ("ERROR: can't list " + name + ": it is the listing file out.txt\r\n").c_str());
        EXPECT_EQ(readBytes("out.txt"), es);
    }
    // Another file of that name is only a name.
    std::filesystem::create_directory("sub");
    writeBytes("sub/out.txt", es);
    EXPECT_EQ(listMpegFile(*rig.log, "sub/out.txt"), 1);
    EXPECT_EQ(readText("out.txt"), " GOP:  00:00:00.00  Fr:8: 0 f   ->1\n\nSize: 36 Frames 1\n");

    std::filesystem::remove("out.txt");
    std::filesystem::create_directories("out.txt/inside");
    rig.log->clear();
    EXPECT_EQ(listMpegFile(*rig.log, "sub/out.txt"), -1);
    EXPECT_STREQ(rig.log->text(), "ERROR: can't write out.txt\r\n");
    EXPECT_TRUE(!rig.log->fileCopy() && rig.log->display());
    EXPECT_TRUE(std::filesystem::is_directory("out.txt/inside"));
}

// A file larger than the buffer is listed in parts; start codes around the seam
// must come out once each, at their file positions, as a single pass would list them.
TEST(MpegListing, LargeFilesAreListedInPartsLikeOnePass)
{
    ListingRig rig;
    const size_t seam = mpegListingBufferSize;
    for (int variant = 0; variant < 12; ++variant) {
        std::vector<uint8_t> data(seam + 100000, 0xAA);
        auto put = [&](size_t at, const std::vector<uint8_t>& code) {
            std::memcpy(&data[at], code.data(), code.size());
        };
        for (size_t at = 0; at + 1000 < data.size(); at += 37000) put(at, pictureHeader(1 + at % 3));
        put(seam - 40, pictureHeader(3));
        put(seam - 20, gopHeader(0x12345678));
        const size_t g = seam - 10 + static_cast<size_t>(variant / 2);
        put(g, variant % 2 ? gopHeader(0x00082040) : pictureHeader(2));
        put(seam + 12, pictureHeader(1));
        writeBytes(rig.dir.file("big.mpg"), data);

        LogConsole reference;
        reference.attachWindow(nullptr, 1001);
        reference.setFileName(rig.dir.file("expected.txt").c_str());
        deleteFile(rig.dir.file("expected.txt").c_str());
        reference.setFileCopy(1);
        int32_t iCount = 0, pictures = 0, gops = 0;
        uint8_t type = 0;
        uint32_t word = 0;
        analysePictures(data.data(), static_cast<uint32_t>(data.size()), iCount, pictures, gops, type, word, 2,
                        reference);

        ASSERT_EQ(listMpegFile(*rig.log, rig.dir.file("big.mpg").c_str()), 1);
        EXPECT_EQ(readText("out.txt"), readText(rig.dir.file("expected.txt")) + "\nSize: " + std::to_string(data.size())
                      + " Frames " + std::to_string(pictures) + "\n")
            << "variant " << variant;
    }
}

} // namespace
