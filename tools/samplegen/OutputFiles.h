#pragma once
// Files that appear complete or not at all, and the ".info" ground truth beside them.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace samplegen {

struct PacketRecord;
struct WriterStats;

using InfoLines = std::vector<std::pair<std::string, std::string>>;

std::string hashText(const std::string& text); // 16 hex digits
std::string quoteForShell(const std::string& text);

// A name beside path that no other writer uses; renamed over path when complete.
std::string temporaryName(const std::string& path);
bool commitFile(const std::string& temporary, const std::string& path);
bool writeWholeFile(const std::string& path, const uint8_t* data, size_t size);
bool writeWholeFile(const std::string& path, const std::string& text);

// Up to date: path.info names these parameters and the size that path has, and
// path.packets exists when wanted.
bool isUpToDate(const std::string& path, const std::string& params, bool withPackets);
// Removes the .info first, so that a run stopped half-way leaves nothing that looks up to date.
void invalidate(const std::string& path);

InfoLines statsInfo(uint64_t size, const WriterStats& stats);
std::string packetsText(const std::vector<PacketRecord>& records);
bool writeInfo(const std::string& path, const std::string& params, const InfoLines& lines);

} // namespace samplegen
