#include "output/OutputWriter.h"

#include "core/LogConsole.h"
#include "core/Settings.h"
#include "cut/CutEditor.h"
#include "output/StreamAssembler.h"
#include "platform/FileDialog.h"
#include "platform/Operation.h"
#include "source/FileAccess.h"
#include "source/OutputFile.h"
#include "source/PvaPacket.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t pipeRetryMs = 20;

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
    NewPvaWriter(CutEditor& editor, std::string baseName, const platform::OperationContext& op)
        : editor_(editor), app_(editor.app), log_(editor.app.log), options_(editor.app.settings), op_(op),
          baseName_(std::move(baseName))
    {
        split_ = options_.splitPvaDstFile == 1;
        splitThreshold_ = splitThresholdBytes(options_.splitPvaDstFileSizeMB);
    }

    int run();

private:
    bool copyPacket(uint32_t i);
    bool flush(bool forced);
    bool startFile(const std::string& name);
    bool waitForReader(const std::string& name, OutputFile::Opened& opened);
    bool finishFile();
    std::string currentFileName() { return split_ ? partFileName(baseName_, fileNumber_) : baseName_; }
    void showRate();
    void cleanUp();

    CutEditor& editor_;
    SourceAnalyser& app_;
    LogConsole& log_;
    const Settings options_;
    const platform::OperationContext& op_;
    std::string baseName_;
    bool split_ = false;
    uint64_t splitThreshold_ = 0;
    // The file being written, from its first flush until it is complete.
    OutputFile out_;
    std::string outName_;

    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t fill_ = 0;
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

    buffer_.reset(new (std::nothrow) uint8_t[saveBufferSize]);
    if (!buffer_) {
        log_.writef("ERROR: Can't malloc %u bytes\n", saveBufferSize);
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
    if (!error_ && !cancelled) finishFile();
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
    const uint32_t length = h.length;

    // Room for the header, the payload and the 8 look-ahead bytes. Only a packet
    // above 8,185 payload bytes, or a split save waiting for a picture start, can
    // run out of it: then what is gathered goes out first.
    if (fill_ + pvaHeaderSize + length + 8 > saveBufferSize) {
        if (!flush(true)) return false;
    }

    uint8_t* payload = buffer_.get() + fill_ + pvaHeaderSize;
    if (length != 0) {
        if (s != openSource_) {
            sourceFile_.reset();
            sourceFile_.reset(openFile(src.fileName.c_str(), "rb"));
            openSource_ = -1;
            if (!sourceFile_) {
                log_.writef("ERROR: can't read %s\n", src.fileName.c_str());
                error_ = true;
                return false;
            }
            openSource_ = s;
            readPosition_ = 0;
            readPositionKnown_ = true;
        }
        const uint64_t p = src.pktPos[j] + pvaHeaderSize;
        bool ok = true;
        if (!readPositionKnown_ || readPosition_ != p) {
            ok = seekFile(sourceFile_.get(), p, 0) == 0;
            readPosition_ = p;
            readPositionKnown_ = ok;
        }
        uint32_t got = 0;
        if (ok) {
            const uint32_t wanted = j + 1 < static_cast<uint32_t>(src.pktCount) ? length + 8 : length;
            got = readFile(payload, 1, wanted, sourceFile_.get());
            readPosition_ = p + got;
        }
        // A short payload means the file changed since the scan: the packet would
        // go out with stale bytes in it.
        if (got < length) {
            readPositionKnown_ = false;
            log_.writef("ERROR: can't read %s    at pos %llu\n", src.fileName.c_str(), static_cast<unsigned long long>(p));
            error_ = true;
            return false;
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

    const bool leftOut = audio && options_.saveNoAudio == 1;
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
    if (fill_ > 0 && writeFile(buffer_.get(), 1, fill_, out_.handle()) != fill_) {
        log_.writef("ERROR: can't write: %s\n", outName_.c_str());
        error_ = true;
        return false;
    }

    bytesWritten_ += fill_;
    bytesInFile_ += fill_;
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
    OutputFile::Opened opened = out_.open(name.c_str());
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
        opened = out_.open(name.c_str());
    }
    return true;
}

// The current file is complete: it takes the place of an earlier file of its name.
bool NewPvaWriter::finishFile()
{
    if (!out_.isOpen()) return true;
    if (out_.commit()) return true;
    log_.writef("ERROR: can't replace %s\n", outName_.c_str());
    error_ = true;
    return false;
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

void NewPvaWriter::cleanUp()
{
    // A save that did not complete leaves the file it was writing as it was before.
    if ((error_ || op_.cancelRequested()) && !out_.isStream()) {
        const std::string name = outName_.empty() ? currentFileName() : outName_;
        log_.writef("%s not replaced: an earlier file of that name is left as it was\n", name.c_str());
    }
    out_.discard();
    sourceFile_.reset();
    openSource_ = -1;
    buffer_.reset();
    op_.progress.running(false);
}

} // namespace

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

bool sameFile(const std::string& output, const std::string& source)
{
    std::error_code ec;
    const bool same = fs::equivalent(output, source, ec);
    if (!ec) return same;
    // One of them does not exist (yet): compare where the two paths lead.
    auto normal = [](const std::string& p) {
        std::error_code e;
        fs::path a = fs::absolute(p, e);
        return (e ? fs::path(p) : a).lexically_normal();
    };
    return normal(output) == normal(source);
}

int saveNewStream(CutEditor& editor, const char* name, int selectionOnly, const platform::OperationContext& op)
{
    SourceAnalyser& app = editor.app;
    BusyGuard running(app);
    // A copy: name may be the editor's own outputName, which a split save extends.
    std::string baseName = name ? name : "";
    const bool isOutputName = name && editor.outputName == baseName;

    assembleNewStream(editor, selectionOnly);
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

    NewPvaWriter writer(editor, baseName, op);
    return writer.run();
}

int saveDialog(CutEditor& editor, platform::FileDialog* dialog, int askName, int selectionOnly,
               const platform::OperationContext& op, int* saved)
{
    if (saved) *saved = -1;
    if (editor.outputName.empty() || askName == 1) {
        if (!dialog) return -1;
        platform::FileDialog::Request request = platform::FileDialog::pvaFileRequest();
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
