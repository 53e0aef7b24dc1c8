// Fuzz target: arbitrary bytes as a project file. Besides memory errors (caught
// by the sanitizers) it checks that a text the reader takes is written back in
// a form that reads to the same project, and that a refused text gives a reason.
#include "cut/ProjectFile.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "project fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Project p;
    const std::string why = parseProject(text, p);
    if (!why.empty()) {
        if (!p.sources.empty() || !p.entries.empty()) broken("a refused text left a project behind");
        return 0;
    }
    const std::string written = projectText(p);
    Project again;
    if (!parseProject(written, again).empty()) broken("the written project does not read");
    if (projectText(again) != written) broken("the written project reads differently");
    if (again.sources.size() != p.sources.size() || again.entries.size() != p.entries.size()
        || again.outputName != p.outputName)
        broken("the written project lost something");
    for (size_t k = 0; k < p.sources.size(); ++k)
        if (again.sources[k].path != p.sources[k].path || again.sources[k].fingerprint != p.sources[k].fingerprint)
            broken("a source path or fingerprint changed");
    return 0;
}
