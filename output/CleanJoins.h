#pragma once
// Clean joins: an assembly of the cut list in which every range shows exactly the
// pictures of its units, each once and decoded from the right pictures, with the
// time stamps, the GOP time codes and the sound running on across every join.
//
// A range (a run of units that follow each other in one source) that begins with
// an open GOP leaves out the B pictures coded after its I picture but shown before
// it (they refer to a picture of the previous GOP, which the new PVA does not
// hold there), marks that GOP closed and lowers its temporal references. A range
// ends with its own last picture. The packets in which a left-out picture begins
// or ends are rewritten; everything else is copied as it is.
#include <cstdint>
#include <vector>

class CutEditor;
namespace platform { struct OperationContext; }

// Entry `entry` of the new PVA list goes out with these flags and this payload
// instead of its source packet's (counter and time stamp are still set by the writer).
struct PacketRewrite {
    uint32_t entry = 0;
    uint8_t flags = 0;
    std::vector<uint8_t> payload;
};

// From entry `firstEntry` on, GOP time codes move on by `pictures` (at
// `picturesPerSecond`), up to the next shift.
struct TimeCodeShift {
    uint32_t firstEntry = 0;
    int32_t pictures = 0;
    int32_t picturesPerSecond = 25;
};

struct CleanJoinPlan {
    std::vector<PacketRewrite> rewrites;   // by entry
    std::vector<TimeCodeShift> timeCodes;  // by firstEntry
    // Re-encoding at cuts (saveRecodeAtCuts): what it came to.
    uint32_t recodedCuts = 0;
    uint64_t recodedPictures = 0;
    uint64_t recodedBytes = 0;
    uint64_t replacedBytes = 0;
    bool cancelled = false;   // the re-encoding was cancelled: the list is not complete
    void clear() { *this = CleanJoinPlan{}; }
};

// Fills the editor's NewPvaPacketList from the current cut list (only the selected
// entries when selectionOnly is 1) and `plan` with what the writer changes beyond
// counters and time stamps. 0 when the list has no entries, -1 when the editor is
// not ready, else 1. Sources are read for the pictures at the ends of each range;
// a source that cannot be read there is copied as the plain assembly would.
// With re-encoding at cuts and `op` given, the re-encoding shows its progress there and
// stops at its cancel: then -1 (the flag is left set for the caller).
int assembleCleanJoins(CutEditor& editor, int selectionOnly, CleanJoinPlan& plan,
                       const platform::OperationContext* op = nullptr);

// The packet list of a save as the settings say: with assCleanJoins 1 the clean
// joins above (true, `plan` filled), else the plain assembly (false, `plan` empty).
bool assembleForSave(CutEditor& editor, int selectionOnly, CleanJoinPlan& plan,
                     const platform::OperationContext* op = nullptr);

// A GOP header's time code (the 25 bits after its start code) moved on by
// `pictures` at `picturesPerSecond`, wrapping at 24 hours; drop flag and marker kept.
uint32_t shiftTimeCode(uint32_t timeCode, int32_t pictures, int32_t picturesPerSecond);
// Moves the time code of every GOP header that lies wholly in data[0 .. length-1].
void shiftGopTimeCodes(uint8_t* data, uint32_t length, int32_t pictures, int32_t picturesPerSecond);
