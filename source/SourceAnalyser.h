#pragma once
#include "core/Settings.h"
#include "source/FileAccess.h"
#include "source/PvaPacket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class LogConsole;

inline constexpr int maxSources = 16;
inline constexpr int32_t packetCapacity = 1500000;   // room in the per-packet arrays
inline constexpr int32_t maxPacketsPerSource = 1499999;
inline constexpr int32_t cutPointCapacity = 37500;
inline constexpr uint32_t ptsTicksPerSecond = 90000;

// One scanned source: the packet index and the cut points.
// Per-packet time stamps are relative to vStartPts after a successful scan.
struct SourceStream {
    std::string fileName;
    std::unique_ptr<PvaPacketHeader[]> pktHeader;   // length in host order
    std::unique_ptr<uint8_t[]> picType;             // 0 none, 1 I, 2 P, 3 B
    std::unique_ptr<uint32_t[]> vPts;
    std::unique_ptr<uint32_t[]> aPts;
    std::unique_ptr<uint32_t[]> gopTimeCode;
    uint32_t vStartPts = 0;
    uint32_t vEndPts = 0;
    uint32_t scanEnd = 0;
    std::unique_ptr<uint32_t[]> pktPos;
    int32_t pktCount = 0;
    std::unique_ptr<int32_t[]> cutPointPkt;
    std::unique_ptr<int32_t[]> cutPointFrame;
    int32_t lastCutPoint = 0;
    int32_t cursor = 0;
    int32_t selStart = -1;
    int32_t selEnd = -1;

    bool allocated() const
    {
        return pktHeader && picType && vPts && aPts && gopTimeCode && pktPos && cutPointPkt && cutPointFrame;
    }
    // Empties the slot's index; the arrays stay for the next scan.
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
    SourceStream sources[maxSources];
    int32_t currentSource = 0;
    int32_t sourceCount = 0;

    // Set while a save reads the source table; a change of the cut rule must wait.
    int32_t saveRunning = 0;

    // Called after "<" or ">" changed the current source, so the window can bring
    // the source scroll bar to the new source's cursor.
    std::function<void()> onCurrentSourceChanged;

    // Scans path into the next free slot; 1 on success, -1 otherwise.
    int scanSource(const char* path, int withLog);
    // Allocates the slot's missing arrays and sets its pktCount to 0.
    // Returns 1, or -1 when an array could not be allocated.
    int allocSourceArrays(int slot);
    // Offset of the next "AV" + id 1/2 header at or after start, or 0xFFFFFFFF.
    uint32_t findNextAvHeader(uint32_t start, FileHandle file);

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
