// Reading a source PVA file once into its packet index and cut points.
#include "core/LogConsole.h"
#include "platform/Operation.h"
#include "platform/posix/SystemCalls.h"
#include "source/FileAccess.h"
#include "source/OutputFile.h"
#include "source/PacketWalker.h"
#include "source/PictureAnalysis.h"
#include "source/PvaPacket.h"
#include "source/ReadAheadReader.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr uint32_t payloadBufferSize = 8192;
constexpr size_t packetStretch = 16384;   // packets made resident ahead: under 0.5 MB
constexpr uint32_t speedLineIntervalMs = 500;
// PES header bytes up to and including the 5-byte time stamp.
constexpr uint32_t pesPtsEnd = 14;

// The reader a scan uses, chosen once when the scan starts. Owns the open file
// and, for the read-ahead scan, the reader with its window.
class ScanReader {
public:
    explicit ScanReader(bool buffered) : buffered_(buffered) {}
    ~ScanReader() { close(); }
    ScanReader(const ScanReader&) = delete;
    ScanReader& operator=(const ScanReader&) = delete;

    bool open(const char* path, LogConsole& log)
    {
        handle_ = buffered_ ? readAhead_.open(path, "rb", log) : openFile(path, "rb");
        position_ = 0;
        return handle_ != nullptr;
    }
    FileHandle handle() const { return handle_; }

    // Reads n bytes; from the read-ahead window the bytes are not copied.
    const uint8_t* view(uint8_t* buffer, uint32_t n, uint32_t& got)
    {
        if (!buffered_) {
            got = read(buffer, n);
            return buffer;
        }
        const uint8_t* data = readAhead_.view(buffer, n, &got);
        position_ += got;
        return data;
    }
    uint32_t read(void* buffer, uint32_t n)
    {
        uint32_t got = buffered_ ? readAhead_.read(buffer, 1, n) : readFile(buffer, 1, n, handle_);
        position_ += got;
        return got;
    }
    void seek(uint64_t offset)
    {
        if (buffered_)
            readAhead_.seek(offset, 0);
        else
            seekFile(handle_, offset, 0);
        position_ = offset;
    }
    // Moves on to offset unless the reader already stands there (saves a system
    // call per packet on the plain file layer).
    void skipTo(uint64_t offset)
    {
        if (offset != position_) seek(offset);
    }
    // Someone else has moved the file (the repair search).
    void positionUnknown() { position_ = noAvHeader; }
    // The file's size now: a recording still being written grows during its scan.
    bool currentSize(uint64_t& size) const { return openFileSize(handle_, &size); }
    void close()
    {
        if (!handle_) return;
        if (buffered_)
            readAhead_.close();
        else
            closeFile(handle_);
        handle_ = nullptr;
    }

private:
    bool buffered_;
    ReadAheadReader readAhead_;
    FileHandle handle_ = nullptr;
    uint64_t position_ = 0;
};

int progressPercent(uint64_t offset, uint64_t size)
{
    if (size == 0 || size == fileSizeUnknown) return 0;
    double p = offset * 100.0 / size;
    if (p >= 100.0) return 100;
    return static_cast<int>(p);
}

// What the analysis of one packet found.
struct PacketFindings {
    int32_t iCount = 0;
    int32_t gopCount = 0;
    uint8_t pictureType = 0;
    bool ptsRead = false;   // a complete video time stamp
};

// One run of scanSource: the file, the slot it fills and everything the packet
// loop carries from one packet to the next.
class SourceScan {
public:
    SourceScan(SourceAnalyser& app, const char* path, bool withLog, const platform::OperationContext& op)
        : app_(app), log_(app.log), settings_(app.settings), op_(op), path_(path), withLog_(withLog),
          reader_(settings_.fastBufferScan == 1), cutAtI_(settings_.cutAtIFrames != 0)
    {}

    int run();

private:
    bool admit();
    void showControls(bool visible);
    bool openReader();
    void startScanLog();
    void endScanLog();
    void scanLogFailed();
    void prepareSlot();
    void readPackets();
    bool readHeader(uint8_t raw[pvaHeaderSize]);
    bool fileReaches(uint64_t end);
    bool repair(uint8_t raw[pvaHeaderSize]);
    void logPacketStart(const PvaPacketHeader& header);
    void analysePayload(const PvaPacketHeader& header, PacketFindings& found);
    void analyseVideo(const uint8_t* data, uint32_t have, PacketFindings& found);
    void analyseAudio(const uint8_t* data, uint32_t have);
    bool makeRoomForPacket();
    void storePacket(const PvaPacketHeader& header, const PacketFindings& found, uint64_t next);
    bool noteCutPoint(const PacketFindings& found);
    void reportProgress();
    int keepOrFreeSlot();
    void writeSummary();

    SourceAnalyser& app_;
    LogConsole& log_;
    Settings& settings_;
    const platform::OperationContext& op_;
    const char* path_;
    const bool withLog_;
    ScanReader reader_;
    std::optional<FileCopyScope> scanLog_;
    std::string scanLogName_;
    // The scan log is written under a temporary name and takes its own when the
    // scan ends: an earlier log stays whole until then.
    OutputFile scanLogFile_;
    const bool cutAtI_;   // anything but 0 cuts at I pictures
    uint64_t size_ = 0;
    SourceStream* s_ = nullptr;
    bool failed_ = false;
    size_t packetRoom_ = 0;

    uint64_t offset_ = 0;
    int32_t pktNum_ = 0;
    int32_t pictureCounter_ = 0;
    int32_t cutCount_ = 0;
    uint32_t videoPts_ = 0, audioPts_ = 0, gopWord_ = 0;
    // What the repair rolls back to: the state before the last packet read.
    int32_t prevPktNum_ = 0, prevCutCount_ = 0;
    uint32_t prevVStartPts_ = 0, prevVEndPts_ = 0;
    uint64_t lastGoodOffset_ = 0;
    bool packetSeen_ = false;
    uint32_t speedTime_ = 0;
    uint64_t speedOffset_ = 0;
    // The summary line's values, as the scan reached them.
    uint64_t endReached_ = 0;
    uint32_t startPts_ = 0, endPts_ = 0;

    uint8_t payload_[payloadBufferSize];
};

int SourceScan::run()
{
    if (!admit()) return -1;
    showControls(true);
    if (!openReader()) {
        showControls(false);
        return -1;
    }
    startScanLog();
    reader_.seek(0);
    prepareSlot();
    s_->scannedFile = openFileIdentity(reader_.handle(), &s_->scanned);
    if (!failed_ && !op_.cancelRequested()) readPackets();
    reader_.close();
    endScanLog();
    const int result = keepOrFreeSlot();
    showControls(false);
    writeSummary();
    return result;
}

// A free slot; the size only drives the progress bar.
bool SourceScan::admit()
{
    if (app_.sourceCount >= maxSources) {
        log_.writef("ERROR: To much source PVA streams\n");
        return false;
    }
    // A pipe or a device would block the scan or never end, a directory is no
    // recording: refused before anything is opened.
    posix::FileStatus st;
    if (path_ && posix::pathStatus(path_, &st, false) && st.kind != posix::FileKind::regular) {
        log_.writef("ERROR: can't read %s: it is not a regular file\n", path_);
        return false;
    }
    size_ = fileSize(path_, log_);
    return true;
}

void SourceScan::showControls(bool visible)
{
    op_.progress.running(visible);
}

bool SourceScan::openReader()
{
    if (reader_.open(path_, log_)) return true;
    log_.writef("ERROR: can't read %s\n", path_);
    return false;
}

// With a scan log, every message of the scan from here on goes into "<path>.txt"
// instead of onto the display.
void SourceScan::startScanLog()
{
    if (!withLog_) return;
    scanLogName_ = std::string(path_) + ".txt";
    // A recording must never give way to a scan log: not the one scanned, not a loaded one.
    const char* source = sameFile(scanLogName_, path_) ? path_ : nullptr;
    for (int32_t k = 0; !source && k < app_.sourceCount && k < maxSources; ++k)
        if (!app_.sources[k].fileName.empty() && sameFile(scanLogName_, app_.sources[k].fileName))
            source = app_.sources[k].fileName.c_str();
    if (source) {
        log_.writef("ERROR: can't write %s: it is the source PVA file %s\n", scanLogName_.c_str(), source);
        failed_ = true;
        return;
    }
    log_.writef("Creating Scan Log: %s\n", scanLogName_.c_str());
    const OutputFile::Opened opened = scanLogFile_.open(scanLogName_.c_str());
    if (opened != OutputFile::Opened::ok) {
        scanLogFile_.discard();
        scanLogFailed();
        return;
    }
    log_.setFileName(scanLogFile_.isStream() ? scanLogName_.c_str() : scanLogFile_.temporaryName().c_str());
    scanLog_.emplace(log_);
    log_.write("pos        paket        type                  size        PTS_DWORD   offset_to_first_Video_PTS_ms\n",
               1);
    // A log that cannot be written fails the scan before it reads the file.
    if (log_.copyFailed()) {
        scanLog_.reset();
        scanLogFailed();
    }
}

void SourceScan::endScanLog()
{
    if (!scanLog_) {
        if (scanLogFile_.isOpen()) log_.setFileName(scanLogName_.c_str());
        scanLogFile_.discard();
        return;
    }
    scanLog_.reset();
    // Later copies of the console go where the log is, under its own name.
    log_.setFileName(scanLogName_.c_str());
    if (log_.copyFailed()) {
        scanLogFile_.discard();
        scanLogFailed();
        return;
    }
    // A cancelled scan leaves an earlier log as it was.
    if (op_.cancelRequested()) {
        scanLogFile_.discard();
        return;
    }
    if (!scanLogFile_.commit()) scanLogFailed();
}

void SourceScan::scanLogFailed()
{
    log_.writef("ERROR: can't write %s\n", scanLogName_.c_str());
    failed_ = true;
}

void SourceScan::prepareSlot()
{
    const int slot = app_.sourceCount;
    app_.currentSource = slot;
    s_ = &app_.sources[slot];
    if (app_.allocSourceArrays(slot) != 1) failed_ = true;
    s_->fileName = path_;
    s_->resetIndex();
    s_->vEndPts = 0;
    s_->scanEnd = 0;
    speedTime_ = op_.clock.nowMs();
}

void SourceScan::readPackets()
{
    uint8_t raw[pvaHeaderSize];
    for (;;) {
        if (!readHeader(raw)) return;
        const PvaPacketHeader header = readPacketHeader(raw);
        const uint64_t next = offset_ + pvaHeaderSize + header.length;
        // A recording cut short (a full disk, a recorder that crashed) ends inside
        // its last packet: like a partial header, that packet is not indexed.
        if (next > size_ && !fileReaches(next)) return;

        if (withLog_) logPacketStart(header);
        PacketFindings found;
        analysePayload(header, found);
        reader_.skipTo(next);
        if (!makeRoomForPacket()) return;
        storePacket(header, found, next);

        prevPktNum_ = pktNum_;
        prevCutCount_ = cutCount_;
        ++pktNum_;
        if (!noteCutPoint(found)) return;

        reportProgress();
        op_.pump.serve(8);
        if (op_.cancelRequested()) return;
    }
}

// The next packet's 8 header bytes, repairing the file when they are not a header.
// False when the file has ended.
bool SourceScan::readHeader(uint8_t raw[pvaHeaderSize])
{
    // Nothing left, or only a piece of a header: the file has ended.
    if (reader_.read(raw, pvaHeaderSize) < pvaHeaderSize) return false;
    if (!hasAvSync(raw) && !repair(raw)) return false;
    packetSeen_ = true;
    return true;
}

// Whether the file holds `end` bytes, taking its size afresh.
bool SourceScan::fileReaches(uint64_t end)
{
    uint64_t now = 0;
    if (!reader_.currentSize(now)) return false;
    size_ = now;
    return end <= now;
}

// Drops the last packet read (its length led astray) and searches on for a header.
bool SourceScan::repair(uint8_t raw[pvaHeaderSize])
{
    s_->vStartPts = prevVStartPts_;
    s_->vEndPts = prevVEndPts_;
    s_->pktCount = prevPktNum_;
    cutCount_ = prevCutCount_;
    s_->lastCutPoint = prevCutCount_ > 0 ? prevCutCount_ - 1 : 0;
    pktNum_ = prevPktNum_;

    log_.writef("ERROR: No file end but no (more) AV header found\n");
    log_.writef("Try to repair pva file at pos %llu , mpegpkt %d  \n", static_cast<unsigned long long>(lastGoodOffset_),
                prevCutCount_ - 1);
    // Skip the "AV" of the last good packet; before the first packet there is
    // none, and a header right after a single stray byte must not be missed.
    const uint64_t from = packetSeen_ ? lastGoodOffset_ + 2 : lastGoodOffset_ + 1;
    const uint64_t found = app_.findNextAvHeader(from, reader_.handle());
    reader_.positionUnknown();
    if (found == noAvHeader) {
        log_.writef("ERROR: No more AV Data Found\n");
        return false;
    }
    log_.writef("Found more AV Data at %llu\n", static_cast<unsigned long long>(found));
    reader_.seek(found);
    if (reader_.read(raw, pvaHeaderSize) < pvaHeaderSize) return false;
    offset_ = found;
    return true;
}

// The scan log line's first pieces: offset, packet number, stream, counter, length.
void SourceScan::logPacketStart(const PvaPacketHeader& header)
{
    const char* stream = "";
    if (header.streamId == pvaStreamVideo) stream = "ID: 1 VIDEO  ";
    if (header.streamId == pvaStreamAudio) stream = "ID: 2 AUDIO  ";
    log_.writef("%09llu::%05d: %scount:%03d  len:%05d  ", static_cast<unsigned long long>(offset_), pktNum_, stream,
                header.counter, static_cast<int>(header.length));
}

// Only video and audio payloads with a time stamp are read; the others are skipped.
void SourceScan::analysePayload(const PvaPacketHeader& header, PacketFindings& found)
{
    const bool hasPts = (header.flags & pvaFlagPts) != 0;
    if (!hasPts || (header.streamId != pvaStreamVideo && header.streamId != pvaStreamAudio)) {
        if (withLog_ && !hasPts) log_.write("\n", 1);
        return;
    }
    // A payload larger than the buffer is read only as far as the buffer goes;
    // time stamps and picture headers sit at its start.
    const uint32_t want = header.length < payloadBufferSize ? header.length : payloadBufferSize;
    uint32_t have = 0;
    const uint8_t* data = want ? reader_.view(payload_, want, have) : payload_;
    if (header.streamId == pvaStreamVideo)
        analyseVideo(data, have, found);
    else
        analyseAudio(data, have);
}

void SourceScan::analyseVideo(const uint8_t* data, uint32_t have, PacketFindings& found)
{
    if (have >= 4) {
        found.ptsRead = true;
        videoPts_ = readVideoPts(data);
        if (s_->vStartPts == 0) s_->vStartPts = videoPts_;
        prevVStartPts_ = s_->vStartPts;
        if (s_->vStartPts > videoPts_ && s_->vStartPts - videoPts_ < ptsTicksPerSecond) s_->vStartPts = videoPts_;
        if (withLog_)
            log_.writef("%04d PTS: %04u  %04u  ", pictureCounter_, videoPts_, (videoPts_ - s_->vStartPts) / 90);
        analysePictures(data, have - 4, found.iCount, pictureCounter_, found.gopCount, found.pictureType, gopWord_,
                        withLog_ ? 1 : 0, log_);
    }
    if (withLog_) log_.write("\n", 1);
}

void SourceScan::analyseAudio(const uint8_t* data, uint32_t have)
{
    if (have < pesPtsEnd) {
        // Too short for a PES time stamp: the previous one stays in force.
        if (withLog_) log_.write("\n", 1);
        return;
    }
    audioPts_ = decodePesPts(data + 9);
    if (!withLog_) return;
    const uint32_t sinceStart = audioPts_ - s_->vStartPts;
    if (audioPts_ > sinceStart)
        log_.writef("     PTS: %04u %04u <- Audio with PES\n", audioPts_, sinceStart / 90);
    else
        log_.writef("     PTS: %04u -%04u <- Audio with PES\n", audioPts_, (s_->vStartPts - audioPts_) / 90);
}

// The index grows with the file, a stretch of packets at a time: touching its
// fresh pages at once costs less than a page fault each.
bool SourceScan::makeRoomForPacket()
{
    if (static_cast<size_t>(pktNum_) < packetRoom_) return true;
    if (pktNum_ >= app_.limits.packetsPerSource) {
        log_.writef("ERROR: source PVA file to big or bad PVA file format: more than %d packets\n",
                    app_.limits.packetsPerSource);
        failed_ = true;
        return false;
    }
    const size_t first = static_cast<size_t>(pktNum_);
    const size_t stretch = std::min(packetStretch, static_cast<size_t>(app_.limits.packetsPerSource) - first);
    if (!s_->preparePackets(first, stretch)) {
        log_.write("ERROR: OUT OF MEMORY\n", 1);
        failed_ = true;
        return false;
    }
    // Never past the limit: the check above then runs at the limit.
    packetRoom_ = first + stretch;
    return true;
}

void SourceScan::storePacket(const PvaPacketHeader& header, const PacketFindings& found, uint64_t next)
{
    SourceStream& s = *s_;
    s.pktHeader[pktNum_] = header;
    s.picType[pktNum_] = found.pictureType;
    s.vPts[pktNum_] = videoPts_;
    s.aPts[pktNum_] = audioPts_;
    s.gopTimeCode[pktNum_] = gopWord_;
    s.pktPos[pktNum_] = offset_;
    s.pktCount = pktNum_ + 1;
    s.scanEnd = next;

    prevVEndPts_ = s.vEndPts;
    if (s.vEndPts < videoPts_ || s.vEndPts - videoPts_ > ptsTicksPerSecond) s.vEndPts = videoPts_;

    lastGoodOffset_ = offset_;
    offset_ = next;
}

// A packet whose time stamp field is cut short carries no time stamp and cannot
// start a unit. False (the scan fails) when there is no memory for one more.
// There are never more cut points than packets, which the limit already bounds.
bool SourceScan::noteCutPoint(const PacketFindings& found)
{
    if (!((cutAtI_ && found.iCount != 0) || (!cutAtI_ && found.ptsRead))) return true;
    const size_t n = static_cast<size_t>(cutCount_) + 1;
    if (n > s_->cutPointRoom() && !s_->reserveCutPoints(n)) {
        log_.write("ERROR: OUT OF MEMORY\n", 1);
        failed_ = true;
        return false;
    }
    s_->cutPointPkt[cutCount_] = pktNum_ - 1;
    s_->cutPointFrame[cutCount_] = pictureCounter_ - 1;
    s_->lastCutPoint = cutCount_;
    ++cutCount_;
    return true;
}

void SourceScan::reportProgress()
{
    op_.progress.progress(progressPercent(offset_, size_));

    if (!op_.progress.showsInfoLine()) return;
    const uint32_t now = op_.clock.nowMs();
    if (now - speedTime_ > speedLineIntervalMs) {
        char line[80];
        std::snprintf(line, sizeof line, "Scan PVA %4.0fMB  %2.2f MB/s", offset_ / 1048576.0,
                      ((offset_ - speedOffset_) / 1048576.0) / ((now - speedTime_) * 0.001));
        op_.progress.infoLine(line);
        speedTime_ = now;
        speedOffset_ = offset_;
    }
}

// A complete scan makes the slot a source, with time stamps relative to its start;
// a failed or cancelled one leaves the slot free (its arrays stay for the next scan).
int SourceScan::keepOrFreeSlot()
{
    SourceStream& s = *s_;
    endReached_ = s.scanEnd;
    startPts_ = s.vStartPts;
    endPts_ = s.vEndPts;
    // Not one packet: whatever the file is, it is no recording to cut.
    if (!failed_ && !op_.cancelRequested() && s.pktCount == 0) {
        log_.writef("ERROR: %s is not a PVA recording: no AV packet found\n", path_);
        failed_ = true;
    }
    if (failed_ || op_.cancelRequested()) {
        op_.cancelHandled();
        s.resetIndex();
        app_.currentSource = 0;
        return -1;
    }
    for (int32_t k = 0; k < s.pktCount; ++k) {
        s.vPts[k] -= startPts_;
        s.aPts[k] -= startPts_;
    }
    ++app_.sourceCount;
    return 1;
}

void SourceScan::writeSummary()
{
    log_.writef("%s: %llu Bytes   vStartPts %X  vEndPts %X  Frames %u \n", path_,
                static_cast<unsigned long long>(endReached_), startPts_, endPts_, static_cast<uint32_t>(pictureCounter_));
}

} // namespace

uint64_t SourceAnalyser::findNextAvHeader(uint64_t start, FileHandle file)
{
    if (!file || seekFile(file, start, 0) != 0) return noAvHeader;
    // Read in blocks; the last two bytes of a block go round again in front of the
    // next, so a header across the seam is found.
    constexpr uint32_t keep = 2;
    uint8_t block[4096];
    uint32_t held = 0;        // bytes carried over from the block before
    uint64_t offset = start;  // file offset of block[0]
    for (;;) {
        const uint32_t n = readFile(block + held, 1, sizeof block - held, file);
        if (n == 0) return noAvHeader;
        const size_t have = held + n;
        const size_t at = findAvHeader(block, have, 0);
        if (at < have) return offset + at;
        held = have < keep ? static_cast<uint32_t>(have) : keep;
        std::memmove(block, block + have - held, held);
        offset += have - held;
    }
}

// Scans path into the next free slot: admit the file, open it, read every packet
// into the index and its cut points, then keep the slot or free it again.
int SourceAnalyser::scanSource(const char* path, int withLog, const platform::OperationContext& op)
{
    SourceScan scan(*this, path, withLog == 1, op);
    return scan.run();
}
