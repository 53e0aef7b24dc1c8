#include "viewer/PvaVideo.h"

#include "source/PvaPacket.h"

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

// A stretch of the file held in memory.
struct Window {
    uint64_t start;
    const std::vector<uint8_t>& bytes;
    bool atEof = false;   // the stretch ends where the file ends
    uint64_t end() const { return start + bytes.size(); }
    const uint8_t* at(uint64_t offset) const { return bytes.data() + (offset - start); }
};

// First offset >= x where "AV" and stream id 1 or 2 begin, or the window's end.
uint64_t nextCandidate(const Window& w, uint64_t x)
{
    while (x + 3 <= w.end()) {
        const uint8_t* p = w.at(x);
        const auto* hit = static_cast<const uint8_t*>(std::memchr(p, 'A', w.end() - x - 2));
        if (!hit) break;
        x += static_cast<uint64_t>(hit - p);
        if (hit[1] == 'V' && (hit[2] == pvaStreamVideo || hit[2] == pvaStreamAudio)) return x;
        ++x;
    }
    return w.end();
}

// Walks the packets from `from` as the scanner reads them: "AV" begins a packet,
// anything else is skipped up to the next "AV" with stream id 1 or 2. Calls
// visit(offset, header) for each packet that begins before `until` and returns
// where the walk stopped: at or after `until`, or where the window ran out.
template <class Visit>
uint64_t walk(const Window& w, uint64_t from, uint64_t until, Visit&& visit)
{
    uint64_t x = from;
    while (x < until) {
        if (x + pvaHeaderSize > w.end()) return x;
        const uint8_t* h = w.at(x);
        if (!hasAvSync(h)) {
            x = nextCandidate(w, x + 1);
            continue;
        }
        const PvaPacketHeader header = readPacketHeader(h);
        visit(x, header);
        x += pvaHeaderSize + header.length;
    }
    return x;
}

// The earliest packet in the window from which the packets run on to `target`.
// A candidate must be followed by another header (or by the target itself), which
// rules out "AV" bytes that happen to lie inside a payload.
uint64_t chainStart(const Window& w, uint64_t target)
{
    for (uint64_t c = nextCandidate(w, w.start); c < target; c = nextCandidate(w, c + 1)) {
        if (c + pvaHeaderSize > w.end()) break;
        const uint64_t next = c + pvaHeaderSize + readPacketHeader(w.at(c)).length;
        if (next > target) continue;
        if (next < target && !hasAvSync(w.at(next))) continue;
        if (walk(w, c, target, [](uint64_t, const PvaPacketHeader&) {}) == target) return c;
    }
    return target;
}

// Where each video packet's bytes begin in the gathered elementary stream.
struct Segment {
    size_t esBegin;
    uint64_t packet;
    bool hasPts;
    uint32_t pts;
};

struct Unit {
    size_t begin = 0, end = 0;
    size_t picture = npos;   // offset of the picture start code
    char type = '?';
    bool sequenceHeader = false, gopHeader = false, closedGop = false;
    // A frame may be coded as two field pictures; the unit then holds both.
    int fields = 0;        // field pictures in the unit so far
    bool awaitsSecondField = false;
};

char pictureType(int code)
{
    switch (code) {
    case 1: return 'I';
    case 2: return 'P';
    case 3: return 'B';
    default: return '?';
    }
}

// Cuts the stream into units, each holding one picture and the sequence and GOP
// headers in front of it. Bytes before the first such header are a tail of a
// picture that began before the window and are left out. `lastOpen` tells that
// the last unit runs to the end of the bytes, so it may go on beyond them.
std::vector<Unit> cutUnits(const std::vector<uint8_t>& es, bool& lastOpen)
{
    lastOpen = false;
    std::vector<Unit> units;
    Unit current;
    bool open = false;
    const uint8_t* d = es.data();
    const size_t n = es.size();
    size_t i = 0;
    while (n >= 4 && i + 3 < n) {
        const auto* hit = static_cast<const uint8_t*>(std::memchr(d + i + 2, 0x01, n - i - 3));
        if (!hit) break;
        const size_t j = static_cast<size_t>(hit - d);
        if (d[j - 1] != 0 || d[j - 2] != 0) {
            i = j - 1;
            continue;
        }
        const size_t s = j - 2;
        const uint8_t code = d[j + 1];
        i = j + 2;
        if (code == 0xB5) {
            // Picture coding extension: its picture structure tells a field (1 top,
            // 2 bottom) from a frame (3).
            if (open && current.picture != npos && s + 6 < n && (d[s + 4] >> 4) == 8) {
                const int structure = d[s + 6] & 3;
                if (structure == 1 || structure == 2) current.awaitsSecondField = ++current.fields == 1;
            }
            continue;
        }
        if (code != 0xB3 && code != 0xB8 && code != 0x00) continue;
        if (code == 0x00 && open && current.awaitsSecondField) {
            current.awaitsSecondField = false;
            continue;
        }
        if (open && current.picture != npos) {
            current.end = s;
            units.push_back(current);
            open = false;
        }
        if (!open) {
            current = Unit{};
            current.begin = s;
            open = true;
        }
        if (code == 0xB3) {
            current.sequenceHeader = true;
        } else if (code == 0xB8) {
            current.gopHeader = true;
            current.closedGop = s + 7 < n && ((d[s + 7] >> 6) & 1);
        } else {
            current.picture = s;
            current.type = s + 5 < n ? pictureType((d[s + 5] >> 3) & 7) : '?';
        }
    }
    if (open && current.picture != npos) {
        current.end = n;
        units.push_back(current);
        lastOpen = true;
    }
    return units;
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
    std::vector<uint8_t>().swap(es_);
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
    const Window w{0, window_};
    bool found = false;
    walk(w, 0, w.end(), [&](uint64_t at, const PvaPacketHeader& h) {
        if (h.streamId != pvaStreamVideo || !(h.flags & pvaFlagPts) || h.length < 4) return;
        if (at + pvaHeaderSize + 4 > w.end()) return;
        const uint32_t pts = readVideoPts(w.at(at + pvaHeaderSize));
        if (!found) firstPicturePacket_ = at;
        if (!found || (startPts_ > pts && startPts_ - pts < 90000)) startPts_ = pts;
        found = true;
    });
}

bool PvaVideoFile::plan(uint64_t position, DecodePlan& plan, std::string& error)
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
        const uint64_t start = position > back ? position - back : 0;
        if (!readAt(start, static_cast<size_t>(position - start + ahead), window_)) {
            error = std::string("Cannot read the file: ") + std::strerror(errno);
            return false;
        }
        Window w{start, window_};
        w.atEof = w.end() >= size_;
        const bool moreBack = w.start > 0 && back < maxLookBack;
        const bool moreAhead = !w.atEof && ahead < maxLookAhead;

        // Gather the video bytes from the first packet of the window on.
        std::vector<uint8_t>& es = es_;
        es.clear();
        std::vector<Segment> segments;
        size_t targetEs = npos;
        walk(w, chainStart(w, position), w.end(), [&](uint64_t at, const PvaPacketHeader& h) {
            if (at == position) targetEs = es.size();
            if (h.streamId != pvaStreamVideo) return;
            const uint64_t payload = at + pvaHeaderSize;
            const uint64_t have = std::min<uint64_t>(h.length, w.end() > payload ? w.end() - payload : 0);
            const bool hasPts = (h.flags & pvaFlagPts) && have >= 4;
            const uint64_t skip = (h.flags & 3u) + ((h.flags & pvaFlagPts) ? 4u : 0u);
            segments.push_back({es.size(), at, hasPts, hasPts ? readVideoPts(w.at(payload)) : 0});
            if (skip < have) es.insert(es.end(), w.at(payload + skip), w.at(payload + have));
        });
        if (targetEs == npos) {   // cannot happen while the header at position is read in sequence
            error = text("No AV packet starts at position %llu", pos);
            return false;
        }

        bool lastOpen = false;
        const std::vector<Unit> units = cutUnits(es, lastOpen);
        size_t target = npos;
        for (size_t i = 0; i < units.size() && target == npos; ++i)
            if (units[i].picture + 3 >= targetEs) target = i;
        // The target must be complete: another unit follows it, or the file ends.
        if (target == npos || (target + 1 == units.size() && lastOpen && !w.atEof)) {
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
            if (units[i].type == 'I') {
                first = i;
                break;
            }
        if (first != npos && units[target].type == 'B' && !(units[first].gopHeader && units[first].closedGop)) {
            bool leading = true;
            for (size_t i = first + 1; i < target; ++i)
                if (units[i].type == 'P') leading = false;
            if (leading) {
                size_t earlier = npos;
                for (size_t i = first; i-- > 0;)
                    if (units[i].type == 'I') {
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
                         (position - w.start) >> 20, pos);
            return false;
        }

        // Time stamps belong to the first picture that begins in a packet with one.
        auto segmentOf = [&](size_t esOffset) {
            auto it = std::upper_bound(segments.begin(), segments.end(), esOffset,
                                       [](size_t v, const Segment& s) { return v < s.esBegin; });
            return it == segments.begin() ? segments.end() : it - 1;
        };
        std::vector<bool> ptsTaken(segments.size(), false);
        for (size_t i = 0; i <= target; ++i) {
            const Unit& u = units[i];
            const bool keep = i >= sequence && (i == target || u.type != 'B' || u.sequenceHeader || u.gopHeader);
            auto seg = segmentOf(u.picture + 3);
            AccessUnit a;
            if (seg != segments.end()) {
                a.packet = seg->packet;
                const size_t k = static_cast<size_t>(seg - segments.begin());
                if (seg->hasPts && !ptsTaken[k]) {
                    ptsTaken[k] = true;
                    a.hasPts = true;
                    a.pts = seg->pts;
                }
            }
            if (!keep) continue;
            a.type = u.type;
            a.sequenceHeader = u.sequenceHeader;
            a.gopHeader = u.gopHeader;
            a.closedGop = u.closedGop;
            a.bytes.assign(es.begin() + static_cast<std::ptrdiff_t>(u.begin),
                           es.begin() + static_cast<std::ptrdiff_t>(u.end));
            plan.units.push_back(std::move(a));
        }
        plan.target = plan.units.size() - 1;
        return true;
    }
}

} // namespace viewer
