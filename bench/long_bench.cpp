// Helpers of bench/long_bench.sh:
//   long_bench rss PROGRAM [ARGS...]   runs the program; prints its wall time and peak
//                                      resident memory (exit status 1 if it failed)
//   long_bench edits FILE              scans FILE cut at every picture, then times the
//                                      edits, undos and redos of a long cut list
//   long_bench packets FILE            the number of packets of FILE
#include "core/LogConsole.h"
#include "platform/Operation.h"
#include "cut/CutEditor.h"
#include "source/SourceAnalyser.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

// Resident memory of this process now, in MiB.
double residentMiB()
{
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

int runAndMeasure(char** argv)
{
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid) return 2;
    const double seconds = msSince(t0) / 1000.0;
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::printf("seconds=%.3f maxrss_kib=%ld ok=%d\n", seconds, ru.ru_maxrss, ok ? 1 : 0);
    return ok ? 0 : 1;
}

struct Timings {
    std::vector<double> ms;
    void add(double t) { ms.push_back(t); }
    double max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    double median() const
    {
        if (ms.empty()) return 0;
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
};

double timed(const std::function<void()>& f)
{
    const auto t0 = Clock::now();
    f();
    return msSince(t0);
}

int benchEdits(const char* path)
{
    LogConsole& log = logConsole();
    log.attachWindow(nullptr, 1001);
    auto app = std::make_unique<SourceAnalyser>(log);
    auto editor = std::make_unique<CutEditor>(*app);
    app->settings.cutAtIFrames = 0;
    const double before = residentMiB();
    const auto t0 = Clock::now();
    if (app->scanSource(path, 0, platform::quietOperation(app->settings.cancelRequested)) != 1) {
        std::fprintf(stderr, "long_bench: the scan failed\n%s", log.text());
        return 1;
    }
    const double scanMs = msSince(t0);
    SourceStream& src = app->sources[0];
    const double scanned = residentMiB();
    std::printf("scan cut at every picture: %.0f ms, %d packets, %d units, index %.1f MiB resident (%.1f bytes a packet)\n",
                scanMs, src.pktCount, src.lastCutPoint, scanned - before,
                (scanned - before) * 1048576.0 / src.pktCount);
    if (src.lastCutPoint < 201000) {
        std::fprintf(stderr, "long_bench: %s has %d pictures; the history needs 201,000\n", path, src.lastCutPoint);
        return 1;
    }

    auto select = [&](Pane pane, int32_t a, int32_t b) { editor->selectRange(pane, a, b); };
    int failures = 0;
    auto check = [&](int result) { failures += result != 1; };

    // A range of 100,000 pictures added to the empty list, undone and redone.
    select(Pane::source, 1000, 100999);
    const double listBefore = residentMiB();
    const double addMs = timed([&] { check(editor->insertSrcPicPkts(true)); });
    const double added = residentMiB();
    const double undoMs = timed([&] { check(editor->undo()); });
    const double redoMs = timed([&] { check(editor->redo()); });
    std::printf("add 100,000 entries: %.2f ms, +%.1f MiB resident; undo %.2f ms, redo %.2f ms\n", addMs,
                added - listBefore, undoMs, redoMs);

    // Six levels of 200,000 entries and more: inserts and deletes in the middle, then
    // undos and redos through all six levels.
    select(Pane::source, 101000, 200999);
    check(editor->insertSrcPicPkts(true));
    Timings edits, undos, redos;
    for (int round = 0; round < 4; ++round) {
        for (int k = 0; k < 6; ++k) {
            const int32_t middle = editor->currentList().count / 2 + k * 7;
            if (k % 2 == 0) {
                editor->setListCursor(middle);
                select(Pane::source, 5000 + k, 5009 + k);
                edits.add(timed([&] { check(editor->insertSrcPicPkts(false)); }));
            } else {
                select(Pane::list, middle, middle + 9);
                edits.add(timed([&] { check(editor->deleteSelection(false)); }));
            }
        }
        for (int k = 0; k < 6; ++k) undos.add(timed([&] { check(editor->undo()); }));
        for (int k = 0; k < 6; ++k) redos.add(timed([&] { check(editor->redo()); }));
    }
    std::printf("six levels of %d entries: edit median %.2f ms, max %.2f ms; undo median %.2f ms, max %.2f ms; "
                "redo median %.2f ms, max %.2f ms (goal: each under 20 ms)\n",
                editor->currentList().count, edits.median(), edits.max(), undos.median(), undos.max(),
                redos.median(), redos.max());
    std::printf("resident memory now %.1f MiB (index, six levels and the program)\n", residentMiB());
    if (failures) std::fprintf(stderr, "long_bench: %d edits failed\n%s", failures, log.text());
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && !std::strcmp(argv[1], "rss")) return runAndMeasure(argv + 2);
    if (argc == 3 && !std::strcmp(argv[1], "edits")) return benchEdits(argv[2]);
    if (argc == 3 && !std::strcmp(argv[1], "packets")) {
        LogConsole& log = logConsole();
        log.attachWindow(nullptr, 1001);
        auto app = std::make_unique<SourceAnalyser>(log);
        if (app->scanSource(argv[2], 0, platform::quietOperation(app->settings.cancelRequested)) != 1) return 1;
        std::printf("%d\n", app->sources[0].pktCount);
        return 0;
    }
    std::fprintf(stderr, "usage: long_bench rss PROGRAM [ARGS...] | long_bench edits FILE\n");
    return 2;
}
