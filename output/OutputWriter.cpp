#include "output/OutputWriter.h"

#include "core/LogConsole.h"
#include "core/Settings.h"
#include "cut/CutEditor.h"
#include "output/CleanJoins.h"
#include "output/ContainerOutput.h"
#include "output/StreamAssembler.h"
#include "platform/FileDialog.h"
#include "platform/Operation.h"
#include "platform/posix/SystemCalls.h"
#include "source/FileAccess.h"
#include "source/OutputFile.h"
#include "source/PvaPacket.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr uint32_t pipeRetryMs = 20;
// Complete parts of a split save beyond this many give up their descriptors while
// they wait to be put in place.
constexpr size_t heldPartsOpen = 8;
// A run of packets read at once reaches this far past the flush mark at most.
constexpr uint32_t runSlack = 256u << 10;
constexpr uint32_t readRunRoom = 1u << 20;
uint32_t readRunLimit = UINT32_MAX;

// A part takes flushes while it holds at most (size - 4) MiB. Sizes below 4 MB
// (refused where settings are read) count as 4: every flush makes a part.
uint64_t splitThresholdBytes(int32_t sizeMB)
{
    return (static_cast<uint64_t>(std::max(sizeMB, minSplitSizeMB)) - 4u) * 1048576u;
}

// Keeps resetEditor away from the sources while the save reads them.
class BusyGuard {
public:
    explicit BusyGuard(SourceAnalyser& app) : app_(app) { ++app_.busy; }
    ~BusyGuard() { --app_.busy; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    SourceAnalyser& app_;
};

// The name of the loaded source that `output` would overwrite, or null.
const char* clashingSource(const SourceAnalyser& app, const std::string& output)
{
    for (int32_t s = 0; s < app.sourceCount && s < maxSources; ++s) {
        const std::string& src = app.sources[s].fileName;
        if (!src.empty() && sameFile(output, src)) return src.c_str();
    }
    return nullptr;
}

// One run of saveNewStream. The options are taken once at the start: a setup
// dialog applied in the middle of a save must not change the format half way.
class NewPvaWriter {
public:
    NewPvaWriter(CutEditor& editor, std::string baseName, const platform::OperationContext& op,
                 const CleanJoinPlan* plan)
        : editor_(editor), app_(editor.app), log_(editor.app.log), options_(editor.app.settings), op_(op),
          baseName_(std::move(baseName)), plan_(plan)
    {
        split_ = options_.splitPvaDstFile == 1;
        splitThreshold_ = splitThresholdBytes(options_.splitPvaDstFileSizeMB);
    }

    // The pictures and sound go into this container instead of AV packets; the
    // packet list entries in `joins` begin the ranges after the first.
    void intoContainer(std::unique_ptr<ContainerOutput> container, std::vector<uint32_t> joins)
    {
        container_ = std::move(container);
        joins_ = std::move(joins);
    }

    int run();

private:
    bool copyPacket(uint32_t i);
    bool openSource(int32_t s, const SourceStream& src, uint64_t at);
    bool readRun(uint32_t i, const SourceStream& src, uint32_t j);
    bool takeFromAhead(const SourceStream& src, uint32_t j);
    void shiftTimeCodes(const SourceStream& src, uint32_t j, uint32_t i, const PvaPacketHeader& h, uint8_t* payload,
                        bool rewritten);
    bool flush(bool forced);
    bool startFile(const std::string& name);
    bool waitForReader(const std::string& name, OutputFile::Opened& opened);
    bool finishFile();
    bool putPartsInPlace();
    void sayWhatIsLeft();
    std::string currentFileName() { return split_ ? partFileName(baseName_, fileNumber_) : baseName_; }
    void showRate();
    void cleanUp();

    CutEditor& editor_;
    SourceAnalyser& app_;
    LogConsole& log_;
    const Settings options_;
    const platform::OperationContext& op_;
    std::string baseName_;
    // What clean joins change beyond counters and time stamps; null for the plain assembly.
    const CleanJoinPlan* plan_;
    size_t nextRewrite_ = 0;
    size_t timeCodeShift_ = 0;
    bool split_ = false;
    uint64_t splitThreshold_ = 0;
    // The file being written, from its first flush until it is complete.
    std::unique_ptr<OutputFile> out_ = std::make_unique<OutputFile>();
    std::string outName_;
    // The complete files of this save, under their temporary names: all of them
    // take their names together once the last one is complete.
    struct CompletePart {
        std::unique_ptr<OutputFile> file;
        std::string name;
    };
    std::vector<CompletePart> complete_;

    std::unique_ptr<ContainerOutput> container_;
    std::vector<uint32_t> joins_;
    size_t nextJoin_ = 0;

    std::unique_ptr<uint8_t[]> buffer_;
    // Room for what is gathered up to the flush mark and for a run read past it.
    const uint32_t capacity_ = saveBufferSize + readRunRoom;
    uint32_t fill_ = 0;
    // File bytes [aheadFrom_, aheadTo_) of the open source, read in one run, lie in
    // the buffer from aheadAt_ on; those before aheadConsumed_ are taken.
    bool ahead_ = false;
    uint64_t aheadFrom_ = 0;
    uint64_t aheadTo_ = 0;
    uint64_t aheadConsumed_ = 0;
    uint32_t aheadAt_ = 0;
    uint8_t videoCounter_ = 0;
    uint8_t audioCounter_ = 0;
    int32_t openSource_ = -1;
    OwnedFile sourceFile_;
    uint64_t readPosition_ = 0;
    bool readPositionKnown_ = false;
    int fileNumber_ = 0;
    bool newFile_ = true;
    // Sizes of several GiB are possible when sources are joined.
    uint64_t bytesInFile_ = 0;
    uint64_t bytesWritten_ = 0;
    // A forced flush ended the current file in the middle of a picture: the next
    // flush continues that file, whatever its size, so that every part still ends
    // just after the first packet of a picture.
    bool continuing_ = false;
    // After a forced flush in a split save, the next picture start ends the flush.
    bool awaitingCut_ = false;
    bool error_ = false;
    uint32_t lastDisplayTime_ = 0;
    uint64_t bytesAtLastDisplay_ = 0;
    int lastProgress_ = -1;
};

int NewPvaWriter::run()
{
    const NewPvaPacketList& list = editor_.packetList;

    buffer_.reset(new (std::nothrow) uint8_t[capacity_]);
    if (!buffer_) {
        log_.writef("ERROR: Can't malloc %u bytes\n", capacity_);
        return -1;
    }

    op_.progress.running(true);
    lastProgress_ = 0;
    lastDisplayTime_ = op_.clock.nowMs();

    const uint32_t count = list.numOfAVpkt;
    for (uint32_t i = 0; i < count; ++i) {
        if (!copyPacket(i)) break;

        const int progress = static_cast<int>(i * 100.0 / count);
        if (progress != lastProgress_) {
            op_.progress.progress(progress);
            lastProgress_ = progress;
        }
        if (op_.progress.showsInfoLine()) showRate();
        op_.pump.serve(8);
        if (op_.cancelRequested()) break;
    }

    const bool cancelled = op_.cancelRequested();
    if (!error_ && !cancelled && finishFile()) putPartsInPlace();
    cleanUp();
    if (error_ || cancelled) {
        op_.cancelHandled();
        return -1;
    }
    return 1;
}

bool NewPvaWriter::copyPacket(uint32_t i)
{
    const NewPvaPacketList& list = editor_.packetList;
    const int32_t s = list.source[i];
    const uint32_t j = list.packet[i];
    const SourceStream* usable = app_.usableSource(s);
    if (!usable || j >= static_cast<uint32_t>(usable->pktCount)) {
        log_.writef("ERROR: new PVA packet %u names no packet of a loaded source\n", i);
        error_ = true;
        return false;
    }
    const SourceStream& src = *usable;
    PvaPacketHeader h = src.pktHeader[j];
    const PacketRewrite* rewrite = nullptr;
    if (plan_) {
        const auto& rewrites = plan_->rewrites;
        while (nextRewrite_ < rewrites.size() && rewrites[nextRewrite_].entry < i) ++nextRewrite_;
        if (nextRewrite_ < rewrites.size() && rewrites[nextRewrite_].entry == i) {
            rewrite = &rewrites[nextRewrite_];
            h.flags = rewrite->flags;
            h.length = static_cast<uint16_t>(rewrite->payload.size());
        }
    }
    const uint32_t length = h.length;

    uint8_t* payload = buffer_.get() + fill_ + pvaHeaderSize;
    const uint64_t at = src.pktPos[j];
    if (!rewrite && ahead_ && s == openSource_ && at >= aheadConsumed_
        && at + pvaHeaderSize + length <= aheadTo_) {
        // Read with the packets before it: its bytes are in the buffer already
        // (a packet taken before is not: its bytes there are changed or overwritten).
        if (!takeFromAhead(src, j)) return false;
    } else {
        ahead_ = false;
        // Room for the header and the payload. Only a packet above 8,185 payload
        // bytes, or a split save waiting for a picture start, can run out of it:
        // then what is gathered goes out first.
        if (fill_ + pvaHeaderSize + length + 8 > saveBufferSize) {
            if (!flush(true)) return false;
            payload = buffer_.get() + fill_ + pvaHeaderSize;
        }
        if (rewrite) {
            if (length != 0) std::memcpy(payload, rewrite->payload.data(), length);
        } else if (length != 0) {
            if (!readRun(i, src, j)) return false;
            if (!takeFromAhead(src, j)) return false;
        }
    }

    const bool video = h.streamId == pvaStreamVideo;
    const bool audio = h.streamId == pvaStreamAudio;
    if (video) h.counter = videoCounter_++;
    if (audio) h.counter = audioCounter_++;

    const bool hasPts = (h.flags & pvaFlagPts) != 0;
    if (options_.assCalcNewPts == 1 && hasPts) {
        if (video && length >= 4) writeVideoPts(payload, list.newVideoPts[i]);
        if (audio && length >= 14) encodePesPts(payload + 9, list.newAudioPts[i]);
    }
    if (plan_ && video) shiftTimeCodes(src, j, i, h, payload, rewrite != nullptr);

    const bool leftOut = audio && options_.saveNoAudio == 1;
    while (container_ && nextJoin_ < joins_.size() && joins_[nextJoin_] <= i) {
        container_->markJoin(bytesWritten_ + fill_);
        ++nextJoin_;
    }
    if (options_.saveNoAVPacketHeader != 1) {
        writePacketHeader(h, buffer_.get() + fill_);
        if (!leftOut) fill_ += pvaHeaderSize + length;
    } else {
        const uint32_t k = (h.flags & 3u) + (hasPts ? 4u : 0u);
        // A payload that does not even hold its k leading bytes has nothing to give.
        if (!leftOut && length > k) {
            std::memmove(buffer_.get() + fill_, payload + k, length - k);
            fill_ += length - k;
        }
    }

    const bool pictureStart = video && hasPts && (h.flags & 3u) == 0;
    bool flushNow = false;
    if (i + 1 == editor_.packetList.numOfAVpkt) {
        flushNow = true;
    } else if (!split_) {
        flushNow = fill_ >= saveFlushMark;
    } else {
        flushNow = pictureStart && (fill_ >= saveFlushMark || awaitingCut_);
    }
    return !flushNow || flush(false);
}

// GOP time codes run on across the joins: a packet where a GOP header begins gets
// its range's shift.
void NewPvaWriter::shiftTimeCodes(const SourceStream& src, uint32_t j, uint32_t i, const PvaPacketHeader& h,
                                  uint8_t* payload, bool rewritten)
{
    const auto& shifts = plan_->timeCodes;
    while (timeCodeShift_ + 1 < shifts.size() && shifts[timeCodeShift_ + 1].firstEntry <= i) ++timeCodeShift_;
    if (timeCodeShift_ >= shifts.size() || shifts[timeCodeShift_].pictures == 0) return;
    const bool gopBegins = j == 0 || src.gopTimeCode[j] != src.gopTimeCode[j - 1] || src.picType[j] == 1;
    if (!gopBegins && !rewritten) return;
    const uint32_t skip = (h.flags & 3u) + ((h.flags & pvaFlagPts) ? 4u : 0u);
    if (h.length > skip)
        shiftGopTimeCodes(payload + skip, h.length - skip, shifts[timeCodeShift_].pictures,
                          shifts[timeCodeShift_].picturesPerSecond);
}

// Opens source s for reading, unless it is open: it must still be the file the
// scan read, at least as long as what was indexed of it.
bool NewPvaWriter::openSource(int32_t s, const SourceStream& src, uint64_t at)
{
    if (s == openSource_) return true;
    sourceFile_.reset();
    sourceFile_.reset(openFile(src.fileName.c_str(), "rb"));
    openSource_ = -1;
    if (!sourceFile_) {
        log_.writef("ERROR: can't read %s\n", src.fileName.c_str());
        error_ = true;
        return false;
    }
    FileIdentity now;
    if (src.scannedFile && openFileIdentity(sourceFile_.get(), &now)
        && (now.device != src.scanned.device || now.inode != src.scanned.inode || now.size < src.scanEnd)) {
        log_.writef("ERROR: can't read %s    at pos %llu: it is not the file that was scanned (%s)\n",
                    src.fileName.c_str(), static_cast<unsigned long long>(at),
                    now.size < src.scanEnd && now.inode == src.scanned.inode ? "shorter now" : "replaced since");
        sourceFile_.reset();
        error_ = true;
        return false;
    }
    openSource_ = s;
    readPosition_ = 0;
    readPositionKnown_ = true;
    return true;
}

// Reads packet j of the list's entry i together with the packets that follow it
// in the list and in the file, into the buffer from fill_ on: a few large reads
// instead of one per packet. A run stops a little past the flush mark, at a
// packet the clean joins rewrite, and where the list or the file jumps.
bool NewPvaWriter::readRun(uint32_t i, const SourceStream& src, uint32_t j)
{
    const NewPvaPacketList& list = editor_.packetList;
    const int32_t s = list.source[i];
    const uint64_t from = src.pktPos[j];
    if (!openSource(s, src, from + pvaHeaderSize)) return false;
    uint64_t to = from + pvaHeaderSize + src.pktHeader[j].length;
    const uint64_t room = capacity_ - fill_;
    const uint64_t aim = std::min<uint64_t>(fill_ < saveFlushMark ? saveFlushMark - fill_ + runSlack : 0, readRunLimit);
    uint32_t nextRewrite = UINT32_MAX;
    if (plan_ && nextRewrite_ < plan_->rewrites.size()) nextRewrite = plan_->rewrites[nextRewrite_].entry;
    const uint32_t count = list.numOfAVpkt;
    const uint32_t lastPacket = static_cast<uint32_t>(src.pktCount - 1);
    for (uint32_t e = i, k = j; e + 1 < count && to - from < aim; ++e, ++k) {
        if (list.source[e + 1] != s || list.packet[e + 1] != k + 1 || k + 1 > lastPacket || e + 1 >= nextRewrite) break;
        if (src.pktPos[k + 1] != to) break;
        const uint64_t next = to + pvaHeaderSize + src.pktHeader[k + 1].length;
        if (next - from > room) break;
        to = next;
    }

    bool ok = true;
    if (!readPositionKnown_ || readPosition_ != from) {
        ok = seekFile(sourceFile_.get(), from, 0) == 0;
        readPosition_ = from;
        readPositionKnown_ = ok;
    }
    uint32_t got = 0;
    if (ok) {
        got = readFile(buffer_.get() + fill_, 1, static_cast<uint32_t>(to - from), sourceFile_.get());
        readPosition_ = from + got;
    }
    // A short packet means the file changed since the scan: it would go out with
    // stale bytes in it. Packets after it are read again when their turn comes.
    if (got < pvaHeaderSize + src.pktHeader[j].length) {
        readPositionKnown_ = false;
        log_.writef("ERROR: can't read %s    at pos %llu\n", src.fileName.c_str(),
                    static_cast<unsigned long long>(from + pvaHeaderSize));
        error_ = true;
        return false;
    }
    ahead_ = true;
    aheadFrom_ = from;
    aheadConsumed_ = from;
    aheadTo_ = from + got;
    aheadAt_ = fill_;
    return true;
}

// Packet j as read ahead goes to fill_; its header must be the one indexed.
bool NewPvaWriter::takeFromAhead(const SourceStream& src, uint32_t j)
{
    const uint64_t at = src.pktPos[j];
    const uint8_t* read = buffer_.get() + aheadAt_ + (at - aheadFrom_);
    const PvaPacketHeader& want = src.pktHeader[j];
    const PvaPacketHeader got = readPacketHeader(read);
    if (!hasAvSync(read) || got.streamId != want.streamId || got.flags != want.flags || got.length != want.length) {
        log_.writef("ERROR: can't copy %s    at pos %llu: the packet there is not the one scanned (the file changed)\n",
                    src.fileName.c_str(), static_cast<unsigned long long>(at));
        error_ = true;
        return false;
    }
    uint8_t* place = buffer_.get() + fill_;
    if (read != place) std::memmove(place, read, pvaHeaderSize + want.length);
    aheadConsumed_ = at + pvaHeaderSize + want.length;
    return true;
}

bool NewPvaWriter::flush(bool forced)
{
    if (split_ && !continuing_ && fill_ > 0 && bytesInFile_ > splitThreshold_) {
        if (!finishFile()) return false;
        ++fileNumber_;
        bytesInFile_ = 0;
        newFile_ = true;
    }
    // Nothing gathered: only a save that has produced no file yet creates one.
    if (fill_ == 0 && !newFile_) return true;

    if (newFile_) {
        if (!startFile(currentFileName())) return false;
        newFile_ = false;
    }
    if (container_) {
        if (fill_ > 0 && !container_->take(buffer_.get(), fill_)) {
            log_.writef("ERROR: can't write: %s (%s)\n", outName_.c_str(), container_->error().c_str());
            error_ = true;
            return false;
        }
    } else if (fill_ > 0 && writeFile(buffer_.get(), 1, fill_, out_->handle()) != fill_) {
        log_.writef("ERROR: can't write: %s\n", outName_.c_str());
        error_ = true;
        return false;
    }

    bytesWritten_ += fill_;
    bytesInFile_ += fill_;
    // What is read ahead and not yet taken goes to the start of the buffer.
    if (ahead_ && aheadConsumed_ < aheadTo_) {
        const uint64_t pending = aheadTo_ - aheadConsumed_;
        std::memmove(buffer_.get(), buffer_.get() + aheadAt_ + (aheadConsumed_ - aheadFrom_), pending);
        aheadFrom_ = aheadConsumed_;
        aheadAt_ = 0;
    } else {
        ahead_ = false;
    }
    fill_ = 0;
    continuing_ = forced;
    awaitingCut_ = forced && split_;
    return true;
}

// Opens the next output file; it is written through this one handle until it is complete.
bool NewPvaWriter::startFile(const std::string& name)
{
    outName_ = name;
    if (const char* source = clashingSource(app_, name)) {
        log_.writef("ERROR: can't save to %s: it is the source PVA file %s\n", name.c_str(), source);
        error_ = true;
        return false;
    }
    OutputFile::Opened opened = out_->open(name.c_str());
    if (opened == OutputFile::Opened::directory) {
        log_.writef("ERROR: can't delete %s\n", name.c_str());
        error_ = true;
        return false;
    }
    log_.writef("Save Pva: %s\n", name.c_str());
    if (opened == OutputFile::Opened::noReader && !waitForReader(name, opened)) return false;
    if (opened != OutputFile::Opened::ok) {
        log_.writef("ERROR: can't open %s\n", name.c_str());
        error_ = true;
        return false;
    }
    if (container_) {
        OutputFile* file = out_.get();
        ContainerOutput::Seek seek;
        if (!file->isStream()) seek = [file](uint64_t at) { return seekFile(file->handle(), at, 0) == 0; };
        container_->start(
            [file](const uint8_t* data, size_t size) {
                return writeFile(data, 1, static_cast<uint32_t>(size), file->handle()) == size;
            },
            std::move(seek));
    }
    return true;
}

// A pipe is written once something reads it; the window stays alive and the
// cancel button works meanwhile. False when the save was cancelled.
bool NewPvaWriter::waitForReader(const std::string& name, OutputFile::Opened& opened)
{
    log_.writef("Waiting for a reader of %s\n", name.c_str());
    while (opened == OutputFile::Opened::noReader) {
        op_.pump.serve(8);
        if (op_.cancelRequested()) return false;
        op_.clock.sleepMs(pipeRetryMs);
        opened = out_->open(name.c_str());
    }
    return true;
}

// The current file is complete. It waits under its temporary name for the rest
// of the save; a device or a pipe has had its data and is just closed.
bool NewPvaWriter::finishFile()
{
    if (!out_->isOpen()) return true;
    if (container_ && !container_->finish()) {
        log_.writef("ERROR: can't write: %s (%s)\n", outName_.c_str(), container_->error().c_str());
        error_ = true;
        return false;
    }
    if (out_->isStream()) {
        if (out_->commit()) return true;
        log_.writef("ERROR: can't replace %s\n", outName_.c_str());
        error_ = true;
        return false;
    }
    if (complete_.size() >= heldPartsOpen) complete_[complete_.size() - heldPartsOpen].file->park();
    complete_.push_back({std::move(out_), outName_});
    out_ = std::make_unique<OutputFile>();
    return true;
}

// Every file of the save is complete: each takes the place of an earlier file of
// its name, all of them or (as far as it can be seen before) none.
bool NewPvaWriter::putPartsInPlace()
{
    for (const CompletePart& part : complete_) {
        if (part.file->intact()) continue;
        log_.writef("ERROR: can't replace %s\n", part.name.c_str());
        outName_ = part.name;
        error_ = true;
        return false;
    }
    for (CompletePart& part : complete_) {
        if (part.file->commit()) continue;
        log_.writef("ERROR: can't replace %s\n", part.name.c_str());
        outName_ = part.name;
        error_ = true;
        return false;
    }
    complete_.clear();
    return true;
}

void NewPvaWriter::showRate()
{
    const uint32_t now = op_.clock.nowMs();
    const uint32_t elapsed = now - lastDisplayTime_;
    if (elapsed <= 4000) return;
    char text[96];
    std::snprintf(text, sizeof text, "Save PVA %4.0fMB  %2.2f MB/s", bytesWritten_ / 1048576.0,
                  ((bytesWritten_ - bytesAtLastDisplay_) / 1048576.0) / (elapsed * 0.001));
    op_.progress.infoLine(text);
    lastDisplayTime_ = now;
    bytesAtLastDisplay_ = bytesWritten_;
}

// A save that did not complete leaves every file it was to replace as it was: the
// parts it had completed and the one it was writing. The parts of an earlier,
// longer save of that name that follow are named too: with the earlier ones they
// still make the earlier set.
void NewPvaWriter::sayWhatIsLeft()
{
    if (!split_) {
        if (out_->isStream()) return;
        const std::string name = outName_.empty() ? currentFileName() : outName_;
        log_.writef("%s not replaced: an earlier file of that name is left as it was\n", name.c_str());
        return;
    }
    for (int k = 0; k <= fileNumber_; ++k) {
        if (k == fileNumber_ && out_->isStream()) break;
        log_.writef("%s not replaced: an earlier file of that name is left as it was\n",
                    partFileName(baseName_, k).c_str());
    }
    for (int k = fileNumber_ + 1;; ++k) {
        const std::string later = partFileName(baseName_, k);
        posix::FileStatus st;
        if (!posix::pathStatus(later.c_str(), &st, true)) break;
        log_.writef("%s left as it was: a later part of an earlier save of that name\n", later.c_str());
    }
}

void NewPvaWriter::cleanUp()
{
    if (error_ || op_.cancelRequested()) sayWhatIsLeft();
    complete_.clear();
    if (container_) container_->abandon();
    out_->discard();
    sourceFile_.reset();
    openSource_ = -1;
    buffer_.reset();
    op_.progress.running(false);
}

} // namespace

void setSaveReadRunLimit(uint32_t bytes) { readRunLimit = bytes; }

std::string partFileName(std::string& name, int fileNumber)
{
    // The dot of the file name itself: a dot in a directory name is no extension.
    const size_t slash = name.rfind('/');
    const size_t fileStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < fileStart) {
        name += ".pva";
        dot = name.size() - 4;
    }
    std::string part = name.substr(0, dot);
    part += '_';
    part += std::to_string(fileNumber);
    part += '.';
    part += name.substr(dot + 1, 3);
    return part;
}

int saveNewStream(CutEditor& editor, const char* name, int selectionOnly, const platform::OperationContext& op)
{
    return saveNewStreamAs(editor, name, selectionOnly, SaveFormat::byName, op);
}

int saveNewStreamAs(CutEditor& editor, const char* name, int selectionOnly, SaveFormat format,
                    const platform::OperationContext& op)
{
    SourceAnalyser& app = editor.app;
    BusyGuard running(app);
    // A copy: name may be the editor's own outputName, which a split save extends.
    std::string baseName = name ? name : "";
    const bool isOutputName = name && editor.outputName == baseName;

    // Split saves and the bare video stream are PVA options. A split save named as
    // another container is refused (its parts would be PVA under that container's
    // name); a bare video stream is often called .mpg, so its name picks nothing.
    const Settings& settings = app.settings;
    const bool pvaOnly = settings.splitPvaDstFile == 1 || settings.saveNoAVPacketHeader == 1;
    if (format == SaveFormat::byName)
        format = settings.saveContainerByName == 1 && settings.saveNoAVPacketHeader != 1 ? saveFormatForName(baseName)
                                                                                          : SaveFormat::pva;
    if (format != SaveFormat::pva && pvaOnly) {
        app.log.writef("ERROR: can't save %s as a %s: %s PVA only, nothing saved\n", baseName.c_str(),
                       saveFormatTitle(format),
                       settings.splitPvaDstFile == 1 ? "a split save writes" : "a bare video stream is");
        return -1;
    }

    CleanJoinPlan plan;
    const bool clean = assembleForSave(editor, selectionOnly, plan, &op);
    if (plan.cancelled) {
        op.cancelHandled();
        app.log.write("Save cancelled while re-encoding at the cuts: nothing saved\n", 1);
        return -1;
    }
    if (plan.recodedCuts > 0)
        app.log.writef("%llu pictures re-encoded at %u cuts (%llu bytes in place of %llu)\n",
                       static_cast<unsigned long long>(plan.recodedPictures), plan.recodedCuts,
                       static_cast<unsigned long long>(plan.recodedBytes),
                       static_cast<unsigned long long>(plan.replacedBytes));
    // A list with pieces missing is not the new PVA the user made.
    const NewPvaPacketList& packets = editor.packetList;
    if (packets.refusedPackets > 0) {
        // Past the limit, the line names it; short of it, memory ran out (said already).
        const uint64_t all = packets.numOfAVpkt + packets.refusedPackets;
        const uint64_t limit = app.limits.newPvaPackets;
        char most[64] = "";
        if (all > limit) std::snprintf(most, sizeof most, " (at most %llu)", static_cast<unsigned long long>(limit));
        app.log.writef("ERROR:addAVPkts: New PVA to big: %llu of %llu AV packets do not fit%s, nothing saved\n",
                       static_cast<unsigned long long>(packets.refusedPackets), static_cast<unsigned long long>(all),
                       most);
        return -1;
    }

    if (app.settings.splitPvaDstFile == 1) {
        partFileName(baseName, 0);
        if (isOutputName) editor.outputName = baseName;
    }
    // Saving over a loaded recording would delete it before it is read.
    if (editor.packetList.numOfAVpkt > 0) {
        const std::string first = app.settings.splitPvaDstFile == 1 ? partFileName(baseName, 0) : baseName;
        if (const char* source = clashingSource(app, first)) {
            app.log.writef("ERROR: can't save to %s: it is the source PVA file %s\n", first.c_str(), source);
            return -1;
        }
    }

    NewPvaWriter writer(editor, baseName, op, clean ? &plan : nullptr);
    if (format != SaveFormat::pva) {
        const media::Container c = format == SaveFormat::ps   ? media::Container::ps
                                   : format == SaveFormat::ts ? media::Container::ts
                                                              : media::Container::mkv;
        bool sound = false;
        if (settings.saveNoAudio != 1) {
            for (uint32_t i = 0; i < packets.numOfAVpkt && !sound; ++i) {
                const SourceStream* src = app.usableSource(packets.source[i]);
                sound = src && packets.packet[i] < static_cast<uint32_t>(src->pktCount)
                        && src->pktHeader[packets.packet[i]].streamId == pvaStreamAudio;
            }
        }
        writer.intoContainer(std::make_unique<ContainerOutput>(c, sound), joinEntries(editor, selectionOnly));
    }
    return writer.run();
}

int saveDialog(CutEditor& editor, platform::FileDialog* dialog, int askName, int selectionOnly,
               const platform::OperationContext& op, int* saved)
{
    if (saved) *saved = -1;
    if (editor.outputName.empty() || askName == 1) {
        if (!dialog) return -1;
        platform::FileDialog::Request request = platform::FileDialog::pvaFileRequest();
        // The other containers come after the PVA filters.
        if (editor.app.settings.saveContainerByName == 1)
            request.filters.insert(request.filters.end(), {{"*.mpg *.vob", "*.mpg;*.vob"},
                                                           {"*.ts *.m2ts", "*.ts;*.m2ts"},
                                                           {"*.mkv", "*.mkv"}});
        request.confirmOverwrite = true;
        request.pathMustExist = true;
        std::string chosen;
        if (!dialog->saveFile(request, chosen)) return -1;
        editor.outputName = chosen;
    }
    const int result = saveNewStream(editor, editor.outputName.c_str(), selectionOnly, op);
    if (saved) *saved = result;
    return 1;
}
