#pragma once
#include <functional>
#include <streambuf>
#include <string>

namespace platform {
class Control;
class MessageBox;
}

// The one text console every part of the program writes its messages to.
// Keeps the newest text in a fixed buffer, shows it in an edit window (or, before
// a window is attached, in a "NOTIFY" message box), and can append every message
// to a copy file.
class LogConsole : public std::streambuf {
public:
    static constexpr int textSize = 31744;
    static constexpr int trimAbove = 27776;
    static constexpr int trimKeep = 7936;
    static constexpr int stagingSize = 1024;

    LogConsole();
    ~LogConsole() override;

    void write(const char* message, int scrollToEnd);
    // write() of a printf-formatted message of any length, scrolled to the end.
    void writef(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void clear();
    // Looks up control `controlId` among the dialog's children, uses it as the
    // console window and switches to window mode (even when the lookup fails).
    platform::Control* attachWindow(platform::Control* dialog, int controlId);
    // Where messages go before a window is attached; stderr unless set (null: stderr).
    void setMessageBox(platform::MessageBox* box);
    void setFileName(const char* name);
    void setFileCopy(int flag);
    int setDisplay(int flag);

    // Whether a message could not be copied to the copy file since the last
    // FileCopyScope began (the file could not be opened or written). write()
    // reports nothing itself: the operation that copies says so once and fails.
    bool copyFailed() const { return copyFailed_; }
    void clearCopyFailure() { copyFailed_ = false; }
    // Opens the copy file for appending (creating it) and closes it again, so that
    // an operation learns before its work whether its copy can be written.
    bool touchCopyFile();

    // A listener that receives every message the console displays (display on),
    // unchanged; the command-line front end prints them this way.
    void setEcho(std::function<void(const char*)> echo) { echo_ = std::move(echo); }

    // Read access for the window and for tests.
    const char* text() const { return text_; }
    int length() const { return length_; }
    const char* fileName() const;
    bool windowMode() const { return windowMode_ != 0; }
    bool fileCopy() const { return fileCopy_ != 0; }
    bool display() const { return display_ != 0; }

protected:
    int_type overflow(int_type ch) override;
    int_type underflow() override;

private:
    // Appends the message's characters at the write position, CR LF or LF per mode.
    void append(const char* message);
    // Drops the oldest text down to a line start (or keeps the last trimKeep bytes)
    // when the write position is above trimAbove.
    void trim();
    int flushStaging();

    // No length limit: a scan log is named after the source path, which may be long.
    std::string copyFileName_;
    platform::Control* window_ = nullptr;
    platform::MessageBox* messageBox_;
    char flushCopy_[stagingSize];
    char staging_[stagingSize];
    char text_[textSize];
    int length_ = 0;
    int windowMode_ = 0;
    int fileCopy_ = 0;
    int display_ = 1;
    bool copyFailed_ = false;
    std::function<void(const char*)> echo_;
};

// Sends every message into the console's copy file, and none to the display, for
// as long as it lives (a scan log, a picture listing): however the work ends, the
// messages are shown again and the copying stops.
class FileCopyScope {
public:
    explicit FileCopyScope(LogConsole& log) : log_(log)
    {
        log_.clearCopyFailure();
        log_.setFileCopy(1);
        log_.setDisplay(0);
    }
    ~FileCopyScope()
    {
        log_.setFileCopy(0);
        log_.setDisplay(1);
    }
    FileCopyScope(const FileCopyScope&) = delete;
    FileCopyScope& operator=(const FileCopyScope&) = delete;

private:
    LogConsole& log_;
};

// The program's single console, created on first use.
LogConsole& logConsole();
