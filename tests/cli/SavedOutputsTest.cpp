// Every output file and console line of a set of orvane-cli runs, compared byte for
// byte (by size and digest) with what an earlier build produced. Reworking the engine
// must not change any of them. The recordings are built here, the same on every run.
//
// To record the digests of the build at hand (before a change that must not alter
// any output), run
//     ORVANE_RECORD_DIGESTS=tests/cli/saved-outputs.digests build/bin/SavedOutputsTest
// and commit the file. New runs go at the end of runs(); record them on the code
// before the change.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t pictureTicks = 3600;
constexpr uint32_t audioFrameTicks = 2160;

// A broadcast-like recording: GOPs of 12 pictures in coded order I B B P B B ...
// with display-order time stamps (open GOPs), pictures split into packets of at
// most 6,000 bytes, and MPEG audio frames of 24 ms in their own PES packets, every
// third one continued in a second packet. `garbageEvery` > 0 puts junk after every
// that many pictures, which the scan has to repair.
std::vector<uint8_t> recording(int pictures, uint32_t firstPts, int garbageEvery = 0, uint8_t seed = 0)
{
    static const int displayOffset[12] = {2, 0, 1, 5, 3, 4, 8, 6, 7, 11, 9, 10};
    static const char types[12] = {1, 3, 3, 2, 3, 3, 2, 3, 3, 2, 3, 3};
    PacketBuilder b;
    uint32_t audioPts = firstPts - 9000;   // audio starts a little before the video
    int audioFrame = 0;
    for (int n = 0; n < pictures; ++n) {
        const int inGop = n % 12;
        const uint32_t pts = firstPts + static_cast<uint32_t>((n - inGop + displayOffset[inGop]) * pictureTicks);
        const int type = types[inGop];
        std::vector<uint8_t> es = type == 1 ? concat({gopHeader(0x00080000u + static_cast<uint32_t>(n / 12) * 0x1000u),
                                                      pictureHeader(1, static_cast<uint16_t>(displayOffset[inGop]))})
                                            : pictureHeader(type, static_cast<uint16_t>(displayOffset[inGop]));
        const size_t size = type == 1 ? 40000 : type == 2 ? 15000 : 6000;
        for (size_t k = es.size(); k < size; ++k) es.push_back(static_cast<uint8_t>((k * 7 + n + seed) | 0x80));
        for (size_t at = 0; at < es.size(); at += 6000) {
            const std::vector<uint8_t> piece(es.begin() + static_cast<long>(at),
                                             es.begin() + static_cast<long>(std::min(es.size(), at + 6000)));
            if (at == 0)
                b.videoPts(pts, piece);
            else
                b.video(piece);
            // The audio that is due by now follows the video piece.
            const uint32_t due = firstPts + static_cast<uint32_t>(n) * pictureTicks + static_cast<uint32_t>(at);
            while (static_cast<int32_t>(audioPts - due) < 0) {
                std::vector<uint8_t> frame(300, static_cast<uint8_t>(audioFrame + seed));
                if (audioFrame % 3 == 2) {
                    b.audioPes(audioPts, std::vector<uint8_t>(frame.begin(), frame.begin() + 100));
                    b.audio(std::vector<uint8_t>(frame.begin() + 100, frame.end()));
                } else {
                    b.audioPes(audioPts, frame);
                }
                audioPts += audioFrameTicks;
                ++audioFrame;
            }
        }
        if (garbageEvery > 0 && n % garbageEvery == garbageEvery - 1)
            b.garbage({0x41, 0x00, 0x56, 0x41, 0x41, 0x56, 0x07, static_cast<uint8_t>(n), 0x13});
    }
    return b.bytes;
}

// A recording whose recorder stopped in the middle of a packet.
std::vector<uint8_t> truncated(std::vector<uint8_t> bytes, size_t cut)
{
    bytes.resize(bytes.size() - cut);
    return bytes;
}

struct Input {
    const char* name;
    std::vector<uint8_t> bytes;
};

std::vector<Input> inputs()
{
    return {
        {"a.pva", recording(600, 900000)},                       // 24 s, about 7 MB
        {"b.pva", recording(240, 0xFFFFFFFFu - 300000, 0, 5)},   // runs over the 2^32 wrap
        {"c.pva", recording(120, 450000, 37, 9)},                // damaged three times
        {"d.pva", truncated(recording(120, 450000, 0, 3), 2500)}, // ends inside a packet
    };
}

struct SavedRun {
    const char* name;
    const char* args;   // orvane-cli arguments, run in a directory holding the inputs
};

std::vector<SavedRun> runs()
{
    return {
        {"scan", "scan a.pva b.pva c.pva"},
        {"scanlog", "scan --log c.pva"},
        {"scanlog_files", "--set fastBufferScan=0 scan --log b.pva"},
        {"units", "units a.pva"},
        {"units_every_picture", "--set cutAtIFrames=0 units c.pva"},
        {"one_range", "cut -o out.pva --add 0:1-3 a.pva"},
        {"gaps", "cut -o out.pva --add 0:0-1 --add 0:3-3 --add 0:5-6 a.pva"},
        {"whole", "cut -o out.pva --add 0:0-48 a.pva"},
        {"join", "cut -o out.pva --add 0:1-2 --add 1:0-2 --add 0:4-4 a.pva b.pva"},
        {"join_damaged", "cut -o out.pva --add 1:1-6 --add 0:2-3 a.pva c.pva"},
        {"edits", "cut -o out.pva --add 0:1-2 --add 0:5-6 --insert 1:3-3@2 --delete 0-0 --undo --redo a.pva b.pva"},
        {"selection", "cut -o out.pva --add 0:1-7 --select 2-4 --selection-only a.pva"},
        {"by_time", "cut -o out.pva --add 0@00:00:02-00:00:05.5 --add 1@00:00:01-00:00:03 a.pva b.pva"},
        {"every_picture", "--set cutAtIFrames=0 cut -o out.pva --add 0:5-40 --add 0:100-130 a.pva"},
        {"split", "--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=4 cut -o out.pva --add 0:0-48 a.pva"},
        {"split_650", "--set splitPvaDstFile=1 cut -o film.pva --add 0:2-9 --add 1:0-3 a.pva b.pva"},
        {"split_no_dot", "--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=5 cut -o film --add 0:0-48 a.pva"},
        {"split_ts", "--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=6 cut -o news.ts --add 0:0-48 a.pva"},
        {"no_audio", "--set saveNoAudio=1 cut -o out.pva --add 0:2-4 --add 1:1-2 a.pva b.pva"},
        {"elementary",
         "--set saveNoAudio=1 --set saveNoAVPacketHeader=1 cut -o out.m2v --add 0:2-4 --add 1:1-2 a.pva b.pva"},
        {"elementary_with_audio", "--set saveNoAVPacketHeader=1 cut -o out.es --add 0:2-4 a.pva"},
        {"no_new_pts", "--set assCalcNewPts=0 cut -o out.pva --add 0:1-2 --add 0:5-6 --add 1:0-1 a.pva b.pva"},
        {"append_next", "--set assAppendNextFrame=1 cut -o out.pva --add 0:1-2 --add 0:5-6 --add 1:0-1 a.pva b.pva"},
        {"no_complete_audio", "--set assCompleteAudioPkt=0 cut -o out.pva --add 0:1-2 --add 1:2-3 a.pva b.pva"},
        {"audio_offsets",
         "--set assAudioPtsOffset=-120 --set assCompleteAPktEndOffset=-200 cut -o out.pva --add 0:1-2 --add 1:2-3 a.pva b.pva"},
        {"listing",
         "--set saveNoAudio=1 --set saveNoAVPacketHeader=1 cut -o v.m2v --add 0:0-3 a.pva && "
         "$CLI list-mpeg v.m2v"},
        {"over_source", "cut -o a.pva --add 0:1-2 a.pva"},
        {"missing_source", "cut -o out.pva --add 0:1-2 missing.pva"},
        {"truncated_scan", "scan d.pva"},
        {"truncated_cut", "cut -o out.pva --add 0:0-3 d.pva"},
        {"save_twice", "cut -o out.pva --add 0:1-3 a.pva && $CLI cut -o out.pva --add 0:5-6 a.pva"},
        {"split_twice",
         "--set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=4 cut -o p.pva --add 0:0-48 a.pva && "
         "$CLI --set splitPvaDstFile=1 --set splitPvaDstFileSizeMB=4 cut -o p.pva --add 0:10-20 a.pva"},
        {"scanlog_twice", "scan --log c.pva && $CLI scan --log c.pva"},
        {"ini_then_set",
         "--help >/dev/null && printf 'cutAtIFrames=0\\nsaveNoAudio=1\\n' >s.ini && "
         "$CLI --ini s.ini --set cutAtIFrames=1 cut -o out.pva --add 0:1-2 a.pva"},
        {"history_drops_levels",
         "cut -o out.pva --add 0:1-1 --add 0:3-3 --add 0:5-5 --add 0:7-7 --add 0:9-9 --add 0:11-11 --add 0:13-13 "
         "--undo --undo --undo --undo --undo --redo --redo --insert 0:20-21@1 --undo --redo --delete 0-0 a.pva"},
        {"every_picture_edits",
         "--set cutAtIFrames=0 cut -o out.pva --add 0:10-60 --insert 0:200-210@5 --delete 20-30 --add 1:3-9 "
         "--undo --redo --add 0:500-530 a.pva b.pva"},
        {"scanlog_files_damaged", "--set fastBufferScan=0 scan --log c.pva"},
        {"units_every_picture_files", "--set fastBufferScan=0 --set cutAtIFrames=0 units c.pva"},
    };
}

uint64_t fnv1a(const std::string& bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// "<what> <size> <digest>".
std::string describe(const std::string& what, const std::string& bytes)
{
    char digest[17];
    std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(fnv1a(bytes)));
    return what + " " + std::to_string(bytes.size()) + " " + digest;
}

std::string q(const std::string& s) { return "'" + s + "'"; }

struct RunOutput {
    std::vector<std::string> lines;
    std::string printed;
};

// The lines of one run: its exit status, what it printed and every file it left
// beside the inputs, by name. The inputs must come out of it unchanged.
RunOutput runOnce(const SavedRun& r, const std::vector<Input>& in, const ScratchDir& store)
{
    const fs::path dir = fs::path(store.path()) / r.name;
    fs::create_directories(dir);
    for (const Input& i : in) fs::create_hard_link(fs::path(store.path()) / i.name, dir / i.name);

    std::string args = r.args;
    // The outputs of the plain assembly and writer.
    const std::string cli = q(binary("orvane-cli")) + " --set assCleanJoins=0 --set saveContainerByName=0";
    for (size_t at; (at = args.find("$CLI")) != std::string::npos;) args.replace(at, 4, cli);
    const RunResult result = run("cd " + q(dir.string()) + " && { " + cli + " " + args + "; }");

    RunOutput o;
    o.printed = "stdout:\n" + result.out + "stderr:\n" + result.err;
    const std::string prefix = std::string(r.name) + " ";
    o.lines.push_back(prefix + "status " + std::to_string(result.status));
    o.lines.push_back(prefix + describe("stdout", result.out));
    o.lines.push_back(prefix + describe("stderr", result.err));
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        const std::string name = fs::relative(e.path(), dir).string();
        const std::string bytes = readText(e.path().string());
        bool isInput = false;
        for (const Input& i : in) {
            if (name != i.name) continue;
            isInput = true;
            EXPECT_TRUE(bytes == std::string(i.bytes.begin(), i.bytes.end()))
                << r.name << " changed its input " << name;
        }
        if (!isInput) files[name] = bytes;
    }
    for (const auto& [name, bytes] : files) o.lines.push_back(prefix + describe("file:" + name, bytes));
    return o;
}

// "<run> <what>" of a line.
std::string keyOf(const std::string& line)
{
    const size_t first = line.find(' ');
    return line.substr(0, line.find(' ', first + 1));
}

// From the source tree's own path: __FILE__ may be relative (a compiler cache rewrites it).
std::string recordFile() { return (fs::path(ORVANE_SOURCE_DIR) / "tests/cli/saved-outputs.digests").string(); }

TEST(SavedOutputs, EveryFileAndConsoleLineIsWhatTheRecordedBuildSaved)
{
    ScratchDir store("saved");
    const std::vector<Input> in = inputs();
    std::vector<std::string> actual;
    for (const Input& i : in) {
        writeBytes(store.file(i.name), i.bytes);
        actual.push_back(describe(std::string("input ") + i.name, std::string(i.bytes.begin(), i.bytes.end())));
    }
    std::map<std::string, std::string> printed;
    for (const SavedRun& r : runs()) {
        RunOutput o = runOnce(r, in, store);
        actual.insert(actual.end(), o.lines.begin(), o.lines.end());
        printed[r.name] = o.printed;
    }

    if (const char* target = std::getenv("ORVANE_RECORD_DIGESTS"); target && *target) {
        std::ofstream out(target, std::ios::trunc);
        out << "# <run> <what> [<bytes> <fnv-1a 64>], written by SavedOutputsTest with ORVANE_RECORD_DIGESTS\n";
        for (const std::string& line : actual) out << line << "\n";
        ASSERT_TRUE(out.good()) << target;
        GTEST_SKIP() << "recorded " << actual.size() << " lines into " << target;
    }

    std::map<std::string, std::string> expected;
    std::ifstream recorded(recordFile());
    ASSERT_TRUE(recorded.good()) << "no recorded digests at " << recordFile();
    for (std::string line; std::getline(recorded, line);)
        if (!line.empty() && line[0] != '#') expected[keyOf(line)] = line;

    // A changed input makes every comparison after it meaningless.
    for (const std::string& line : actual) {
        if (line.rfind("input ", 0) != 0) continue;
        ASSERT_EQ(expected[keyOf(line)], line) << "input changed: the recording builder is not what was recorded";
    }
    for (const std::string& line : actual) {
        const std::string key = keyOf(line);
        const auto it = expected.find(key);
        if (it == expected.end()) {
            ADD_FAILURE() << "not recorded: " << line;
            continue;
        }
        const std::string run = key.substr(0, key.find(' '));
        EXPECT_EQ(line, it->second) << printed[run];
        expected.erase(it);
    }
    for (const auto& [key, line] : expected) ADD_FAILURE() << "recorded but not produced: " << line;
}

} // namespace
