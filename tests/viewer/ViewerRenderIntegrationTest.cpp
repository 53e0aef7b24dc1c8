// DVD2AVI_PVAVIEW --render against an independent decode: the ffmpeg program reads
// the clip's video as orvane-cli writes it bare, and each rendered picture must be
// the one with the same time stamp, pixel for pixel after the colour conversion.
#include "support/ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

using namespace testsupport;
using namespace viewertest;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

RunResult render(const std::string& file, uint64_t position, const std::string& png, const std::string& size = {})
{
    return run(q(binary("DVD2AVI_PVAVIEW")) + " --render " + q(file) + " " + std::to_string(position) + " " + q(png) +
               (size.empty() ? "" : " --size " + size));
}

class ViewerRender : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new ScratchDir("vwrender");
        const std::string clip = sample("clip.pva");
        const auto units = cutPoints(clip, false);
        ASSERT_GT(units.size(), 4u);
        const std::string video = dir_->file("video.m2v");
        const RunResult cut = run(q(binary("orvane-cli")) + " --set assCleanJoins=0 --set saveNoAVPacketHeader=1 --set saveNoAudio=1 cut -o " +
                                  q(video) + " --add 0:0-" + std::to_string(units.size() - 1) + " " + q(clip));
        ASSERT_EQ(cut.status, 0) << cut.out << cut.err;
        frames_ = new YuvFrames(decodeWithFfmpeg(video));

        // The bare video holds the first pictures of the clip in file order, as many
        // as it has picture start codes; in display order they follow their time stamps.
        const auto es = readBytes(video);
        size_t pictures = 0;
        for (size_t i = 0; i + 3 < es.size(); ++i)
            if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0) ++pictures;
        std::vector<uint32_t> times;
        for (const SamplePacket& p : samplePackets("clip.pva"))
            if (p.streamId == 1 && p.types != "-" && times.size() < pictures) times.push_back(p.pts);
        std::sort(times.begin(), times.end());
        displayIndex_ = new std::map<uint32_t, size_t>;
        for (size_t i = 0; i < times.size(); ++i) (*displayIndex_)[times[i]] = i;
        ASSERT_EQ(frames_->count(), times.size());
        startPts_ = static_cast<uint32_t>(sampleInfoInt("clip.pva", "first_vpts"));
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        delete frames_;
        delete displayIndex_;
    }

    // Renders the picture at a cut point and compares it with the independent decode.
    void expectSamePicture(const CutPoint& c)
    {
        const std::string png = dir_->file("p.png");
        const RunResult r = render(sample("clip.pva"), c.offset, png);
        ASSERT_EQ(r.status, 0) << c.offset << ": " << r.err;
        const auto at = displayIndex_->find(c.vpts + startPts_);
        ASSERT_NE(at, displayIndex_->end()) << c.offset;
        const QImage picture(QString::fromStdString(png));
        const size_t i = at->second;
        EXPECT_GE(psnr(picture, *frames_, i), 45.0) << c.type << " picture at " << c.offset;
        // The comparison tells neighbours apart.
        if (i > 0) {
            EXPECT_LT(psnr(picture, *frames_, i - 1), 40.0) << c.offset;
        }
        if (i + 1 < frames_->count()) {
            EXPECT_LT(psnr(picture, *frames_, i + 1), 40.0) << c.offset;
        }
        EXPECT_EQ(r.out.substr(0, 1), std::string(1, c.type));
        ++compared_[c.type];
    }

    static ScratchDir* dir_;
    static YuvFrames* frames_;
    static std::map<uint32_t, size_t>* displayIndex_;
    static uint32_t startPts_;
    std::map<char, int> compared_;
};

ScratchDir* ViewerRender::dir_ = nullptr;
YuvFrames* ViewerRender::frames_ = nullptr;
std::map<uint32_t, size_t>* ViewerRender::displayIndex_ = nullptr;
uint32_t ViewerRender::startPts_ = 0;

TEST_F(ViewerRender, CutAtIPicturesShowsTheSamePicturesAsAnIndependentDecode)
{
    for (const CutPoint& c : cutPoints(sample("clip.pva"), false)) expectSamePicture(c);
    EXPECT_GE(compared_['I'], 8);
}

TEST_F(ViewerRender, CutAtEveryPictureShowsThePictureItselfNotANeighbourInDecodingOrder)
{
    // The second and third GOPs: open GOPs, whose first B pictures also refer to the
    // GOP before; P pictures that come out only after the next reference.
    const auto points = cutPoints(sample("clip.pva"), true);
    int gop = 0;
    for (const CutPoint& c : points) {
        if (c.type == 'I') ++gop;
        if (gop == 2 || gop == 3) expectSamePicture(c);
    }
    EXPECT_GE(compared_['B'], 10);
    EXPECT_GE(compared_['P'], 4);
}

TEST_F(ViewerRender, SizesFollowTheFractionAndTheAspectRatio)
{
    const uint64_t position = cutPoints(sample("clip.pva"), false)[1].offset;
    const std::string png = dir_->file("s.png");
    const std::pair<const char*, QSize> sizes[] = {
        {"1/1", {720, 576}}, {"3/4", {540, 432}}, {"1/2", {360, 288}}, {"1/4", {180, 144}}, {"4/1", {1350, 1080}}};
    for (auto [fraction, size] : sizes) {
        ASSERT_EQ(render(sample("clip.pva"), position, png, fraction).status, 0) << fraction;
        EXPECT_EQ(QImage(QString::fromStdString(png)).size(), size) << fraction;
    }

    // The same recording marked 4:3 and 16:9 in its sequence headers is shown as a
    // television shows it, and is still the same picture.
    const QImage square(QString::fromStdString(png));
    for (auto [code, width] : {std::pair{2, 768}, std::pair{3, 1024}}) {
        auto bytes = readBytes(sample("clip.pva"));
        int patched = 0;
        for (size_t i = 0; i + 8 < bytes.size(); ++i)
            if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0xB3) {
                bytes[i + 7] = static_cast<uint8_t>((bytes[i + 7] & 0x0F) | (code << 4));
                ++patched;
            }
        ASSERT_EQ(patched, sampleInfoInt("clip.pva", "i_pictures"));
        const std::string wide = dir_->file("wide.pva");
        writeBytes(wide, bytes);
        ASSERT_EQ(render(wide, position, png).status, 0);
        const QImage shown(QString::fromStdString(png));
        EXPECT_EQ(shown.size(), QSize(width, 576));
        const QImage back = shown.scaled(720, 576, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const auto at = displayIndex_->find(cutPoints(sample("clip.pva"), false)[1].vpts + startPts_);
        EXPECT_GT(psnr(back, *frames_, at->second), 28.0) << code;
        ASSERT_EQ(render(wide, position, png, "3/4").status, 0);
        EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(width * 3 / 4, 432));
    }
}

TEST_F(ViewerRender, FailuresAreMessagesAndUsageErrorsExitTwo)
{
    const std::string png = dir_->file("f.png");
    const std::string clip = sample("clip.pva");
    writeBytes(dir_->file("text.pva"), std::vector<uint8_t>(5000, 'x'));
    const std::tuple<std::string, uint64_t, const char*> failures[] = {
        {dir_->file("missing.pva"), 0, "Cannot open"},
        {clip, 5, "No AV packet starts at position 5"},
        {clip, readBytes(clip).size() + 10, "past the end"},
        {clip, 70851, "audio, not video"},
        {dir_->file("text.pva"), 0, "No AV packet starts"},
    };
    for (const auto& [file, position, message] : failures) {
        const RunResult r = render(file, position, png);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(fileExists(png));
    }
    const RunResult unwritable = render(clip, 0, dir_->file("no/such/dir.png"));
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);

    for (const std::string& args : {std::string("--render"), "--render " + q(clip) + " 0",
                                    "--render " + q(clip) + " 12x " + q(png), "--render " + q(clip) + " -1 " + q(png),
                                    "--render " + q(clip) + " 0 " + q(png) + " --size 0/1",
                                    "--render " + q(clip) + " 0 " + q(png) + " --size 3",
                                    "--render " + q(clip) + " 0 " + q(png) + " --zoom 1/2", std::string("--frobnicate")}) {
        const RunResult r = run(q(binary("DVD2AVI_PVAVIEW")) + " " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
}

} // namespace
