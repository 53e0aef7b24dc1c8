// The viewer window, offscreen: what it shows for each message, judged from grabs.
// With ORVANE_VIEWER_GRABS set to a directory the grabs are also saved there.
#include "support/ViewerTestSupport.h"
#include "viewer/PictureDecoder.h"
#include "viewer/PictureSize.h"
#include "viewer/PvaVideo.h"
#include "viewer/ViewerController.h"
#include "viewer/ViewerWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

using namespace testsupport;
using namespace viewertest;
using namespace viewer;
using namespace platform;

namespace {

class ViewerWindowTest : public ::testing::Test {
protected:
    ViewerWindow window;
    ViewerController controller{window};

    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    bool waitForStrip(const QString& text)
    {
        return QTest::qWaitFor([&] { return window.stripText() == text; }, 5000);
    }

    QImage grab(const char* name)
    {
        const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (const char* dir = std::getenv("ORVANE_VIEWER_GRABS"))
            image.save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
        return image;
    }

    // The picture the window must show for a position, at the given size.
    static QImage expected(uint64_t position, QSize size)
    {
        PvaVideoFile file;
        PictureDecoder decoder;
        DecodePlan plan;
        QImage picture;
        std::string error;
        EXPECT_TRUE(file.open(sample("clip.pva"), error) && file.plan(position, plan, error) &&
                    decoder.decode(plan, picture, error))
            << error;
        return scaledPicture(picture, size).convertToFormat(QImage::Format_RGB32);
    }
};

TEST_F(ViewerWindowTest, ShowsThePictureWithItsStripAtEverySize)
{
    EXPECT_EQ(window.windowTitle(), "DVD2AVI_PVAVIEW");
    EXPECT_FALSE(window.view().hasPicture());

    ASSERT_TRUE(controller.handle(viewerFileMessage(sample("clip.pva"))));
    ASSERT_TRUE(waitForStrip("I   00:00:00.00   0"));
    const auto units = cutPoints(sample("clip.pva"), false);
    const CutPoint unit = units[3];
    ASSERT_TRUE(controller.handle(viewerMessage(viewerMessagePosition, 0, unit.offset)));
    const QString strip = QStringLiteral("I   00:00:01.44   %1").arg(unit.offset);
    ASSERT_TRUE(waitForStrip(strip));

    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    const struct {
        int a, b;
        const char* name;
    } sizes[] = {{1, 1, "size-100"}, {3, 4, "size-75"}, {1, 2, "size-50"}, {1, 4, "size-25"}, {4, 1, "size-max"}};
    for (const auto& s : sizes) {
        ASSERT_TRUE(controller.handle(viewerMessage(viewerMessageSize, s.a, s.b)));
        QTest::qWait(20);
        const QImage shot = grab(s.name);
        QSize picture = isMaxSize(s.a, s.b) ? window.pictureAreaSize() : QSize(720 * s.a / s.b, 576 * s.a / s.b);
        if (isMaxSize(s.a, s.b)) {
            // As large as the screen allows with the strip, in the picture's proportions.
            EXPECT_LE(picture.height() + ViewerWindow::stripHeight, screen.height());
            EXPECT_LE(picture.width(), screen.width());
            EXPECT_TRUE(picture.width() + 40 > screen.width() ||
                        picture.height() + ViewerWindow::stripHeight + 40 > screen.height());
            EXPECT_NEAR(double(picture.width()) / picture.height(), 720.0 / 576.0, 0.01);
        }
        EXPECT_EQ(window.pictureAreaSize(), picture) << s.name;
        EXPECT_EQ(shot.size(), QSize(picture.width(), picture.height() + ViewerWindow::stripHeight)) << s.name;
        EXPECT_EQ(shot.copy(QRect(QPoint(0, 0), picture)), expected(unit.offset, picture)) << s.name;
        // The strip is a dark band under the picture.
        EXPECT_LT(qGray(shot.pixel(picture.width() - 2, picture.height() + ViewerWindow::stripHeight - 2)), 80);
        EXPECT_EQ(window.stripText(), strip);
    }
    for (auto [a, b] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{17, 1}})
        EXPECT_FALSE(controller.handle(viewerMessage(viewerMessageSize, a, b)));

    ASSERT_TRUE(controller.handle(viewerMessage(viewerMessageSize, 1, 2)));
    EXPECT_TRUE(controller.handle(viewerMessage(viewerMessageTopMost, 1, 4)));
    EXPECT_TRUE(window.isTopMost());
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(controller.handle(viewerMessage(viewerMessageTopMost, 0, 4)));
    EXPECT_FALSE(window.isTopMost());
    EXPECT_FALSE(controller.handle(viewerMessage(viewerMessageTopMost, 2, 4)));
}

TEST_F(ViewerWindowTest, ABadPositionKeepsTheLastPictureAndAMissingFileShowsAMessage)
{
    ASSERT_TRUE(controller.handle(viewerFileMessage(sample("clip.pva"))));
    ASSERT_TRUE(waitForStrip("I   00:00:00.00   0"));
    const QImage before = grab("picture");

    ASSERT_TRUE(controller.handle(viewerMessage(viewerMessagePosition, 0, 5)));
    ASSERT_TRUE(waitForStrip("No AV packet starts at position 5"));
    const QImage after = grab("bad-position");
    const QRect pictureArea(QPoint(0, 0), window.pictureAreaSize());
    EXPECT_EQ(after.copy(pictureArea), before.copy(pictureArea));

    ASSERT_TRUE(controller.handle(viewerMessage(viewerMessageFileChange)));
    EXPECT_TRUE(waitForStrip("File closed"));
    EXPECT_TRUE(window.view().hasPicture());

    const std::string missing = "/nonexistent/recording.pva";
    ASSERT_TRUE(controller.handle(viewerFileMessage(missing)));
    const QString message = QString::fromStdString("Cannot open " + missing + ": No such file or directory");
    ASSERT_TRUE(waitForStrip(message));
    EXPECT_FALSE(window.view().hasPicture());
    EXPECT_EQ(window.view().message(), message);
    const QImage shot = grab("missing-file");
    // The message stands where the picture was: light text on a dark area.
    int light = 0;
    for (int y = 0; y < window.pictureAreaSize().height(); ++y)
        for (int x = 0; x < window.pictureAreaSize().width(); ++x) light += qGray(shot.pixel(x, y)) > 160;
    EXPECT_GT(light, 100);
    EXPECT_LT(light, window.pictureAreaSize().width() * window.pictureAreaSize().height() / 10);
}

} // namespace
