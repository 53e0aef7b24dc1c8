// Fuzz target: arbitrary bytes as a cut list of every format. Besides memory
// errors it checks that what a reader takes is sorted, merged and inside the
// recording, and that writing it and reading it back keeps it within a picture.
#include "cut/CutLists.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "cut list fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const uint64_t length = 90000ull * 7200;
    for (CutListFormat f : {CutListFormat::edl, CutListFormat::comskip, CutListFormat::vdr, CutListFormat::csv,
                            cutListFormatOf("", text)}) {
        CutListRead read;
        if (!parseCutList(f, text, length, read).empty()) continue;
        uint64_t at = 0;
        for (const TimeSpan& s : read.kept) {
            if (s.start >= s.end || s.end > length || (at > 0 && s.start <= at)) broken("kept spans out of order");
            at = s.end;
        }
        CutListRead again;
        if (!parseCutList(f, cutListText(f, read.kept, length), length, again).empty()) broken("what we wrote does not read");
        if (again.kept.size() > read.kept.size()) broken("writing made spans");
    }
    return 0;
}
