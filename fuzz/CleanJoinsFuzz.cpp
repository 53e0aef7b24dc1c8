// Fuzz target: arbitrary bytes as a source file, scanned, cut into ranges that
// leave units out and run backwards, and saved with clean joins, with and without
// packet headers. Besides memory errors (caught by the sanitizers) it checks that
// a save either succeeds or says why, and that what it writes is whole packets, no
// longer than the packets they come from.
#include "core/LogConsole.h"
#include "cut/CutEditor.h"
#include "output/OutputWriter.h"
#include "platform/Operation.h"
#include "source/PvaPacket.h"
#include "source/SourceAnalyser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "clean joins fuzz: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what)
{
    if (!ok) broken(what);
}

std::string scratch(const char* what)
{
    return (std::filesystem::temp_directory_path() /
            ("orvane-cleanjoins-fuzz-" + std::to_string(getpid()) + "-" + what))
        .string();
}

std::vector<uint8_t> readAll(const std::string& path)
{
    std::vector<uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LogConsole& log = logConsole();
    log.attachWindow(nullptr, 1001);
    auto app = std::make_unique<SourceAnalyser>(log);
    auto editor = std::make_unique<CutEditor>(*app);
    const std::string source = scratch("src.pva"), out = scratch("out.pva");
    std::FILE* f = std::fopen(source.c_str(), "wb");
    if (!f) broken("cannot write the scratch file");
    if (size && std::fwrite(data, 1, size, f) != size) broken("cannot write the scratch file");
    std::fclose(f);

    app->settings.cutAtIFrames = size % 3 == 0 ? 0 : 1;
    if (app->scanSource(source.c_str(), 0, platform::quietOperation(app->settings.cancelRequested)) == 1) {
        const int32_t units = app->sources[0].lastCutPoint;
        // Every other unit forwards, then the rest backwards, then the first two together.
        for (int32_t u = 0; u < units; u += 2) editor->insertUnits(0, u, u, INT32_MAX);
        for (int32_t u = units - 1; u >= 1; u -= 2) editor->insertUnits(0, u, u, INT32_MAX);
        if (units >= 2) editor->insertUnits(0, 0, 1, INT32_MAX);
        uint32_t largest = 0;
        for (int32_t k = 0; k < app->sources[0].pktCount; ++k) largest = std::max<uint32_t>(largest, app->sources[0].pktHeader[k].length);

        for (int elementary = 0; elementary <= 1; ++elementary) {
            app->settings.assCleanJoins = 1;
            app->settings.saveNoAVPacketHeader = elementary;
            app->settings.saveNoAudio = elementary;
            std::remove(out.c_str());
            log.clear();
            const int result = saveNewStream(*editor, out.c_str(), 0, platform::quietOperation(app->settings.cancelRequested));
            check(result == 1 || std::strstr(log.text(), "ERROR") != nullptr, "a failed save says nothing");
            if (result != 1 || elementary) continue;
            const std::vector<uint8_t> bytes = readAll(out);
            size_t at = 0;
            while (at + pvaHeaderSize <= bytes.size()) {
                const PvaPacketHeader h = readPacketHeader(&bytes[at]);
                check(hasAvSync(&bytes[at]), "written packet without AV");
                check(h.length <= largest, "written packet longer than any source packet");
                at += pvaHeaderSize + h.length;
            }
            check(at == bytes.size(), "written file ends inside a packet");
        }
    }
    std::remove(source.c_str());
    std::remove(out.c_str());
    return 0;
}
