// Scans one recording and prints its throughput and the peak memory of the process:
//   scan_bench FILE buffered|plain|polling
// "polling" is the read-ahead scan with an event pump that asks the system whether
// events wait (a zero-timeout poll) after every packet, as a window's pump would.
#include "platform/Operation.h"
#include "core/LogConsole.h"
#include "source/SourceAnalyser.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

class PollingPump final : public platform::EventPump {
public:
    PollingPump()
    {
        if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    int serve(int) override
    {
        ++calls;
        pollfd p{fds_[0], POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 ? 1 : 0;
    }
    long calls = 0;

private:
    int fds_[2];
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: scan_bench FILE buffered|plain|polling\n");
        return 2;
    }
    const char* mode = argv[2];
    LogConsole& log = logConsole();
    log.attachWindow(nullptr, 1001);
    auto app = std::make_unique<SourceAnalyser>(log);
    app->settings.fastBufferScan = std::strcmp(mode, "plain") ? 1 : 0;
    PollingPump pump;
    platform::EventPump& events = std::strcmp(mode, "polling") ? platform::noEvents() : pump;
    const platform::OperationContext op{platform::noProgress(), app->settings.cancelRequested, events,
                                        platform::systemClock()};

    auto t0 = std::chrono::steady_clock::now();
    int result = app->scanSource(argv[1], 0, op);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const SourceStream& s = app->sources[0];
    double mib = s.scanEnd / 1048576.0;
    std::printf("mode=%s result=%d bytes=%llu packets=%d units=%d seconds=%.3f MiB/s=%.1f maxrss_MiB=%.1f pump_calls=%ld\n",
                mode, result, static_cast<unsigned long long>(s.scanEnd), s.pktCount, s.lastCutPoint, seconds, mib / seconds, ru.ru_maxrss / 1024.0,
                pump.calls);
    return result == 1 ? 0 : 1;
}
