#include "OutputFiles.h"

#include "PvaMuxer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace samplegen {

std::string hashText(const std::string& text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

std::string quoteForShell(const std::string& text)
{
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

std::string temporaryName(const std::string& path)
{
    static std::mt19937_64 rng{std::random_device{}()};
    char buf[24];
    std::snprintf(buf, sizeof buf, ".tmp%012llx", static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
    return path + buf;
}

bool commitFile(const std::string& temporary, const std::string& path)
{
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

bool writeWholeFile(const std::string& path, const uint8_t* data, size_t size)
{
    const std::string tmp = temporaryName(path);
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::remove(tmp.c_str());
        return false;
    }
    return commitFile(tmp, path);
}

bool writeWholeFile(const std::string& path, const std::string& text)
{
    return writeWholeFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool isUpToDate(const std::string& path, const std::string& params, bool withPackets)
{
    std::error_code ec;
    if (withPackets && !fs::exists(path + ".packets", ec)) return false;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) return false;
    std::ifstream info(path + ".info");
    std::string line;
    bool paramsMatch = false, sizeMatches = false;
    while (std::getline(info, line)) {
        if (line == "params=" + params) paramsMatch = true;
        if (line == "size=" + std::to_string(size)) sizeMatches = true;
    }
    return paramsMatch && sizeMatches;
}

void invalidate(const std::string& path)
{
    std::error_code ec;
    fs::remove(path + ".info", ec);
}

InfoLines statsInfo(uint64_t size, const WriterStats& s)
{
    auto n = [](auto v) { return std::to_string(v); };
    return {{"size", n(size)},
            {"packets", n(s.packets)},
            {"video_packets", n(s.videoPackets)},
            {"audio_packets", n(s.audioPackets)},
            {"other_packets", n(s.otherPackets)},
            {"zero_length_packets", n(s.zeroLengthPackets)},
            {"video_pts_packets", n(s.videoPtsPackets)},
            {"audio_pts_packets", n(s.audioPtsPackets)},
            {"pictures", n(s.pictures)},
            {"i_pictures", n(s.iPictures)},
            {"p_pictures", n(s.pPictures)},
            {"b_pictures", n(s.bPictures)},
            {"gops", n(s.gops)},
            {"first_vpts", n(s.firstVpts)},
            {"last_vpts", n(s.lastVpts)},
            {"first_apts", n(s.firstApts)},
            {"last_apts", n(s.lastApts)},
            {"garbage_bytes", n(s.garbageBytes)}};
}

std::string packetsText(const std::vector<PacketRecord>& records)
{
    std::string out;
    out.reserve(records.size() * 40);
    char line[96];
    for (const PacketRecord& r : records) {
        char pts[24] = "-";
        if (r.info.pts >= 0) std::snprintf(pts, sizeof pts, "%lld", static_cast<long long>(r.info.pts));
        char types[2] = {r.info.pictureType ? r.info.pictureType : '-', 0};
        std::snprintf(line, sizeof line, "%llu\t%u\t%u\t%u\t%s\t%s\n", static_cast<unsigned long long>(r.offset),
                      r.info.streamId, r.info.flags, r.length, pts, types);
        out += line;
    }
    return out;
}

bool writeInfo(const std::string& path, const std::string& params, const InfoLines& lines)
{
    std::string text;
    for (const auto& [key, value] : lines) text += key + "=" + value + "\n";
    text += "params=" + params + "\n";
    return writeWholeFile(path + ".info", text);
}

} // namespace samplegen
