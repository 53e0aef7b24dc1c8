#pragma once
// The setup dialog: edits the shell's working copy of the options and applies
// it to the live settings, optionally storing it in the settings file.
#include "shell/WindowDragging.h"

struct ShellContext;

// Controls of "PVADIALOG".
namespace setupid {
inline constexpr int ok = 1001;
inline constexpr int cancel = 1002;
inline constexpr int saveOptions = 1003;
inline constexpr int cutEveryPicture = 1055;
inline constexpr int cutAtIFrames = 1058;
inline constexpr int completeAudio = 1059;
inline constexpr int appendNextFrame = 1060;
inline constexpr int calcNewPts = 1061;
inline constexpr int audioPtsOffset = 1062;
inline constexpr int splitSize = 1064;
inline constexpr int audioEndOffset = 1065;
inline constexpr int split = 1063;
inline constexpr int noAudio = 1066;
inline constexpr int elementary = 1067;
inline constexpr int fastScan = 1068;
inline constexpr int cleanJoins = 1069;
inline constexpr int checkAfterSave = 1070;
inline constexpr int recodeAtCuts = 1071;
} // namespace setupid

class SetupDialog final : public platform::DialogHandler {
public:
    explicit SetupDialog(ShellContext& context);

    // 1 created, 0 creation failed (after a message box), -1 already open.
    int open();
    bool isOpen() const { return window_ != nullptr; }
    platform::Window* window() const { return window_; }
    // Applies the working copy to the live settings; a changed cut rule empties
    // the sources and the new PVA first. -1 (with a console line, nothing applied)
    // when the cut rule cannot change now.
    int applySetup();
    // Shows the working copy again, when the dialog is open.
    void refreshIfOpen();

    void onInit(platform::Window& window) override;
    void onCommand(int controlId, int code) override;
    void onHorizontalScroll(int, int) override {}
    void onLeftButtonDown(const platform::MouseEvent& event) override;
    void onRightButtonDown(const platform::MouseEvent&) override {}
    void onLeftButtonUp(const platform::MouseEvent& event) override;
    void onMouseMove(const platform::MouseEvent& event) override;
    void onWheel(int, const platform::MouseEvent&) override {}
    void onPaint(platform::Canvas&) override {}
    void onClose() override { close(); }

private:
    void refresh();
    void close();

    ShellContext& c_;
    platform::Window* window_ = nullptr;
    WindowDragging dragging_;
};
