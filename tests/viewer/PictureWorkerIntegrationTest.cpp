// The decoding thread: a position sent before the last file command is never shown,
// whichever file is open when the thread comes to it.
#include "support/ViewerTestSupport.h"
#include "viewer/PictureWorker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace testsupport;
using namespace viewertest;
using namespace viewer;

namespace {

uint64_t firstPicturePacketAfter(const char* name, int skip)
{
    for (const SamplePacket& p : samplePackets(name))
        if (p.streamId == 1 && p.types != "-" && skip-- == 0) return p.offset;
    return 0;
}

TEST(PictureWorker, APositionSentBeforeTheLastFileCommandIsNeverShown)
{
    std::mutex m;
    std::condition_variable changed;
    std::vector<PictureResult> results;
    bool held = true;   // the thread waits in its first delivery until the test lets it go
    PictureWorker worker([&](const PictureResult& r) {
        std::unique_lock lock(m);
        results.push_back(r);
        changed.notify_all();
        changed.wait(lock, [&] { return !held; });
    });
    auto waitFor = [&](size_t n) {
        std::unique_lock lock(m);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return results.size() >= n; });
    };

    const uint64_t first = worker.open(sample("clip.pva"));
    ASSERT_TRUE(waitFor(1));   // "opened", and the thread is held there
    // While the thread is busy: a position for the first file, then the next file
    // and a position sent for it.
    worker.show(firstPicturePacketAfter("clip.pva", 30));
    const uint64_t second = worker.open(sample("joined.pva"));
    {
        std::lock_guard lock(m);
        held = false;
    }
    changed.notify_all();
    ASSERT_TRUE(waitFor(2));
    worker.show(firstPicturePacketAfter("joined.pva", 5));
    ASSERT_TRUE(waitFor(3));

    std::lock_guard lock(m);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].generation, first);
    EXPECT_EQ(results[1].kind, PictureResult::Kind::opened);
    EXPECT_EQ(results[1].generation, second);
    EXPECT_EQ(results[2].kind, PictureResult::Kind::picture) << results[2].message;
    EXPECT_EQ(results[2].generation, second);
    EXPECT_EQ(results[2].position, firstPicturePacketAfter("joined.pva", 5));
}

} // namespace
