#pragma once
// The check of a saved new PVA: every picture decoded, the time stamps of the video
// and the sound followed, every packet looked at; and, given the cut list and the
// sources it was made from, every picture compared with the same picture decoded in
// its source. What is wrong goes to the console in lines that begin with "check:",
// each with the time in the new PVA and, once the joins are known, the join it follows.
#include <cstdint>
#include <string>
#include <vector>

class CutEditor;
class LogConsole;
namespace platform { struct OperationContext; }

struct CheckReport {
    // 1 nothing wrong, 0 problems found, -1 not checked (a file that can't be
    // read, no decoder, cancelled).
    int result = -1;
    uint64_t problems = 0;
    std::string firstProblem;   // its console line without "check: " and the newline
    uint64_t pictures = 0;
    uint64_t audioFrames = 0;
};

// The files a save to `name` wrote: the name itself, or with `split` its part
// files, in order, as far as they were written by the same save (a part that is
// older than the first one is left over from an earlier save).
std::vector<std::string> savedFiles(const std::string& name, bool split);

// Checks `files` (a PVA or a bare MPEG-2 video stream; the part files of a split save
// in order, read as one stream) by themselves: decoder errors, the video's and the
// sound's time stamps, the packets.
CheckReport checkSavedFile(const std::vector<std::string>& files, LogConsole& log,
                           const platform::OperationContext& op);

// The same and, against the editor's cut list (its selected entries with
// selectionOnly 1) and its packet list as the save assembled it: the pictures are
// the chosen ones, each once, in order; each decodes as the same picture of its
// source does; the sound of each join keeps its time against the pictures. The
// options of the editor's settings say what the save wrote (without audio, a bare
// video stream).
CheckReport checkSavedFile(const std::vector<std::string>& files, const CutEditor& editor, int selectionOnly,
                           LogConsole& log, const platform::OperationContext& op);

// The check that follows a save, when the settings ask for it (saveCheckAfterSave,
// whose value -1 leaves it to `checkByDefault`): the files of the save to `name`
// against the editor. -1 when no check was asked for.
bool checkAfterSaveWanted(int32_t setting, bool checkByDefault);
