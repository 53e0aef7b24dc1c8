#pragma once
#include <cstdint>

class LogConsole;
namespace platform { class FileDialog; }

inline constexpr uint32_t mpegListingBufferSize = 10485760;   // 10 MiB

// Lists the GOP time codes and pictures of an MPEG-2 video elementary stream into
// "out.txt" (the console's copy file), then the line "\nSize: %d Frames %d\n".
// 1, or -1 when the file cannot be opened.
int listMpegFile(LogConsole& log, const char* path);

// Asks for the file to list. -1 when the dialog is cancelled (or there is no
// dialog), else 1, also when the listing fails.
int openMpegFileDialog(LogConsole& log, platform::FileDialog* dialog);
