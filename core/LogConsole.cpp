#include "core/LogConsole.h"

#include "platform/Control.h"
#include "platform/Host.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Enough lines to bring the last line of any console text into view.
constexpr int scrollToEndLines = LogConsole::textSize;

} // namespace

LogConsole::LogConsole() : copyFileName_("out.txt"), messageBox_(&platform::stderrMessageBox())
{
    std::memset(flushCopy_, 0, sizeof flushCopy_);
    std::memset(staging_, 0, sizeof staging_);
    std::memset(text_, 0, sizeof text_);
    // The put area ends on the last byte so that a flush always has room for the NUL.
    setp(staging_, staging_ + stagingSize - 1);
}

LogConsole::~LogConsole() = default;

const char* LogConsole::fileName() const { return copyFileName_.c_str(); }

void LogConsole::trim()
{
    if (length_ <= trimAbove) return;
    int cut = length_ - trimKeep;
    // Prefer to start the kept text at the beginning of a line.
    const int from = trimKeep + 1;
    const int to = length_ - trimKeep;   // exclusive
    if (to > from) {
        const void* lf = std::memchr(text_ + from, '\n', static_cast<size_t>(to - from));
        if (lf) cut = static_cast<int>(static_cast<const char*>(lf) - text_) + 1;
    }
    std::memmove(text_, text_ + cut, static_cast<size_t>(textSize - cut));
    std::memset(text_ + textSize - cut, 0, static_cast<size_t>(cut));
    length_ -= cut;
}

void LogConsole::append(const char* message)
{
    // The last byte of text_ is never written, so the text always ends in a NUL.
    constexpr int lastUsable = textSize - 1;
    int pos = length_;
    for (const char* c = message; *c; ++c) {
        if (*c == '\r') {
            int j = pos;
            while (j >= 0 && text_[j] != '\n') --j;
            pos = j + 1;
            continue;
        }
        const int need = (*c == '\n' && windowMode_) ? 2 : 1;
        if (pos + need > lastUsable) {
            // A message longer than the free room: drop the oldest text instead of
            // running off the buffer, so the newest text (the message's tail) stays.
            length_ = pos;
            trim();
            pos = length_;
        }
        if (*c == '\n' && windowMode_) text_[pos++] = '\r';
        text_[pos++] = *c;
    }
    length_ = pos;
}

void LogConsole::write(const char* message, int scrollToEnd)
{
    if (!message) message = "";
    trim();
    append(message);

    if (display_ == 1) {
        if (!windowMode_) {
            messageBox_->show("NOTIFY", text_);
        } else if (window_) {
            window_->setText(text_);
            if (scrollToEnd != 0) window_->scrollLines(scrollToEndLines);
        }
        if (echo_) echo_(message);
    }

    if (fileCopy_ == 1) {
        std::FILE* f = std::fopen(copyFileName_.c_str(), "a");
        bool copied = f != nullptr;
        if (f) {
            if (std::fputs(message, f) < 0) copied = false;
            if (std::fclose(f) != 0) copied = false;
        }
        if (!copied) copyFailed_ = true;
    }
}

bool LogConsole::touchCopyFile()
{
    std::FILE* f = std::fopen(copyFileName_.c_str(), "a");
    const bool opened = f && std::fclose(f) == 0;
    if (!opened) copyFailed_ = true;
    return opened;
}

void LogConsole::clear()
{
    length_ = 0;
    std::memset(text_, 0, sizeof text_);
}

platform::Control* LogConsole::attachWindow(platform::Control* dialog, int controlId)
{
    window_ = dialog ? dialog->child(controlId) : nullptr;
    windowMode_ = 1;
    return window_;
}

void LogConsole::setMessageBox(platform::MessageBox* box)
{
    messageBox_ = box ? box : &platform::stderrMessageBox();
}

void LogConsole::setFileName(const char* name) { copyFileName_ = name ? name : ""; }

void LogConsole::setFileCopy(int flag) { fileCopy_ = flag == 1 ? 1 : 0; }

int LogConsole::setDisplay(int flag)
{
    display_ = flag == 1 ? 1 : 0;
    return 1;
}

int LogConsole::flushStaging()
{
    const size_t n = static_cast<size_t>(pptr() - pbase());
    std::memcpy(flushCopy_, pbase(), n);
    flushCopy_[n] = 0;
    setp(staging_, staging_ + stagingSize - 1);
    write(flushCopy_, 1);
    return 0;
}

LogConsole::int_type LogConsole::overflow(int_type ch)
{
    if (traits_type::eq_int_type(ch, traits_type::eof())) return flushStaging();
    // The staging area is full: pass its text on and keep the character rather
    // than dropping it.
    flushStaging();
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
    return ch;
}

LogConsole::int_type LogConsole::underflow() { return 0; }

LogConsole& logConsole()
{
    static LogConsole console;
    return console;
}

void LogConsole::writef(const char* format, ...)
{
    char line[512];
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    if (n >= 0 && static_cast<size_t>(n) < sizeof line) {
        write(line, 1);
    } else if (n >= 0) {
        // Only messages that carry a long path get here.
        std::vector<char> longLine(static_cast<size_t>(n) + 1);
        std::vsnprintf(longLine.data(), longLine.size(), format, again);
        write(longLine.data(), 1);
    }
    va_end(again);
}
