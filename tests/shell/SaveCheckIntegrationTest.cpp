// The check that follows a save in the window: on the save's progress bar and
// cancel button, a message box naming the first problem, and the box that turns it off.
#include "shell/ShellRig.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class SaveCheck : public ::testing::Test, protected ShellRig {
protected:
    void SetUp() override { start(); }
    void addUnits(int32_t a, int32_t b)
    {
        editor.selectUnit(Pane::source, a, SelectEnd::start);
        editor.selectUnit(Pane::source, b, SelectEnd::end);
        ASSERT_TRUE(main().click(1055));
    }
    bool checking() const { return shown().find("Check: ") != std::string::npos; }
};

TEST_F(SaveCheck, EverySaveIsCheckedOnTheSavesBarAndAProblemIsShownInAMessageBox)
{
    files.answer = sample("rec60.pva");
    ASSERT_TRUE(main().click(1054));
    addUnits(2, 4);
    addUnits(10, 12);
    const std::string out = dir.file("new.pva");
    files.answer = out;
    // While the check runs, the save's bar and cancel button show and the commands are off.
    bool sawCheck = false;
    pump.onServe = [&](int) {
        if (sawCheck || !checking()) return;
        sawCheck = main().control(1065).visible && main().control(1058).visible && disabledGroup();
    };
    ASSERT_TRUE(main().click(1070));
    EXPECT_TRUE(sawCheck);
    EXPECT_FALSE(main().control(1065).visible || main().control(1058).visible);
    EXPECT_TRUE(enabledGroup());
    const std::string problem = "join 1 at 00:00:01.44: 2 pictures (B B) decode differently from the same pictures of source 0";
    // The window's console ends its lines with "\r\n".
    EXPECT_NE(shown().find("Save Pva: " + out + "\r\nCheck: " + out + "\r\ncheck: " + problem + "\r\ncheck: " + out
                           + ": 1 problem found\r\n"),
              std::string::npos)
        << shown();
    ASSERT_EQ(messageBox.shown.size(), 1u);
    EXPECT_EQ(messageBox.shown[0].caption, "Check");
    EXPECT_EQ(messageBox.shown[0].text, "The check of " + out + " found 1 problem. The first one:\n\n" + problem);

    // Cancelled from the save's button: the saved file stays, said to be unchecked.
    const std::vector<uint8_t> saved = readBytes(out);
    bool clicked = false;
    pump.onServe = [&](int) {
        if (clicked || !checking()) return;
        clicked = main().click(1058);
    };
    console.clear();
    ASSERT_TRUE(main().click(1071));
    EXPECT_TRUE(clicked);
    EXPECT_NE(shown().find("check: " + out + " was not checked: the check was cancelled"), std::string::npos) << shown();
    EXPECT_EQ(messageBox.shown.size(), 1u);
    EXPECT_EQ(readBytes(out), saved);
    EXPECT_EQ(app.settings.cancelRequested, 0);

    // The setup box turns the check off; a save is then what it always was.
    pump.onServe = nullptr;
    ASSERT_TRUE(main().click(1027));
    ASSERT_NE(setup(), nullptr);
    EXPECT_TRUE(setup()->control(1070).checked) << "on when Orvane.ini does not say";
    setup()->click(1070);
    setup()->click(1001);
    EXPECT_EQ(app.settings.saveCheckAfterSave, 0);
    console.clear();
    ASSERT_TRUE(main().click(1071));
    EXPECT_FALSE(checking() || shown().find("check: ") != std::string::npos) << shown();
    EXPECT_NE(shown().find("Save Pva: " + out), std::string::npos) << shown();
    EXPECT_EQ(messageBox.shown.size(), 1u);
}

} // namespace
