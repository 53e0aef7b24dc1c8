// Fuzz target: arbitrary bytes as a stretch of a recording, read by the picture
// reader as the viewer reads it and packet by packet as the scanner does. Besides
// memory errors it checks the fast searches against plain byte-by-byte ones and
// the pictures against the stream they were cut from.
#include "source/PacketWalker.h"
#include "source/VideoPictures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "picture reader fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok) broken(what);
}

bool naiveCandidate(const uint8_t* d, size_t n, size_t x)
{
    return x + 3 <= n && d[x] == 'A' && d[x + 1] == 'V' && (d[x + 2] == 1 || d[x + 2] == 2);
}

// chainStart as a plain walk from every candidate.
uint64_t naiveChainStart(const PacketWalker& w, uint64_t target)
{
    for (uint64_t c = w.nextCandidate(w.start()); c < target; c = w.nextCandidate(c + 1)) {
        if (c + pvaHeaderSize > w.end()) break;
        const uint64_t next = c + pvaHeaderSize + readPacketHeader(w.at(c)).length;
        if (next > target) continue;
        if (next < target && !hasAvSync(w.at(next))) continue;
        if (w.walk(c, target, [](uint64_t, const PvaPacketHeader&) {}) == target) return c;
    }
    return target;
}

void checkStartCodes(const uint8_t* d, size_t n)
{
    if (n < 3) return;
    const uint32_t end = static_cast<uint32_t>(n - 2);
    std::vector<uint32_t> fast;
    forEachStartCode(d, end, [&](uint32_t p) { fast.push_back(p); });
    size_t k = 0;
    for (uint32_t p = 0; p < end; ++p)
        if (d[p] == 0 && d[p + 1] == 0 && d[p + 2] == 1) {
            check(k < fast.size() && fast[k] == p, "start code finder missed or misplaced a start code");
            ++k;
        }
    check(k == fast.size(), "start code finder found a start code that is none");
}

void checkPictures(const VideoPictures& v)
{
    const size_t n = v.stream().size();
    size_t last = 0;
    for (const VideoPicture& p : v.pictures()) {
        check(p.begin <= p.picture && p.picture < p.end && p.end <= n, "picture outside its stream");
        check(p.begin >= last, "pictures out of order");
        last = p.end;
        check(p.sequence < static_cast<int32_t>(v.sequences().size()) && p.gop < static_cast<int32_t>(v.gops().size()),
              "header in force out of range");
        const uint8_t* d = v.stream().data();
        check(d[p.picture] == 0 && d[p.picture + 1] == 0 && d[p.picture + 2] == 1 && d[p.picture + 3] == 0,
              "picture does not begin with a picture start code");
        check(v.packetOf(p.picture + 3) < v.packets().size(), "picture from no packet");
    }
    for (size_t i = 0; i + 1 < v.packets().size(); ++i)
        check(v.packets()[i].offset < v.packets()[i + 1].offset
                  && v.packets()[i].streamBegin <= v.packets()[i + 1].streamBegin,
              "packets out of order");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkStartCodes(data, size);

    size_t k = 0;
    const size_t step = size <= 4096 ? 1 : size / 1024;
    for (size_t x = 0; x <= size; x += step) {
        const size_t found = findAvHeader(data, size, x);
        while (k < size && (k < x || !naiveCandidate(data, size, k))) ++k;
        check(found == (k < size ? k : size), "resync search disagrees with a plain search");
    }

    const uint64_t base = 5'000'000'000ull;   // offsets beyond 4 GiB
    const PacketWalker w(data, size, base);
    VideoPictures pictures;
    int targets = 0;
    for (uint64_t t = w.nextCandidate(w.start()); t < w.end() && targets < 8; t = w.nextCandidate(t + 1), ++targets) {
        const uint64_t start = w.chainStart(t);
        if (size <= 16384) check(start == naiveChainStart(w, t), "chain start differs from a walk from every candidate");
        check(start <= t, "chain start after its target");
        pictures.read(w, start);
        checkPictures(pictures);
    }

    for (size_t at = 0; at + pvaHeaderSize <= size && at < 65536; at += 4096) {
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(size - at, 8192));
        forEachHeaderInBlock(
            data + at, length, [&](uint32_t p, const GopHeader&) { check(p + 7 < length, "GOP header past the block"); },
            [&](uint32_t p, const PictureHeader& h) {
                check(p + 6 < length, "picture header past the block");
                check(h.codingType < 8 && h.temporalReference < 1024, "picture header fields out of range");
            });
    }
    return 0;
}
