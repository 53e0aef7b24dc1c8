#pragma once
// Small helpers shared by the tests: scratch directories, byte files, the
// generated sample recordings and running the command-line programs.
#include <cstdint>
#include <string>
#include <vector>

class LogConsole;

namespace testsupport {

// A fresh directory under the build tree's temporary area, removed at destruction.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag = "t");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes `path` the working directory and goes back to the previous one at destruction,
// so that a test never leaves the rest of the program in a directory it removes.
class ScopedWorkingDir {
public:
    explicit ScopedWorkingDir(const std::string& path);
    ~ScopedWorkingDir();
    ScopedWorkingDir(const ScopedWorkingDir&) = delete;
    ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;

private:
    std::string previous_;
};

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::string& path);
std::string readText(const std::string& path);
bool fileExists(const std::string& path);

// Puts the console in window mode without a window and appends every message it
// shows to `shown`.
void recordShown(LogConsole& log, std::string& shown);

// Path of a generated sample recording (see tools/), e.g. sample("rec60.pva").
std::string sample(const std::string& name);
// key=value lines of the sample's ".info" file that the generator wrote beside it.
std::string sampleInfo(const std::string& name, const std::string& key);
int64_t sampleInfoInt(const std::string& name, const std::string& key);

// A program of the build tree's bin directory.
std::string binary(const std::string& name);

struct RunResult {
    int status = -1;        // exit status, or -1 when it did not exit normally
    std::string out, err;
};
// Runs a shell command line; stdout and stderr are captured separately.
RunResult run(const std::string& commandLine);

// Builds AV packets in memory, for hand-made recordings in unit tests.
struct PacketBuilder {
    std::vector<uint8_t> bytes;
    uint8_t counter = 0;
    // Video packet; with pts set it gets the PTS flag and the 4 time-stamp bytes before es.
    PacketBuilder& video(const std::vector<uint8_t>& es, const uint32_t* pts = nullptr, uint8_t extraFlags = 0);
    PacketBuilder& videoPts(uint32_t pts, const std::vector<uint8_t>& es, uint8_t extraFlags = 0);
    // Audio packet beginning a PES packet with a time stamp (14-byte PES header + data).
    PacketBuilder& audioPes(uint32_t pts, const std::vector<uint8_t>& data);
    // Audio packet continuing a PES packet.
    PacketBuilder& audio(const std::vector<uint8_t>& data);
    PacketBuilder& raw(uint8_t streamId, uint8_t flags, const std::vector<uint8_t>& payload);
    PacketBuilder& garbage(const std::vector<uint8_t>& junk);
};

// MPEG-2 video snippets for payloads.
std::vector<uint8_t> gopHeader(uint32_t gopWord);
std::vector<uint8_t> pictureHeader(int codingType, uint16_t temporalReference = 0);
std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts);

// Walks the GOP headers of an MPEG-2 video stream at 25 pictures a second and fails
// the test where a GOP's time code is not the one before it plus the pictures
// between them. Returns the GOPs seen.
int64_t expectGopTimeCodesRunOn(const std::vector<uint8_t>& es);

} // namespace testsupport
