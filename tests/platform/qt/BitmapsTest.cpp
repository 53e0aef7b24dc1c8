// The compiled-in bitmaps: their sizes and 16 colours, the perforated strip of
// the background, and the generator making the same bytes on every run.
#include "QtTestSupport.h"

#include "resources/bitmaps/Bitmaps.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(Bitmaps, SizesColoursAndTheStripOfTheBackground)
{
    const struct {
        const char* name;
        QSize size;
    } expected[] = {{"BITMAP_MAIN", {1024, 768}}, {"BITMAP_MINIMZE", {17, 17}}, {"BITMAP_CLOSE", {16, 16}}};
    for (const auto& e : expected) {
        EXPECT_EQ(resources::bitmap(e.name).size(), e.size) << e.name;
        const QImage image(QStringLiteral(":/bitmaps/%1.bmp").arg(e.name));
        EXPECT_EQ(image.colorCount(), 16) << e.name;
    }
    EXPECT_TRUE(resources::bitmap("BITMAP_OTHER").isNull());
    EXPECT_TRUE(resources::bitmap(nullptr).isNull());

    // Holes (black) along the top edge at a steady pitch, none in the stone below.
    const QImage main = resources::bitmap("BITMAP_MAIN").toImage();
    std::vector<int> holeStarts;
    for (int x = 1; x < main.width(); ++x)
        if (main.pixel(x, 10) == qRgb(0, 0, 0) && main.pixel(x - 1, 10) != qRgb(0, 0, 0)) holeStarts.push_back(x);
    ASSERT_GE(holeStarts.size(), 30u);
    for (size_t i = 1; i < holeStarts.size(); ++i) EXPECT_EQ(holeStarts[i] - holeStarts[i - 1], holeStarts[1] - holeStarts[0]);
    int black = 0;
    long sum = 0;
    for (int y = 40; y < main.height(); ++y)
        for (int x = 0; x < main.width(); ++x) {
            black += main.pixel(x, y) == qRgb(0, 0, 0);
            sum += qGray(main.pixel(x, y));
        }
    EXPECT_EQ(black, 0);
    // Dark grey on the whole.
    const long mean = sum / (main.width() * (main.height() - 40));
    EXPECT_GT(mean, 0x20);
    EXPECT_LT(mean, 0x60);
}

TEST(Bitmaps, TheGeneratorMakesTheSameBytesAsTheCompiledIn)
{
    QTemporaryDir first, second;
    const QString generator = QStringLiteral(ORVANE_BIN_DIR "/orvane-bitmapgen");
    ASSERT_EQ(QProcess::execute(generator, {first.path()}), 0);
    ASSERT_EQ(QProcess::execute(generator, {second.path()}), 0);
    for (const char* name : {"BITMAP_MAIN", "BITMAP_MINIMZE", "BITMAP_CLOSE"}) {
        const QString file = QStringLiteral("/%1.bmp").arg(name);
        const QByteArray made = readAll(first.path() + file);
        EXPECT_FALSE(made.isEmpty()) << name;
        EXPECT_EQ(made, readAll(second.path() + file)) << name;
        EXPECT_EQ(made, readAll(":/bitmaps" + file)) << name;
    }
    EXPECT_NE(QProcess::execute(generator, {first.path() + "/missing/dir"}), 0);
}

} // namespace
