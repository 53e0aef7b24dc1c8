#include "support/TestSupport.h"

#include "core/LogConsole.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

ScratchDir::ScratchDir(const std::string& tag)
{
    static std::atomic<int> serial{0};
    fs::path base = fs::path(ORVANE_SAMPLE_DIR).parent_path() / "scratch";
    fs::create_directories(base);
    path_ = (base / (tag + "-" + std::to_string(getpid()) + "-" + std::to_string(serial++))).string();
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

ScopedWorkingDir::ScopedWorkingDir(const std::string& path) : previous_(fs::current_path().string())
{
    if (chdir(path.c_str()) != 0) ADD_FAILURE() << "cannot change to " << path;
}

ScopedWorkingDir::~ScopedWorkingDir()
{
    if (chdir(previous_.c_str()) != 0) ADD_FAILURE() << "cannot change back to " << previous_;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) ADD_FAILURE() << "cannot write " << path;
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string readText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool fileExists(const std::string& path) { return fs::exists(path); }

void recordShown(LogConsole& log, std::string& shown)
{
    log.attachWindow(nullptr, 1001);
    log.setEcho([&shown](const char* m) { shown += m; });
}

std::string sample(const std::string& name)
{
    const char* dir = std::getenv("ORVANE_SAMPLE_DIR");
    std::string p = std::string(dir && *dir ? dir : ORVANE_SAMPLE_DIR) + "/" + name;
    if (!fs::exists(p)) ADD_FAILURE() << "sample recording missing: " << p;
    return p;
}

std::string sampleInfo(const std::string& name, const std::string& key)
{
    std::ifstream f(sample(name) + ".info");
    std::string line;
    while (std::getline(f, line)) {
        auto eq = line.find('=');
        if (eq != std::string::npos && line.substr(0, eq) == key) return line.substr(eq + 1);
    }
    ADD_FAILURE() << "no " << key << " in " << name << ".info";
    return {};
}

int64_t sampleInfoInt(const std::string& name, const std::string& key)
{
    std::string v = sampleInfo(name, key);
    return v.empty() ? -1 : std::strtoll(v.c_str(), nullptr, 0);
}

std::string binary(const std::string& name) { return std::string(ORVANE_BIN_DIR) + "/" + name; }

RunResult run(const std::string& commandLine)
{
    RunResult r;
    ScratchDir tmp("run");
    std::string outFile = tmp.file("out"), errFile = tmp.file("err");
    std::string full = commandLine + " >" + outFile + " 2>" + errFile + " </dev/null";
    int rc = std::system(full.c_str());
    if (rc != -1 && WIFEXITED(rc)) r.status = WEXITSTATUS(rc);
    r.out = readText(outFile);
    r.err = readText(errFile);
    return r;
}

namespace {

void header(std::vector<uint8_t>& b, uint8_t id, uint8_t counter, uint8_t flags, size_t length)
{
    b.insert(b.end(), {0x41, 0x56, id, counter, 0x55, flags, static_cast<uint8_t>(length >> 8),
                       static_cast<uint8_t>(length & 0xFF)});
}

} // namespace

PacketBuilder& PacketBuilder::video(const std::vector<uint8_t>& es, const uint32_t* pts, uint8_t extraFlags)
{
    std::vector<uint8_t> payload;
    if (pts) {
        payload = {static_cast<uint8_t>(*pts >> 24), static_cast<uint8_t>(*pts >> 16), static_cast<uint8_t>(*pts >> 8),
                   static_cast<uint8_t>(*pts)};
    }
    payload.insert(payload.end(), es.begin(), es.end());
    return raw(1, static_cast<uint8_t>((pts ? 0x10 : 0) | extraFlags), payload);
}

PacketBuilder& PacketBuilder::videoPts(uint32_t pts, const std::vector<uint8_t>& es, uint8_t extraFlags)
{
    return video(es, &pts, extraFlags);
}

PacketBuilder& PacketBuilder::audioPes(uint32_t pts, const std::vector<uint8_t>& data)
{
    uint64_t v = pts;
    std::vector<uint8_t> p = {0x00, 0x00, 0x01, 0xC0, 0, 0, 0x81, 0x80, 0x05,
                              static_cast<uint8_t>(0x21 | ((v >> 29) & 0x0E)),
                              static_cast<uint8_t>(v >> 22),
                              static_cast<uint8_t>(((v >> 14) & 0xFE) | 1),
                              static_cast<uint8_t>(v >> 7),
                              static_cast<uint8_t>(((v << 1) & 0xFE) | 1)};
    size_t pesLength = 8 + data.size();
    p[4] = static_cast<uint8_t>(pesLength >> 8);
    p[5] = static_cast<uint8_t>(pesLength & 0xFF);
    p.insert(p.end(), data.begin(), data.end());
    return raw(2, 0x10, p);
}

PacketBuilder& PacketBuilder::audio(const std::vector<uint8_t>& data) { return raw(2, 0, data); }

PacketBuilder& PacketBuilder::raw(uint8_t streamId, uint8_t flags, const std::vector<uint8_t>& payload)
{
    header(bytes, streamId, counter++, flags, payload.size());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return *this;
}

PacketBuilder& PacketBuilder::garbage(const std::vector<uint8_t>& junk)
{
    bytes.insert(bytes.end(), junk.begin(), junk.end());
    return *this;
}

std::vector<uint8_t> gopHeader(uint32_t gopWord)
{
    return {0x00, 0x00, 0x01, 0xB8, static_cast<uint8_t>(gopWord >> 24), static_cast<uint8_t>(gopWord >> 16),
            static_cast<uint8_t>(gopWord >> 8), static_cast<uint8_t>(gopWord)};
}

std::vector<uint8_t> pictureHeader(int codingType, uint16_t temporalReference)
{
    // temporal_reference (10 bits), picture_coding_type (3 bits), vbv_delay (16 bits)...
    uint8_t b4 = static_cast<uint8_t>(temporalReference >> 2);
    uint8_t b5 = static_cast<uint8_t>(((temporalReference & 3) << 6) | ((codingType & 7) << 3) | 0x07);
    return {0x00, 0x00, 0x01, 0x00, b4, b5, 0xFF, 0xF8};
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

int64_t expectGopTimeCodesRunOn(const std::vector<uint8_t>& es)
{
    int64_t pictures = 0, lastCode = -1, gops = 0;
    for (size_t k = 0; k + 7 < es.size(); ++k) {
        if (es[k] != 0 || es[k + 1] != 0 || es[k + 2] != 1) continue;
        if (es[k + 3] == 0x00) ++pictures;
        if (es[k + 3] != 0xB8) continue;
        const uint32_t tc = (uint32_t{es[k + 4]} << 24 | uint32_t{es[k + 5]} << 16 | uint32_t{es[k + 6]} << 8 | es[k + 7]) >> 7;
        const int64_t code = ((((tc >> 19) & 31) * 60 + ((tc >> 13) & 63)) * 60 + ((tc >> 6) & 63)) * 25 + (tc & 63);
        if (lastCode >= 0) {
            EXPECT_EQ(code - lastCode, pictures) << "time code of GOP " << gops;
        }
        lastCode = code;
        pictures = 0;
        ++gops;
    }
    return gops;
}

} // namespace testsupport
