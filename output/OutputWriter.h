#pragma once
#include "output/SaveFormat.h"
#include "source/FileAccess.h"   // sameFile

#include <cstdint>
#include <string>

class CutEditor;
namespace platform {
class FileDialog;
struct OperationContext;
}

inline constexpr uint32_t saveBufferSize = 4202504;   // 4 MiB + 8,200
inline constexpr uint32_t saveFlushMark = 4194304;    // 4 MiB

// The save command: asks for the output name when none is known yet or askName
// is 1, then writes the new PVA. -1 when the file dialog is cancelled (or there is
// no dialog to ask with), else 1, also when the save itself fails; `saved`, when
// given, receives what saveNewStream returned (-1 when it did not run).
int saveDialog(CutEditor& editor, platform::FileDialog* dialog, int askName, int selectionOnly,
               const platform::OperationContext& op, int* saved = nullptr);

// The most bytes the writer reads from a source at once; 0: one packet per read.
// For benchmarks, which compare both in one run; the default reads up to the flush mark.
void setSaveReadRunLimit(uint32_t bytes);

// Assembles the cut list (only its selected entries when selectionOnly is 1) and
// copies the listed packets from their sources into the file `name`, or into
// numbered part files. 1 on success, -1 on failure, refusal or cancel. The
// progress shows, events are served and a cancel is asked for through `op`.
int saveNewStream(CutEditor& editor, const char* name, int selectionOnly, const platform::OperationContext& op);
// The same in the container `format` (byName: chosen by the name, as saveNewStream
// does): the pictures and sound of the new PVA in a program stream, a transport
// stream or Matroska. A split save or a bare video stream in another container than
// PVA is refused.
int saveNewStreamAs(CutEditor& editor, const char* name, int selectionOnly, SaveFormat format,
                    const platform::OperationContext& op);

// The name of part `fileNumber` of a split save: "%s_%d.%c%c%c" around the last
// '.' of the file name (the directories' dots do not count). A file name without
// any '.' gets ".pva" appended first, in place, as the saved name.
std::string partFileName(std::string& name, int fileNumber);
