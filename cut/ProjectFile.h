#pragma once
// Project files: the sources, the settings that shape the cut, the cut list and
// the output name, so that an edit can be saved and finished another day. The
// format is documented in docs/project-format.md.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CutEditor;
class LogConsole;
namespace platform { struct OperationContext; }

inline constexpr int projectFormatVersion = 1;
inline constexpr const char* projectMagic = "ORVANE-PROJECT";
inline constexpr uint64_t projectFingerprintBytes = 1 << 20;
inline constexpr uint64_t maxProjectFileBytes = 256u << 20;

struct ProjectSource {
    std::string path;
    uint64_t size = 0;
    uint64_t fingerprint = 0;
};

// One list entry: the cut unit of a source, with the time stamp of its cut
// point, which finds the unit again when the units come out differently.
struct ProjectEntry {
    int32_t source = 0;
    int32_t unit = 0;
    uint32_t pts = 0;
};

struct Project {
    std::vector<ProjectSource> sources;
    std::vector<std::pair<std::string, int32_t>> settings;
    std::vector<ProjectEntry> entries;
    std::string outputName;
};

// The settings a project keeps.
const std::vector<std::string>& projectSettingNames();

std::string projectText(const Project& project);
// Empty when `text` is a project (then in `out`), else what is wrong, with its line.
std::string parseProject(const std::string& text, Project& out);

// Size and fingerprint (FNV-1a 64 of the first MiB) of a file; false when it
// can't be read.
bool fingerprintFile(const char* path, uint64_t& size, uint64_t& fingerprint);

// The project of what the editor has loaded and listed. False (with an ERROR
// line) when a source can't be read for its fingerprint.
bool projectOf(const CutEditor& editor, Project& out);
// Writes the editor's project to `fileName`, replacing a file there only when
// complete. 1, or -1 with an ERROR line.
int writeProjectFile(const CutEditor& editor, const char* fileName);

// Asked for a source that is not where the project says and not found beside the
// project file: `why` says what is wrong; true with a path to try instead.
using LocateSource = std::function<bool(const ProjectSource& source, const std::string& why, std::string& path)>;

// Reads and parses a project file: 1, or -1 with an ERROR line saying what is wrong.
int readProjectFile(const char* fileName, Project& out, LogConsole& log);
// Where each source of the project is now: its own path when the file there
// still has its size and fingerprint, else a file that has them beside the
// project file (`baseDirectory`) or beside where the source was, else what
// `locate` points to. False, with an ERROR line, when a source is not found.
bool findProjectSources(const Project& project, const std::string& baseDirectory, LogConsole& log,
                        const LocateSource& locate, std::vector<std::string>& paths);
// Into an editor with no source loaded: applies the project's settings, scans
// the sources at `paths` and rebuilds the list as one step that can be undone
// (entries found by their time stamp when the units came out differently).
// 1, or -1 with an ERROR line.
int loadProject(CutEditor& editor, const Project& project, const std::vector<std::string>& paths,
                const platform::OperationContext& op);
// All of it: a damaged or foreign file, or a source that can't be found, leaves
// the editor as it was; then the sources are reset and the project loaded.
int openProjectFile(CutEditor& editor, const char* fileName, const platform::OperationContext& op,
                    const LocateSource& locate = {});
// True when the file starts as a project file does.
bool looksLikeProjectFile(const char* path);
