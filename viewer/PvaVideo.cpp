#include "viewer/PvaVideo.h"

#include "source/PacketWalker.h"
#include "source/PvaPacket.h"
#include "source/VideoPictures.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace viewer {
namespace {

constexpr size_t npos = static_cast<size_t>(-1);
constexpr uint64_t startPtsSpan = 4u << 20;
constexpr uint64_t firstLookAhead = 256u << 10;
constexpr uint64_t maxLookAhead = 8u << 20;

std::string text(const char* format, unsigned long long a, unsigned long long b = 0)
{
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

char pictureType(uint8_t code)
{
    switch (code) {
    case pictureTypeI: return 'I';
    case pictureTypeP: return 'P';
    case pictureTypeB: return 'B';
    default: return '?';
    }
}

} // namespace

std::string formatTime(uint32_t ticks)
{
    const uint32_t ms = ticks / 90;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u.%02u", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000 / 10);
    return buffer;
}

PvaVideoFile::~PvaVideoFile() { close(); }

bool PvaVideoFile::open(const std::string& path, std::string& error)
{
    close();
    // Without O_NONBLOCK a FIFO would stop the decoding thread until someone writes to it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = "Cannot open " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "Cannot open " + path + ": not a regular file";
        return false;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    findStartPts();
    return true;
}

void PvaVideoFile::close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    startPts_ = 0;
    firstPicturePacket_ = 0;
    std::vector<uint8_t>().swap(window_);
    pictures_ = VideoPictures{};
}

bool PvaVideoFile::readAt(uint64_t offset, size_t length, std::vector<uint8_t>& out)
{
    out.resize(offset < size_ ? std::min<uint64_t>(length, size_ - offset) : 0);
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            out.resize(done);   // the file shrank or cannot be read: work with what is there
            return n == 0;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void PvaVideoFile::findStartPts()
{
    if (!readAt(0, startPtsSpan, window_)) return;
    const PacketWalker w(window_.data(), window_.size(), 0);
    bool found = false;
    w.walk(0, w.end(), [&](uint64_t at, const PvaPacketHeader& h) {
        if (h.streamId != pvaStreamVideo || !(h.flags & pvaFlagPts) || h.length < 4) return;
        if (at + pvaHeaderSize + 4 > w.end()) return;
        const uint32_t pts = readVideoPts(w.at(at + pvaHeaderSize));
        if (!found) firstPicturePacket_ = at;
        if (!found || (startPts_ > pts && startPts_ - pts < 90000)) startPts_ = pts;
        found = true;
    });
}

bool PvaVideoFile::plan(uint64_t position, DecodePlan& plan, std::string& error, const std::function<bool()>& stop)
{
    plan = DecodePlan{};
    plan.position = position;
    const auto pos = static_cast<unsigned long long>(position);
    if (fd_ < 0) {
        error = "No file is open";
        return false;
    }
    // The recording may have grown or shrunk since it was opened.
    if (struct stat st; ::fstat(fd_, &st) == 0) size_ = static_cast<uint64_t>(st.st_size);
    if (position >= size_) {
        error = text("Position %llu is past the end of the file (%llu bytes)", pos, size_);
        return false;
    }
    std::vector<uint8_t> header;
    if (!readAt(position, pvaHeaderSize, header)) {
        error = std::string("Cannot read the file: ") + std::strerror(errno);
        return false;
    }
    if (header.size() < pvaHeaderSize || !hasAvSync(header.data())) {
        error = text("No AV packet starts at position %llu", pos);
        return false;
    }
    if (header[2] != pvaStreamVideo) {
        error = header[2] == pvaStreamAudio ? text("The packet at position %llu is audio, not video", pos)
                                            : text("The packet at position %llu has stream id %llu, not video", pos,
                                                   header[2]);
        return false;
    }

    uint64_t back = 0;
    uint64_t ahead = firstLookAhead;
    for (;;) {
        if (stop && stop()) {
            error = "Cancelled";
            return false;
        }
        const uint64_t start = position > back ? position - back : 0;
        if (!readAt(start, static_cast<size_t>(position - start + ahead), window_)) {
            error = std::string("Cannot read the file: ") + std::strerror(errno);
            return false;
        }
        const PacketWalker w(window_.data(), window_.size(), start);
        const bool atEof = w.end() >= size_;
        const bool moreBack = w.start() > 0 && back < maxLookBack;
        const bool moreAhead = !atEof && ahead < maxLookAhead;

        // The pictures from the first packet of the window on.
        VideoPictures& video = pictures_;
        video.read(w, w.chainStart(position));
        const size_t targetPacket = video.packetAt(position);
        if (targetPacket == video.packets().size()) {   // cannot happen while the header at position is read in sequence
            error = text("No AV packet starts at position %llu", pos);
            return false;
        }
        const size_t targetEs = video.packets()[targetPacket].streamBegin;

        const std::vector<VideoPicture>& units = video.pictures();
        size_t target = npos;
        for (size_t i = 0; i < units.size() && target == npos; ++i)
            if (units[i].picture + 3 >= targetEs) target = i;
        // The target must be complete: another unit follows it, or the file ends.
        if (target == npos || (target + 1 == units.size() && video.lastOpen() && !atEof)) {
            if (moreAhead) {
                ahead *= 4;
                continue;
            }
            error = text("No picture starts at position %llu", pos);
            return false;
        }

        // Decoding starts at an I picture: the last one up to the target. A B picture
        // right after it in an open GOP also refers to the picture before that I, so
        // it needs the I picture before as well.
        size_t first = npos;
        for (size_t i = target + 1; i-- > 0;)
            if (units[i].codingType == pictureTypeI) {
                first = i;
                break;
            }
        if (first != npos && units[target].codingType == pictureTypeB
            && !(units[first].gopHeader && video.gops()[units[first].gop].header.closedGop())) {
            bool leading = true;
            for (size_t i = first + 1; i < target; ++i)
                if (units[i].codingType == pictureTypeP) leading = false;
            if (leading) {
                size_t earlier = npos;
                for (size_t i = first; i-- > 0;)
                    if (units[i].codingType == pictureTypeI) {
                        earlier = i;
                        break;
                    }
                if (earlier != npos) first = earlier;
                else if (moreBack) first = npos;
            }
        }
        size_t sequence = npos;
        if (first != npos)
            for (size_t i = first + 1; i-- > 0;)
                if (units[i].sequenceHeader) {
                    sequence = i;
                    break;
                }
        if (sequence == npos) {
            if (moreBack) {
                back = back == 0 ? (512u << 10) : back * 4;
                back = std::min(back, maxLookBack);
                continue;
            }
            error = text("No I picture with a sequence header in the %llu MiB before position %llu",
                         (position - w.start()) >> 20, pos);
            return false;
        }

        for (size_t i = sequence; i <= target; ++i) {
            if (units[i].sequence < 0) continue;
            const VideoSequence& s = video.sequences()[static_cast<size_t>(units[i].sequence)];
            if (s.width > maxWidth || s.height > maxHeight) {
                char buffer[200];
                std::snprintf(buffer, sizeof buffer,
                              "The picture at position %llu claims %u x %u pixels, more than a broadcast's %d x %d",
                              pos, s.width, s.height, maxWidth, maxHeight);
                error = buffer;
                return false;
            }
        }

        // Time stamps belong to the first picture that begins in a packet with one.
        const std::vector<VideoPacket>& segments = video.packets();
        const std::vector<uint8_t>& es = video.stream();
        std::vector<bool> ptsTaken(segments.size(), false);
        for (size_t i = 0; i <= target; ++i) {
            const VideoPicture& u = units[i];
            const bool keep = i >= sequence
                && (i == target || u.codingType != pictureTypeB || u.sequenceHeader || u.gopHeader);
            const size_t k = video.packetOf(u.picture + 3);
            AccessUnit a;
            if (k < segments.size()) {
                a.packet = segments[k].offset;
                if (segments[k].hasPts && !ptsTaken[k]) {
                    ptsTaken[k] = true;
                    a.hasPts = true;
                    a.pts = segments[k].pts;
                }
            }
            if (!keep) continue;
            a.type = pictureType(u.codingType);
            a.sequenceHeader = u.sequenceHeader;
            a.gopHeader = u.gopHeader;
            a.closedGop = u.gopHeader && video.gops()[u.gop].header.closedGop();
            a.bytes.assign(es.begin() + static_cast<std::ptrdiff_t>(u.begin),
                           es.begin() + static_cast<std::ptrdiff_t>(u.end));
            plan.units.push_back(std::move(a));
        }
        plan.target = plan.units.size() - 1;
        return true;
    }
}

} // namespace viewer
