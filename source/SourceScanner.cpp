// Reading a source PVA file once into its packet index and cut points.
#include "platform/Control.h"
#include "platform/Host.h"
#include "shell/LogConsole.h"
#include "source/BufferedReader.h"
#include "source/FileAccess.h"
#include "source/PictureAnalysis.h"
#include "source/PvaPacket.h"
#include "source/SourceAnalyser.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t payloadBufferSize = 8192;
constexpr uint32_t noHeaderFound = 0xFFFFFFFF;
constexpr uint32_t speedLineIntervalMs = 500;
// PES header bytes up to and including the 5-byte time stamp.
constexpr uint32_t pesPtsEnd = 14;

// The reader a scan uses, chosen once when the scan starts.
class ScanReader {
public:
    explicit ScanReader(bool buffered) : buffered_(buffered) {}

    bool open(const char* path, LogConsole& log)
    {
        handle_ = buffered_ ? openBuffered(path, "rb", log) : openFile(path, "rb");
        position_ = 0;
        return handle_ != nullptr;
    }
    FileHandle handle() const { return handle_; }
    uint32_t position() const { return position_; }

    // Reads n bytes; from the read-ahead window the bytes are not copied.
    const uint8_t* view(uint8_t* buffer, uint32_t n, uint32_t& got)
    {
        if (!buffered_) {
            got = read(buffer, n);
            return buffer;
        }
        const uint8_t* data = viewBuffered(buffer, n, handle_, &got);
        position_ += got;
        return data;
    }
    uint32_t read(void* buffer, uint32_t n)
    {
        uint32_t got = buffered_ ? readBuffered(buffer, 1, n, handle_) : readFile(buffer, 1, n, handle_);
        position_ += got;
        return got;
    }
    void seek(uint32_t offset)
    {
        if (buffered_)
            seekBuffered(handle_, offset, 0);
        else
            seekFile(handle_, offset, 0);
        position_ = offset;
    }
    // Moves on to offset unless the reader already stands there (saves a system
    // call per packet on the plain file layer).
    void skipTo(uint32_t offset)
    {
        if (offset != position_) seek(offset);
    }
    // Someone else has moved the file (the repair search).
    void positionUnknown() { position_ = noHeaderFound; }
    void close()
    {
        if (!handle_) return;
        if (buffered_)
            closeBuffered(handle_);
        else
            closeFile(handle_);
        handle_ = nullptr;
    }

private:
    bool buffered_;
    FileHandle handle_ = nullptr;
    uint32_t position_ = 0;
};

int progressPercent(uint32_t offset, uint32_t size)
{
    if (size == 0 || size == noHeaderFound) return 0;
    double p = offset * 100.0 / size;
    if (p >= 100.0) return 100;
    return static_cast<int>(p);
}

} // namespace

uint32_t SourceAnalyser::findNextAvHeader(uint32_t start, FileHandle file)
{
    if (!file || seekFile(file, start, 0) != 0) return noHeaderFound;
    // Read in blocks, match byte by byte: "AV" then stream id 1 or 2. A byte that
    // breaks the pattern may itself start the next one (0x41 0x41 0x56 0x01).
    uint8_t block[4096];
    uint32_t offset = start;
    int matched = 0;   // 0 nothing, 1 after 0x41, 2 after 0x41 0x56
    for (;;) {
        uint32_t n = readFile(block, 1, sizeof block, file);
        if (n == 0) return noHeaderFound;
        for (uint32_t i = 0; i < n; ++i, ++offset) {
            uint8_t b = block[i];
            if (matched == 2 && (b == pvaStreamVideo || b == pvaStreamAudio)) return offset - 2;
            if (matched == 1 && b == 0x56) {
                matched = 2;
                continue;
            }
            matched = b == 0x41 ? 1 : 0;
        }
    }
}

int SourceAnalyser::scanSource(const char* path, int withLog)
{
    LogConsole& out = log ? *log : logConsole();
    if (sourceCount >= maxSources) {
        out.writef("ERROR: To much source PVA streams\n");
        return -1;
    }

    bool over4GiB = false;
    const uint32_t size = fileSize(path, out, &over4GiB);
    if (over4GiB) {
        // Offsets are 32 bits wide: such a file cannot be indexed.
        out.writef("ERROR: %s is 4 GiB or larger, PVA files must be smaller than 4 GiB\n", path);
        return -1;
    }

    platform::Control* progress = settings.scanProgress;
    platform::Control* cancelButton = settings.scanCancelButton;
    platform::Control* infoLine = settings.sourceInfoLine;
    if (progress) {
        progress->show(true);
        progress->setRange(0, 100);
        progress->setPosition(0);
    }
    if (cancelButton) cancelButton->show(true);

    ScanReader reader(settings.fastBufferScan == 1);
    if (!reader.open(path, out)) {
        out.writef("ERROR: can't read %s\n", path);
        if (progress) progress->show(false);
        if (cancelButton) cancelButton->show(false);
        return -1;
    }

    const bool scanLog = withLog == 1;
    if (scanLog) {
        std::string logName = std::string(path) + ".txt";
        out.setFileName(logName.c_str());
        deleteFile(logName.c_str());
        out.writef("Creating Scan Log: %s\n", logName.c_str());
        out.setFileCopy(1);
        out.setDisplay(0);
        out.write("pos        paket        type                  size        PTS_DWORD   offset_to_first_Video_PTS_ms\n",
                  1);
    }
    reader.seek(0);

    const int slot = sourceCount;
    currentSource = slot;
    SourceStream& s = sources[slot];
    bool failed = allocSourceArrays(slot) != 1;
    s.fileName = path;

    s.pktCount = 0;
    s.lastCutPoint = 0;
    s.vStartPts = 0;
    s.vEndPts = 0;
    s.scanEnd = 0;
    s.cursor = 0;
    s.selStart = s.selEnd = -1;

    // Anything but 0 cuts at I pictures.
    const bool cutAtI = settings.cutAtIFrames != 0;
    platform::Host& host = platform::host();

    uint32_t offset = 0;
    int32_t pktNum = 0;
    int32_t pictureCounter = 0;
    int32_t cutCount = 0;
    uint32_t videoPts = 0, audioPts = 0, gopWord = 0;
    int32_t prevPktNum = 0, prevCutCount = 0;
    uint32_t prevVStartPts = 0, prevVEndPts = 0, lastGoodOffset = 0;
    bool packetSeen = false;
    uint32_t speedTime = host.clock->nowMs();
    uint32_t speedOffset = 0;

    uint8_t raw[pvaHeaderSize];
    uint8_t payloadBuffer[payloadBufferSize];
    char line[160];

    const bool skipLoop = failed || settings.cancelRequested != 0;
    while (!skipLoop) {
        int32_t iCount = 0, gopCount = 0;
        uint8_t pictureType = 0;

        uint32_t got = reader.read(raw, pvaHeaderSize);
        // Nothing left, or only a piece of a header: the file has ended.
        if (got < pvaHeaderSize) break;

        if (!hasAvSync(raw)) {
            s.vStartPts = prevVStartPts;
            s.vEndPts = prevVEndPts;
            s.pktCount = prevPktNum;
            cutCount = prevCutCount;
            s.lastCutPoint = prevCutCount > 0 ? prevCutCount - 1 : 0;
            pktNum = prevPktNum;

            out.writef("ERROR: No file end but no (more) AV header found\n");
            out.writef("Try to repair pva file at pos %u , mpegpkt %d  \n", lastGoodOffset, prevCutCount - 1);
            // Skip the "AV" of the last good packet; before the first packet there
            // is none, and a header right after a single stray byte must not be missed.
            uint32_t from = packetSeen ? lastGoodOffset + 2 : lastGoodOffset + 1;
            uint32_t found = findNextAvHeader(from, reader.handle());
            reader.positionUnknown();
            if (found == noHeaderFound) {
                out.writef("ERROR: No more AV Data Found\n");
                break;
            }
            out.writef("Found more AV Data at %u\n", found);
            reader.seek(found);
            if (reader.read(raw, pvaHeaderSize) < pvaHeaderSize) break;
            offset = found;
        }
        packetSeen = true;

        PvaPacketHeader header = readPacketHeader(raw);
        const uint32_t length = header.length;
        // A packet reaching past 4 GiB cannot be complete in a file below 4 GiB.
        if (uint64_t{offset} + pvaHeaderSize + length > 0xFFFFFFFFu) break;
        const uint32_t next = offset + pvaHeaderSize + length;
        const bool hasPts = (header.flags & pvaFlagPts) != 0;
        bool ptsRead = false;

        if (scanLog) {
            int n = std::snprintf(line, sizeof line, "%09u::%05d: ", offset, pktNum);
            if (header.streamId == pvaStreamVideo)
                n += std::snprintf(line + n, sizeof line - n, "ID: %d VIDEO  ", 1);
            else if (header.streamId == pvaStreamAudio)
                n += std::snprintf(line + n, sizeof line - n, "ID: %d AUDIO  ", 2);
            std::snprintf(line + n, sizeof line - n, "count:%03d  len:%05d  ", header.counter, static_cast<int>(length));
            out.write(line, 1);
        }

        if (hasPts && (header.streamId == pvaStreamVideo || header.streamId == pvaStreamAudio)) {
            // A payload larger than the buffer is read only as far as the buffer
            // goes; time stamps and picture headers sit at its start.
            uint32_t want = length < payloadBufferSize ? length : payloadBufferSize;
            uint32_t have = 0;
            const uint8_t* data = want ? reader.view(payloadBuffer, want, have) : payloadBuffer;

            if (header.streamId == pvaStreamVideo) {
                if (have >= 4) {
                    ptsRead = true;
                    videoPts = readVideoPts(data);
                    if (s.vStartPts == 0) s.vStartPts = videoPts;
                    prevVStartPts = s.vStartPts;
                    if (s.vStartPts > videoPts && s.vStartPts - videoPts < ptsTicksPerSecond) s.vStartPts = videoPts;
                    if (scanLog) {
                        std::snprintf(line, sizeof line, "%04d PTS: %04u  %04u  ", pictureCounter, videoPts,
                                      (videoPts - s.vStartPts) / 90);
                        out.write(line, 1);
                    }
                    analysePictures(data, have - 4, iCount, pictureCounter, gopCount, pictureType, gopWord,
                                    scanLog ? 1 : 0, out);
                }
                if (scanLog) out.write("\n", 1);
            } else {
                if (have >= pesPtsEnd) {
                    audioPts = decodePesPts(data + 9);
                    if (scanLog) {
                        uint32_t sinceStart = audioPts - s.vStartPts;
                        if (audioPts > sinceStart)
                            std::snprintf(line, sizeof line, "     PTS: %04u %04u <- Audio with PES\n", audioPts,
                                          sinceStart / 90);
                        else
                            std::snprintf(line, sizeof line, "     PTS: %04u -%04u <- Audio with PES\n", audioPts,
                                          (s.vStartPts - audioPts) / 90);
                        out.write(line, 1);
                    }
                } else if (scanLog) {
                    // Too short for a PES time stamp: the previous one stays in force.
                    out.write("\n", 1);
                }
            }
            reader.skipTo(next);
        } else {
            reader.skipTo(next);
            if (scanLog && !hasPts) out.write("\n", 1);
        }

        s.pktHeader[pktNum] = header;
        s.picType[pktNum] = pictureType;
        s.vPts[pktNum] = videoPts;
        s.aPts[pktNum] = audioPts;
        s.gopTimeCode[pktNum] = gopWord;
        s.pktPos[pktNum] = offset;
        s.pktCount = pktNum + 1;
        s.scanEnd = next;

        prevVEndPts = s.vEndPts;
        if (s.vEndPts < videoPts || s.vEndPts - videoPts > ptsTicksPerSecond) s.vEndPts = videoPts;

        lastGoodOffset = offset;
        offset = next;

        if (pktNum > maxPacketsPerSource - 1) {
            out.writef("ERROR: source PVA file to big or bad PVA file format\n");
            failed = true;
            break;
        }

        prevPktNum = pktNum;
        prevCutCount = cutCount;
        ++pktNum;

        // A packet whose time stamp field is cut short carries no time stamp and
        // cannot start a unit.
        if ((cutAtI && iCount != 0) || (!cutAtI && ptsRead)) {
            if (cutCount >= cutPointCapacity) {
                out.writef("ERROR: source PVA file to big or bad PVA file format\n");
                failed = true;
                break;
            }
            s.cutPointPkt[cutCount] = pktNum - 1;
            s.cutPointFrame[cutCount] = pictureCounter - 1;
            s.lastCutPoint = cutCount;
            ++cutCount;
        }

        if (progress) progress->setPosition(progressPercent(offset, size));

        uint32_t now = host.clock->nowMs();
        if (infoLine && now - speedTime > speedLineIntervalMs) {
            std::snprintf(line, sizeof line, "Scan PVA %4.0fMB  %2.2f MB/s", offset / 1048576.0,
                          ((offset - speedOffset) / 1048576.0) / ((now - speedTime) * 0.001));
            infoLine->setText(line);
            speedTime = now;
            speedOffset = offset;
        }

        host.pump->serve(8);
        if (settings.cancelRequested != 0) break;
    }

    reader.close();
    if (scanLog) {
        out.setFileCopy(0);
        out.setDisplay(1);
    }

    const uint32_t endReached = s.scanEnd, startPts = s.vStartPts, endPts = s.vEndPts;
    int result = 1;
    if (failed || settings.cancelRequested != 0) {
        settings.cancelRequested = 0;
        s.resetIndex();
        currentSource = 0;
        result = -1;
    } else {
        const int32_t n = s.pktCount;
        for (int32_t k = 0; k < n; ++k) {
            s.vPts[k] -= startPts;
            s.aPts[k] -= startPts;
        }
        ++sourceCount;
    }

    if (progress) progress->show(false);
    if (cancelButton) cancelButton->show(false);

    out.writef("%s: %u Bytes   vStartPts %X  vEndPts %X  Frames %u \n", path, endReached, startPts, endPts,
        static_cast<uint32_t>(pictureCounter));
    return result;
}
