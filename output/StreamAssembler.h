#pragma once
#include <cstdint>

class CutEditor;
struct CutList;

// The entries an assembly takes, first..last of the list (all, or the selected ones
// with selectionOnly 1); none when first > last.
struct EntryRange {
    int32_t first = 0;
    int32_t last = -1;
};
EntryRange entriesToAssemble(const CutList& list, int selectionOnly);

// Builds the editor's NewPvaPacketList from the current cut list (only the selected
// entries when selectionOnly is 1). 0 when the list has no entries, else 1.
int assembleNewStream(CutEditor& editor, int selectionOnly);

// The transfer operations (ranges inclusive; first > last is empty).
// 1, or -1 with "ERROR:addAVPkts: New PVA to big: more than N packets\n" when the list
// would hold more than its limit, or "ERROR: OUT OF MEMORY\n" when there is no room
// for the range; during an assembly such refusals are only counted.
int addAVPkts(CutEditor& editor, int32_t source, uint32_t first, uint32_t last, uint32_t audioStartPts,
              uint32_t audioPtsOffset, uint32_t videoPtsOffset, int calcNewPts);
int appendAVPkts(CutEditor& editor, int32_t source, uint32_t first, uint32_t last, uint32_t audioEndPts,
                 uint32_t audioPtsOffset, int calcNewPts);
int preAddAVAudioPkts(CutEditor& editor, int32_t source, uint32_t first, uint32_t last, uint32_t audioStartPts,
                      uint32_t audioPtsOffset, int calcNewPts);
// 1 when a packet of the range is an audio packet with the PTS flag, else 0.
int containsAudioPesStart(const CutEditor& editor, int32_t source, uint32_t first, uint32_t last);
