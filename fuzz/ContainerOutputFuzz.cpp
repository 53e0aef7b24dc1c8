// Fuzz target: arbitrary bytes as the AV packets of a save, taken apart into pictures
// and audio frames and muxed into each container. Sources can be damaged anywhere, and
// what they hold goes through as it is. Besides memory errors (caught by the
// sanitizers) it checks that each save either finishes or says why, and that what a
// finished one wrote reads back (pictures with time stamps, whole packets).
#include "media/ContainerReader.h"
#include "output/ContainerOutput.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "container output fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = [] {
        char name[] = "/tmp/orvane-container-fuzz-XXXXXX";
        const char* made = mkdtemp(name);
        if (!made) broken("no scratch directory");
        return std::string(made);
    }();
    for (media::Container c : {media::Container::ps, media::Container::ts, media::Container::mkv}) {
        std::vector<uint8_t> written;
        uint64_t at = 0;
        ContainerOutput out(c, true);
        out.start(
            [&](const uint8_t* bytes, size_t n) {
                if (at > written.size()) broken("a write past the end");
                if (written.size() < at + n) written.resize(at + n);
                std::copy(bytes, bytes + n, written.begin() + static_cast<std::ptrdiff_t>(at));
                at += n;
                return true;
            },
            [&](uint64_t to) {
                if (to > written.size()) return false;
                at = to;
                return true;
            });
        out.markJoin(size / 2);
        // In two pieces, as the writer's flushes hand them on.
        const size_t half = size / 3;
        bool ok = out.take(data, half) && out.take(data + half, size - half) && out.finish();
        if (!ok && out.error().empty()) broken("a save failed without saying why");
        if (!ok) {
            out.abandon();
            continue;
        }
        // What was written is a container the reader takes to its end.
        const std::string file = dir + "/out";
        FILE* f = std::fopen(file.c_str(), "wb");
        if (!f || std::fwrite(written.data(), 1, written.size(), f) != written.size()) broken("can't write the file");
        std::fclose(f);
        media::ContainerReader reader;
        std::string why;
        if (!reader.open(file, why)) continue;   // nothing to read back: no picture made it
        std::vector<uint8_t> back(1 << 16);
        while (reader.read(back.data(), back.size()) > 0) {
        }
    }
    return 0;
}
