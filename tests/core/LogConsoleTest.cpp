#include "core/LogConsole.h"

#include "platform/fake/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

using platform::fake::FakeControl;

namespace {

// Exposes the stream side.
struct ConsoleProbe : LogConsole {
    using LogConsole::overflow;
};

struct LogConsoleTest : ::testing::Test {
    struct {
        platform::fake::FakeMessageBox messageBox;
    } host;
    std::unique_ptr<ConsoleProbe> console = std::make_unique<ConsoleProbe>();
    LogConsoleTest() { console->setMessageBox(&host.messageBox); }
    FakeControl dialog;
    FakeControl* edit = &dialog.addChild(1001);

    void attach() { ASSERT_EQ(console->attachWindow(&dialog, 1001), edit); }
    std::string stored() const { return std::string(console->text(), console->length()); }
    // The window shows the text up to its first zero byte.
    bool zeroFrom(int from) const
    {
        return std::all_of(console->text() + from, console->text() + LogConsole::textSize, [](char c) { return !c; });
    }
};

TEST_F(LogConsoleTest, TrimKeepsTheNewestTextFromALineStart)
{
    console->setDisplay(0);
    // Line feeds at 100, 7936 and length - 7936 lie outside the search: the last 7936 bytes stay.
    std::string noBreak(27777, 'a');
    noBreak[100] = noBreak[7936] = noBreak[27777 - 7936] = '\n';
    noBreak[27776] = 'z';
    std::string atLimit(27776, 'a');
    atLimit[9000] = '\n';
    const std::pair<std::string, std::string> writtenKept[] = {
        {std::string(8000, 'a') + "\n" + std::string(19776, 'b'), std::string(19776, 'b')},
        {noBreak, noBreak.substr(27777 - 7936)},
        {atLimit, atLimit},
    };
    for (const auto& [written, kept] : writtenKept) {
        console->clear();
        console->write(written.c_str(), 1);
        console->write("X", 1);
        EXPECT_EQ(stored(), kept + "X");
        EXPECT_TRUE(zeroFrom(console->length()));
    }
}

TEST_F(LogConsoleTest, LineBreaksAndCarriageReturns)
{
    console->write("abc\n", 1);
    EXPECT_EQ(stored(), "abc\n");
    console->write("de\r", 1);   // no line feed since the previous one: back to its line start
    EXPECT_EQ(console->length(), 4);

    console->clear();
    attach();
    console->write("12345678", 1);
    console->write("\r", 1);
    EXPECT_EQ(console->length(), 0);
    console->write("ab\n", 1);
    EXPECT_EQ(edit->text, "ab\r\n5678");   // the stale rest stays visible
    console->write("\r", 1);             // right after a line feed: stays
    console->write("xy\rZ", 1);
    EXPECT_EQ(console->length(), 5);
    EXPECT_STREQ(console->text(), "ab\r\nZy78");
}

TEST_F(LogConsoleTest, MessageBoxBeforeAttachThenWindow)
{
    console->write("one\n", 1);
    console->write("two\n", 1);
    ASSERT_EQ(host.messageBox.shown.size(), 2u);
    EXPECT_EQ(host.messageBox.shown[1].caption + ":" + host.messageBox.shown[1].text, "NOTIFY:one\ntwo\n");

    attach();
    console->write("three\n", 1);
    EXPECT_EQ(host.messageBox.shown.size(), 2u);
    EXPECT_EQ(edit->text, "one\ntwo\nthree\r\n");
    EXPECT_EQ(edit->scrolledLines, 31744);
    console->clear();
    console->write("about\n", 0);
    EXPECT_EQ(edit->text, "about\r\n");
}

TEST_F(LogConsoleTest, FailedLookupShowsNothingButEchoesDisplayedMessages)
{
    std::string echoed;
    console->setEcho([&](const char* m) { echoed += m; });
    EXPECT_EQ(console->attachWindow(&dialog, 4242), nullptr);
    console->write("a\rb\n", 1);
    EXPECT_TRUE(host.messageBox.shown.empty() && edit->setTextCalls == 0);
    console->setDisplay(0);
    console->write("hidden\n", 1);
    EXPECT_EQ(echoed, "a\rb\n");
}

TEST_F(LogConsoleTest, FileCopyWithoutDisplayAndOnlyOneSwitchesOn)
{
    // A scan log is named after its source, whose path may be long: it is used whole.
    testsupport::ScratchDir dir("console");
    std::string path = dir.path();
    for (int i = 0; i < 8; ++i) path += "/" + std::string(120, static_cast<char>('a' + i));
    std::filesystem::create_directories(path);
    const std::string copy = path + "/" + std::string(200, 'r') + ".pva.txt";
    attach();
    console->write("Creating Scan Log\n", 1);
    console->setFileName(copy.c_str());
    console->setFileCopy(1);
    console->setDisplay(0);
    console->write("line 1\n", 1);
    console->write("line\r2\n", 1);
    EXPECT_EQ(edit->setTextCalls, 1);
    EXPECT_EQ(testsupport::readText(copy), "line 1\nline\r2\n");

    console->setFileCopy(2);
    console->setDisplay(2);
    console->write("not copied\n", 1);
    EXPECT_EQ(edit->setTextCalls, 1);
    EXPECT_EQ(testsupport::readText(copy), "line 1\nline\r2\n");

    console->setDisplay(1);
    console->write("done\n", 1);
    EXPECT_EQ(edit->text, "Creating Scan Log\r\nline 1\r\n2\r\nnot copied\r\ndone\r\n");
}

TEST_F(LogConsoleTest, OverlongMessagesStayInsideTheBuffer)
{
    attach();
    console->setDisplay(0);
    console->write(std::string(27776, 'p').c_str(), 1);
    std::string lines;   // stored twice as long in window mode
    for (int i = 0; lines.size() < 50000; ++i) lines += "line " + std::to_string(i) + "\n";
    console->write(lines.c_str(), 1);
    EXPECT_LE(console->length(), LogConsole::textSize - 1);
    const std::string last = lines.substr(lines.rfind('\n', lines.size() - 2) + 1);
    const std::string s = stored();
    EXPECT_EQ(s.substr(s.size() - last.size() - 1), last.substr(0, last.size() - 1) + "\r\n");

    std::string blob(100000, 'x');
    for (size_t i = 0; i < blob.size(); i += 1000) blob[i] = static_cast<char>('A' + (i / 1000) % 26);
    console->write(blob.c_str(), 1);
    EXPECT_EQ(console->text()[LogConsole::textSize - 1], 0);
    EXPECT_EQ(stored(), blob.substr(blob.size() - console->length()));
}

TEST_F(LogConsoleTest, StreamSideFlushesThroughWriteWithoutLosingCharacters)
{
    std::ostream out(console.get());
    std::string big;   // more than the staging buffer holds
    for (int i = 0; i < 3000; ++i) big += static_cast<char>('a' + i % 26);
    out << "hello " << 42 << '\n' << big;
    EXPECT_EQ(console->overflow(std::char_traits<char>::eof()), 0);
    EXPECT_EQ(stored(), "hello 42\n" + big);
}

} // namespace
