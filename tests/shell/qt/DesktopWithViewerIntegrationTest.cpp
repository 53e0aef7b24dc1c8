// orvane and the real viewer together, offscreen, on a private endpoint: the
// program starts the viewer found beside it, the viewer follows the source scroll
// bar, and closing the program ends the viewer. The viewer's trace file tells
// which picture it shows.
#include "DesktopTestSupport.h"
#include "platform/fake/Fakes.h"
#include "shell/qt/DesktopProgram.h"

#include <QProcess>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace desktoptest;
using namespace testsupport;

namespace {

// The processes that hold the viewer's lock file open: the running viewer.
std::vector<pid_t> viewerProcesses(const std::string& runtimeDir)
{
    const std::string lock = runtimeDir + "/DVD2AVI_PVAVIEW.lock";
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& proc : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = proc.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        for (const auto& fd : std::filesystem::directory_iterator(proc.path() / "fd", ec)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(fd.path(), linkError) == lock) {
                pids.push_back(static_cast<pid_t>(std::stol(name)));
                break;
            }
        }
    }
    return pids;
}

class WithViewer : public ::testing::Test {
protected:
    ScratchDir dir{"withviewer"};
    ScopedWorkingDir cwd{dir.path()};
    PrivateRuntimeDir runtime;
    std::string trace = dir.file("viewer-trace.txt");

    void SetUp() override { ::setenv("DVD2AVI_PVAVIEW_TRACE", trace.c_str(), 1); }
    void TearDown() override
    {
        ::unsetenv("DVD2AVI_PVAVIEW_TRACE");
        // A viewer left by a failed test is ours: end it by its id.
        for (pid_t pid : viewerProcesses(runtime.path())) ::kill(pid, SIGTERM);
    }
    // Waits for a trace line that begins with `prefix`.
    bool traced(const std::string& prefix, int timeoutMs = 10000)
    {
        return serveUntil(
            [&] {
                std::istringstream lines(fileExists(trace) ? readText(trace) : std::string());
                for (std::string line; std::getline(lines, line);)
                    if (line.rfind(prefix, 0) == 0) return true;
                return false;
            },
            timeoutMs);
    }
    bool viewerGone(int timeoutMs = 10000)
    {
        return serveUntil([&] { return viewerProcesses(runtime.path()).empty(); }, timeoutMs);
    }
};

TEST_F(WithViewer, TheViewerFollowsTheSourceScrollBarAndEndsWithTheWindow)
{
    platform::fake::FakeFileDialog files;
    DesktopProgram program(&files);
    Script script;
    std::string console;
    script.then([&] {
        console.assign(program.console().text(), static_cast<size_t>(program.console().length()));
        EXPECT_NE(console.find("Starting: DVD2AVI_PVAVIEW"), std::string::npos) << console;
        EXPECT_EQ(viewerProcesses(runtime.path()).size(), 1u);
        ASSERT_TRUE(traced("picture 0 I 00:00:00.00")) << readText(trace);

        // The first cut points, as the command-line program lists them.
        const RunResult units = testsupport::run(binary("orvane-cli") + " units '" + sample("clip.pva") + "'");
        ASSERT_EQ(units.status, 0);
        EXPECT_NE(units.out.find("\t" + std::to_string(0) + "\t"), std::string::npos);

        auto* bar = static_cast<QScrollBar*>(program.mainWindow()->control(1051)->widget());
        for (int k = 0; k < 2; ++k) {
            QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() - 4, bar->height() / 2));
            const uint32_t position = program.editor().currentFilePosition();
            EXPECT_NE(units.out.find("\t" + std::to_string(position)), std::string::npos) << position;
            EXPECT_TRUE(traced("picture " + std::to_string(position) + " I ")) << readText(trace);
        }
        QTest::mouseClick(program.mainWindow()->control(1035)->widget(), Qt::LeftButton);
    });
    script.start([&] { program.requestClose(); },
                 [&] { return program.mainWindow() && program.shell().context().operationsRunning() == 0; }, 60000);
    EXPECT_EQ(program.run(sample("clip.pva")), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(viewerGone()) << readText(trace);
    EXPECT_TRUE(traced("close"));
}

TEST_F(WithViewer, TheProgramStartsTheViewerBesideItAndClosesItWhenItIsTerminated)
{
    QProcess orvane;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    orvane.setProcessEnvironment(env);
    orvane.setWorkingDirectory(QString::fromStdString(dir.path()));
    orvane.start(QString::fromStdString(binary("orvane")), {QString::fromStdString(sample("clip.pva"))});
    ASSERT_TRUE(orvane.waitForStarted(5000));
    EXPECT_TRUE(traced("picture 0 I 00:00:00.00", 20000)) << readText(trace);
    ASSERT_EQ(viewerProcesses(runtime.path()).size(), 1u);

    // The end of the session closes the window as its close button does.
    orvane.terminate();
    ASSERT_TRUE(orvane.waitForFinished(10000));
    EXPECT_EQ(orvane.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(orvane.exitCode(), 0);
    EXPECT_TRUE(viewerGone()) << readText(trace);
    EXPECT_TRUE(traced("close"));
}

} // namespace
