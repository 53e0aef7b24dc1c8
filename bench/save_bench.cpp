// Scans one recording, lists all its cut units as one range and saves them:
//   save_bench [--packet-reads] FILE OUT
// With --packet-reads the writer reads one packet per read call, as it used to.
// Prints the time of the save alone (the scan is not counted), the bytes written
// and the system calls of the file layer during the save.
#include "cut/CutEditor.h"
#include "output/OutputWriter.h"
#include "core/LogConsole.h"
#include "platform/Operation.h"
#include "platform/fake/FaultySystemCalls.h"
#include "source/FileAccess.h"
#include "source/SourceAnalyser.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--packet-reads") {
        setSaveReadRunLimit(0);
        ++argv;
        --argc;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: save_bench [--packet-reads] FILE OUT\n");
        return 2;
    }
    LogConsole& log = logConsole();
    log.attachWindow(nullptr, 1001);
    auto app = std::make_unique<SourceAnalyser>(log);
    auto editor = std::make_unique<CutEditor>(*app);
    if (app->scanSource(argv[1], 0, platform::quietOperation(app->settings.cancelRequested)) != 1 || app->sources[0].lastCutPoint < 1) {
        std::fprintf(stderr, "save_bench: can't scan %s\n%s", argv[1], log.text());
        return 1;
    }
    SourceStream& src = app->sources[0];
    src.selStart = 0;
    src.selEnd = src.lastCutPoint - 1;
    if (editor->insertSrcPicPkts(true) != 1) return 1;

    fileAccessProbe().reset();
    const auto t0 = std::chrono::steady_clock::now();
    const int result = saveNewStream(*editor, argv[2], 0, platform::quietOperation(app->settings.cancelRequested));
    const auto t1 = std::chrono::steady_clock::now();
    if (result != 1) {
        std::fprintf(stderr, "save_bench: the save failed\n%s", log.text());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    const auto bytes = std::filesystem::file_size(argv[2]);
    const FileAccessProbe& p = fileAccessProbe();
    std::printf("%.3f %llu packets=%u reads=%llu seeks=%llu writes=%llu opens=%llu\n", seconds,
                static_cast<unsigned long long>(bytes), editor->packetList.numOfAVpkt,
                static_cast<unsigned long long>(p.reads), static_cast<unsigned long long>(p.seeks),
                static_cast<unsigned long long>(p.writes), static_cast<unsigned long long>(p.opens));
    return 0;
}
