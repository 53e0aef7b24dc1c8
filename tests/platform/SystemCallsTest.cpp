#include "platform/posix/SystemCalls.h"

#include "platform/fake/FaultySystemCalls.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace {

using posix::FileKind;

TEST(SystemCalls, NamesAndFilesAreSeenAsTheyAre)
{
    testsupport::ScratchDir dir{"syscalls"};
    const std::string file = dir.file("f.bin");
    testsupport::writeBytes(file, std::vector<uint8_t>(1234, 7));
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    std::filesystem::create_symlink("f.bin", dir.file("link"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);

    posix::FileStatus st;
    ASSERT_TRUE(posix::pathStatus(file.c_str(), &st, true));
    EXPECT_EQ(st.kind, FileKind::regular);
    EXPECT_EQ(st.size, 1234u);
    EXPECT_EQ(st.mode, 0640u);
    const uint64_t inode = st.inode;
    ASSERT_TRUE(posix::pathStatus(dir.file("link").c_str(), &st, true));
    EXPECT_EQ(st.kind, FileKind::link);
    ASSERT_TRUE(posix::pathStatus(dir.file("link").c_str(), &st, false));
    EXPECT_EQ(st.kind, FileKind::regular);
    EXPECT_EQ(st.inode, inode) << "followed to the file";
    ASSERT_TRUE(posix::pathStatus(dir.file("fifo").c_str(), &st, false));
    EXPECT_EQ(st.kind, FileKind::fifo);
    ASSERT_TRUE(posix::pathStatus(dir.path().c_str(), &st, false));
    EXPECT_EQ(st.kind, FileKind::directory);
    EXPECT_FALSE(posix::pathStatus(dir.file("missing").c_str(), &st, true));
    EXPECT_EQ(posix::lastFailure(), posix::Failure::missing);

    std::string target;
    ASSERT_TRUE(posix::readLink(dir.file("link").c_str(), &target));
    EXPECT_EQ(target, "f.bin");
    EXPECT_FALSE(posix::readLink(file.c_str(), &target)) << "not a link";
    ASSERT_TRUE(posix::realPath(dir.file("link").c_str(), &target));
    EXPECT_EQ(target, std::filesystem::canonical(file).string());

    // Flags as the file layer combines them: an exclusive create refuses a taken name.
    posix::SystemCalls& calls = posix::systemCalls();
    const unsigned create = posix::flag::writeOnly | posix::flag::create | posix::flag::exclusive;
    EXPECT_LT(calls.open(file.c_str(), create, 0600), 0);
    EXPECT_EQ(posix::lastFailure(), posix::Failure::exists);
    const int fd = calls.open(dir.file("new").c_str(), create | posix::flag::writeThrough, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(posix::lock(fd, posix::Lock::exclusive));
    EXPECT_EQ(calls.write(fd, "abc", 3), 3);
    ASSERT_TRUE(posix::status(fd, &st));
    EXPECT_EQ(st.size, 3u);
    posix::close(fd);
    EXPECT_LT(calls.open(dir.file("fifo").c_str(), posix::flag::writeOnly | posix::flag::nonBlocking, 0), 0);
    EXPECT_EQ(posix::lastFailure(), posix::Failure::noReader) << "a pipe nobody reads";

    ASSERT_TRUE(posix::renameFile(dir.file("new").c_str(), file.c_str()));
    EXPECT_EQ(testsupport::readBytes(file), (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_TRUE(posix::removeName(file.c_str()));
    EXPECT_FALSE(posix::removeName(file.c_str()));
    EXPECT_EQ(posix::lastFailure(), posix::Failure::missing);
    EXPECT_NE(posix::randomBits(), posix::randomBits());
}

// Grown mappings keep their contents wherever the pages end up.
TEST(SystemCalls, MappingsKeepTheirPagesWhenTheyGrowOrMove)
{
    const size_t page = posix::pageSize();
    auto* a = static_cast<uint8_t*>(posix::mapPages(4 * page));
    ASSERT_NE(a, nullptr);
    posix::populatePages(a, 4 * page);
    for (size_t i = 0; i < 4 * page; ++i) a[i] = static_cast<uint8_t>(i * 7);
    // Another mapping, which may take the room after it: the pages move if they must.
    auto* fence = static_cast<uint8_t*>(posix::mapPages(page));
    ASSERT_NE(fence, nullptr);
    auto* b = static_cast<uint8_t*>(posix::movePages(a, 4 * page, 64 * page));
    ASSERT_NE(b, nullptr);
    for (size_t i = 0; i < 4 * page; ++i) ASSERT_EQ(b[i], static_cast<uint8_t>(i * 7)) << i;
    b[64 * page - 1] = 1;
    auto* c = static_cast<uint8_t*>(posix::mapPages(128 * page));
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(posix::movePagesTo(b, 64 * page, c));
    EXPECT_EQ(c[4 * page - 1], static_cast<uint8_t>((4 * page - 1) * 7));
    EXPECT_EQ(c[64 * page - 1], 1);
    EXPECT_EQ(c[100 * page], 0) << "the rest of the target is still its own, untouched";
    posix::unmapPages(c, 128 * page);
    posix::unmapPages(fence, page);
}

// The probe's calls are installed by its first use and cut reads as it says.
TEST(SystemCalls, TheProbeInstallsCallsThatCountAndFail)
{
    FileAccessProbe& probe = fileAccessProbe();
    probe.reset();
    testsupport::ScratchDir dir{"syscalls"};
    const std::string file = dir.file("f.bin");
    testsupport::writeBytes(file, std::vector<uint8_t>(100, 1));
    posix::SystemCalls& calls = posix::systemCalls();
    const int fd = calls.open(file.c_str(), posix::flag::readOnly, 0);
    ASSERT_GE(fd, 0);
    probe.failReadAfterBytes = 10;
    uint8_t buffer[100];
    EXPECT_EQ(calls.read(fd, buffer, sizeof buffer), 10);
    EXPECT_EQ(calls.read(fd, buffer, sizeof buffer), -1);
    EXPECT_EQ(posix::lastFailure(), posix::Failure::io);
    EXPECT_TRUE(calls.seek(fd, 0, posix::Origin::start));
    posix::close(fd);
    EXPECT_EQ(probe.opens, 1u);
    EXPECT_EQ(probe.reads, 2u);
    EXPECT_EQ(probe.seeks, 1u);
    probe.failReaderAllocation = true;
    EXPECT_EQ(calls.allocateWindow(4096), nullptr);
    probe.reset();
    void* window = calls.allocateWindow(4096);
    EXPECT_NE(window, nullptr);
    calls.freeWindow(window);
}

} // namespace
