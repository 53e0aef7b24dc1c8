// pva-samplegen: realistic PVA recordings for tests and benchmarks.
#include "LongRecording.h"
#include "StandardSet.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const usage =
    "usage:\n"
    "  pva-samplegen standard DIR [--cache DIR]\n"
    "      the standard set of sample recordings (clip.pva, rec60.pva and damaged\n"
    "      variants), each with NAME.info and NAME.packets; files whose parameters\n"
    "      did not change are kept\n"
    "  pva-samplegen long SIZE_MIB OUT.pva [--start-pts N] [--payload N] [--small] [--closed-gop]\n"
    "                [--interlaced] [--cache DIR]\n"
    "      a recording of about SIZE_MIB MiB (any size the disk holds: 4 GiB and more\n"
    "      too) made by repeating the GOPs of the 60-second encode, with OUT.pva.info\n"
    "  pva-samplegen record SECONDS OUT.pva [--start-pts N] [--payload N] [--small] [--closed-gop]\n"
    "                [--interlaced] [--cache DIR]\n"
    "      the same for a duration (rounded up to whole GOPs)\n"
    "options:\n"
    "  --start-pts N   decode time of the first picture in 90 kHz ticks (default 360000000)\n"
    "  --payload N     the largest payload of a packet, 32 to 6136 (default 6136): smaller\n"
    "                  packets give the packet count of a recording at a higher rate\n"
    "  --small         176 x 144 pictures at a low rate and mono sound: a long\n"
    "                  recording in little room\n"
    "  --closed-gop    closed GOPs (long and record)\n"
    "  --interlaced    interlaced coding, top field first (long and record)\n"
    "  --cache DIR     where the encoded elementary streams are kept (default: the\n"
    "                  output directory)\n"
    "The ffmpeg program encodes the pictures and the sound; it must be on PATH.\n";

bool parseNumber(const char* text, unsigned long long max, unsigned long long& value)
{
    if (!text || !*text || *text == '-') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 0);
    return errno == 0 && *end == 0 && value <= max;
}

int badUsage(const char* message)
{
    std::fprintf(stderr, "pva-samplegen: %s\n%s", message, usage);
    return 2;
}

bool makeDirectory(const std::string& dir)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        std::fprintf(stderr, "pva-samplegen: cannot create directory %s\n", dir.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string mode = argv[1];
    std::string cache;
    unsigned long long startPts = 360000000;
    unsigned long long payload = 6136;
    bool small = false, closedGop = false, interlaced = false;
    std::vector<const char*> positional;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--cache") && i + 1 < argc) {
            cache = argv[++i];
        } else if (!std::strcmp(argv[i], "--start-pts") && i + 1 < argc) {
            if (!parseNumber(argv[++i], (1ull << 33) - 1, startPts)) return badUsage("bad --start-pts");
        } else if (!std::strcmp(argv[i], "--payload") && i + 1 < argc) {
            if (!parseNumber(argv[++i], 6136, payload) || payload < 32) return badUsage("bad --payload");
        } else if (!std::strcmp(argv[i], "--small")) {
            small = true;
        } else if (!std::strcmp(argv[i], "--closed-gop")) {
            closedGop = true;
        } else if (!std::strcmp(argv[i], "--interlaced")) {
            interlaced = true;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            return badUsage("unknown option");
        } else {
            positional.push_back(argv[i]);
        }
    }

    if (mode == "standard") {
        if (positional.size() != 1) return badUsage("standard wants one directory");
        const std::string dir = positional[0];
        if (cache.empty()) cache = dir;
        if (!makeDirectory(dir) || !makeDirectory(cache)) return 1;
        return samplegen::makeStandardSet(dir, cache);
    }
    if (mode == "long" || mode == "record") {
        if (positional.size() != 2) return badUsage("long and record want an amount and an output file");
        unsigned long long amount = 0;
        samplegen::LongSpec spec;
        spec.startPts = startPts;
        spec.payload = payload;
        spec.small = small;
        spec.closedGop = closedGop;
        spec.interlaced = interlaced;
        if (mode == "long") {
            if (!parseNumber(positional[0], 1ull << 30, amount) || amount == 0) return badUsage("bad SIZE_MIB");
            spec.targetBytes = amount << 20;
        } else {
            // 13 hours keep the time stamps of the default start below 2^32.
            if (!parseNumber(positional[0], 13 * 3600, amount) || amount == 0)
                return badUsage("SECONDS must be 1 to 46800");
            spec.minPictures = amount * 25;
        }
        const std::string out = positional[1];
        fs::path parent = fs::path(out).parent_path();
        const std::string outDir = parent.empty() ? "." : parent.string();
        if (cache.empty()) cache = outDir;
        if (!makeDirectory(outDir) || !makeDirectory(cache)) return 1;
        return samplegen::makeLongRecording(out, cache, spec);
    }
    return badUsage("unknown mode");
}
