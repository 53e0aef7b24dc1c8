#include "output/MpegListing.h"

#include "core/LogConsole.h"
#include "output/OutputWriter.h"
#include "platform/FileDialog.h"
#include "source/FileAccess.h"
#include "source/PictureAnalysis.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace {

constexpr const char* listingFileName = "out.txt";

struct PictureCounters {
    int32_t iCount = 0;
    int32_t pictures = 0;
    int32_t gops = 0;
    uint8_t pictureType = 0;
    uint32_t gopWord = 0;
};

void analysePart(const uint8_t* data, uint32_t length, uint64_t fileOffset, PictureCounters& c, LogConsole& log)
{
    analysePictures(data, length, c.iCount, c.pictures, c.gops, c.pictureType, c.gopWord, 2, log, fileOffset);
}

bool isGopStartCode(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xB8; }

} // namespace

int listMpegFile(LogConsole& log, const char* path)
{
    const OwnedFile file(openFile(path, "rb"));
    if (!file) {
        log.writef("ERROR: can't read %s\n", path ? path : "");
        return -1;
    }
    // The listing file is emptied before the listing starts: it cannot be the input.
    if (sameFile(path, listingFileName)) {
        log.writef("ERROR: can't list %s: it is the listing file %s\n", path, listingFileName);
        return -1;
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[mpegListingBufferSize]);
    if (!buffer) {
        log.writef("ERROR: Can't malloc %u bytes\n", mpegListingBufferSize);
        return -1;
    }

    log.setFileName(listingFileName);
    deleteFile(listingFileName);
    std::optional<FileCopyScope> listing(std::in_place, log);
    if (!log.touchCopyFile()) {
        listing.reset();
        log.writef("ERROR: can't write %s\n", listingFileName);
        return -1;
    }

    // A file larger than the buffer is listed in parts. The analysis only looks
    // at start codes that have their following bytes in the block, so the end of
    // each part is carried over and searched again with the next one; the cut is
    // placed so that no position is searched twice and none is left out.
    PictureCounters counters;
    uint64_t total = 0;
    uint64_t partOffset = 0;
    uint32_t carried = 0;
    seekFile(file.get(), 0, 0);
    for (;;) {
        const uint32_t got = readFile(buffer.get() + carried, 1, mpegListingBufferSize - carried, file.get());
        total += got;
        const uint32_t n = carried + got;
        if (n < mpegListingBufferSize) {
            analysePart(buffer.get(), n, partOffset, counters, log);
            break;
        }
        // Positions up to q are searched here (length q + 7). A GOP header at the
        // last searched position would lack the end of its word, so q is never one.
        uint32_t q = n - 8;
        if (isGopStartCode(buffer.get() + q)) --q;
        analysePart(buffer.get(), q + 7, partOffset, counters, log);
        carried = n - (q + 1);
        std::memmove(buffer.get(), buffer.get() + q + 1, carried);
        partOffset += q + 1;
    }

    log.writef("\nSize: %llu Frames %d\n", static_cast<unsigned long long>(total), counters.pictures);
    listing.reset();
    if (log.copyFailed()) {
        log.writef("ERROR: can't write %s\n", listingFileName);
        return -1;
    }
    return 1;
}

int openMpegFileDialog(LogConsole& log, platform::FileDialog* dialog)
{
    if (!dialog) return -1;
    platform::FileDialog::Request request = platform::FileDialog::pvaFileRequest();
    request.filters = {{".mpg file", "*.mpg"}, {"*.*", "*.*"}};
    request.mustExist = true;
    request.pathMustExist = true;
    std::string path;
    if (!dialog->openFile(request, path)) return -1;
    listMpegFile(log, path.c_str());
    return 1;
}
