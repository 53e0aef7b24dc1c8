#pragma once
#include "core/GrowingArray.h"
#include "core/Settings.h"
#include "source/FileAccess.h"
#include "source/PvaPacket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class LogConsole;
namespace platform { struct OperationContext; }

inline constexpr uint64_t noAvHeader = UINT64_MAX;

inline constexpr int maxSources = 16;
inline constexpr uint32_t ptsTicksPerSecond = 90000;

// What the program holds at most. The columns grow with the work, so these are far
// above any recording (2e9 packets are some 16 GB of empty packets, or months of
// broadcast); memory runs out first.
struct Capacities {
    int32_t packetsPerSource = 2000000000;
    int32_t listEntries = 2000000000;      // entries of one cut-list level
    uint32_t newPvaPackets = 2000000000;   // packets of the assembled list
};

// One scanned source: the packet index and the cut points.
// Per-packet time stamps are relative to vStartPts after a successful scan.
// The columns grow as the scan fills them (reservePackets, reserveCutPoints).
struct SourceStream {
    std::string fileName;
    GrowingArray<PvaPacketHeader> pktHeader;   // length in host order
    GrowingArray<uint8_t> picType;             // 0 none, 1 I, 2 P, 3 B
    GrowingArray<uint32_t> vPts;
    GrowingArray<uint32_t> aPts;
    GrowingArray<uint32_t> gopTimeCode;
    uint32_t vStartPts = 0;
    uint32_t vEndPts = 0;
    uint64_t scanEnd = 0;
    // The file the scan read (known when scannedFile is set): a save checks that it
    // still reads that one.
    bool scannedFile = false;
    FileIdentity scanned;
    GrowingArray<uint64_t> pktPos;
    int32_t pktCount = 0;
    GrowingArray<int32_t> cutPointPkt;
    GrowingArray<int32_t> cutPointFrame;
    int32_t lastCutPoint = 0;
    int32_t cursor = 0;
    int32_t selStart = -1;
    int32_t selEnd = -1;

    bool allocated() const
    {
        return pktHeader && picType && vPts && aPts && gopTimeCode && pktPos && cutPointPkt && cutPointFrame;
    }
    // Room for n packets in every per-packet column, or for n cut points; false
    // when the memory cannot be had (what is there stays).
    bool reservePackets(size_t n);
    bool reserveCutPoints(size_t n);
    // Room for packets [first, first + n), made resident at once.
    bool preparePackets(size_t first, size_t n);
    // The packets and cut points there is room for.
    size_t packetRoom() const;
    size_t cutPointRoom() const;
    // Empties the slot's index; the columns stay for the next scan.
    void resetIndex()
    {
        pktCount = 0;
        lastCutPoint = 0;
        vStartPts = 0;
        cursor = 0;
        selStart = selEnd = -1;
    }
};

// The application object: the live settings and the table of sources.
class SourceAnalyser {
public:
    explicit SourceAnalyser(LogConsole& log);
    SourceAnalyser(const SourceAnalyser&) = delete;
    SourceAnalyser& operator=(const SourceAnalyser&) = delete;

    // Every message of the scanner, the editor, the assembler and the writer goes here.
    LogConsole& log;
    Settings settings;
    Capacities limits;
    SourceStream sources[maxSources];
    int32_t currentSource = 0;
    int32_t sourceCount = 0;

    // Scans, saves and listings running (the window serves events meanwhile, so
    // commands can come in): while it is not 0 the sources must not be reset.
    int32_t busy = 0;

    // Called after "<" or ">" changed the current source, so the window can bring
    // the source scroll bar to the new source's cursor.
    std::function<void()> onCurrentSourceChanged;

    // Scans path into the next free slot; 1 on success, -1 otherwise. The progress
    // shows, events are served and a cancel is asked for through `op`.
    int scanSource(const char* path, int withLog, const platform::OperationContext& op);
    // Gives the slot's columns their first room (nothing resident yet) and sets its
    // pktCount to 0. Returns 1, or -1 when a column could not be had.
    int allocSourceArrays(int slot);
    // Offset of the next "AV" + id 1/2 header at or after start, or noAvHeader.
    uint64_t findNextAvHeader(uint64_t start, FileHandle file);

    void selectPreviousSource();
    void selectNextSource();
    // Makes loaded source s the current one; -1 (nothing changes) when there is none.
    int selectSource(int32_t s);

    SourceStream& current() { return sources[currentSource]; }
    // Source s when a successful scan has loaded it and it has packets, else null.
    // Slots at or above sourceCount are never usable, even while a scan fills one.
    const SourceStream* usableSource(int32_t s) const;
    SourceStream* usableSource(int32_t s);
};
