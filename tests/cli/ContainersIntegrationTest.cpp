// The new PVA in a program stream, a transport stream and Matroska, judged by
// FFmpeg's reader and decoders against the PVA the same cut list makes: two
// generated recordings (open GOPs; interlaced closed GOPs) cut into five ranges.
// Each container must read without an error, keep its decode time stamps rising,
// start at the PVA's first time, decode to exactly the PVA's pictures and sound
// with the same distance between them, and pass the check against the cut; the
// program stream must pass dvdauthor, the Matroska file must have a chapter at the
// start of every range.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

// FFmpeg's PVA reader ends every good file with these.
bool pvaEndNoise(const std::string& line)
{
    return line.find("invalid syncword") != std::string::npos || line.find("Input/output error") != std::string::npos
           || line.find("Last message repeated") != std::string::npos;
}

struct Decoded {
    std::vector<std::string> video, audio;   // one digest per picture / audio frame
    std::string errors;
};

Decoded decode(const std::string& path, bool pva)
{
    Decoded d;
    for (const char* stream : {"v", "a"}) {
        const RunResult r = run(std::string("ffmpeg -nostdin -v error ") + (pva ? "-f pva " : "") + "-i " + q(path) +
                                " -map 0:" + stream + " -fps_mode passthrough -f framemd5 -");
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#') (stream[0] == 'v' ? d.video : d.audio).push_back(line.substr(line.rfind(',') + 2));
        std::istringstream err(r.err);
        for (std::string line; std::getline(err, line);)
            if (!pva || !pvaEndNoise(line)) d.errors += line + "\n";
    }
    return d;
}

double probeValue(const std::string& path, const std::string& what, bool pva)
{
    const RunResult r = run(std::string("ffprobe -v quiet ") + (pva ? "-f pva " : "") + what +
                            " -of default=nw=1:nk=1 " + q(path));
    return std::atof(r.out.c_str());
}

// Start times of the first video and audio stream.
double startOf(const std::string& path, const char* stream, bool pva)
{
    return probeValue(path, std::string("-select_streams ") + stream + ":0 -show_entries stream=start_time", pva);
}

struct Cut {
    ScratchDir dir{"containers"};
    std::string sources;
    std::vector<std::string> ranges = {"0:3-10", "1:2-4", "0:20-25", "0:40-44", "1:8-9"};

    Cut()
    {
        const std::string other = dir.file("interlaced.pva");
        const std::string cache = sample("rec60.pva").substr(0, sample("rec60.pva").rfind('/'));
        const RunResult r = run(q(binary("pva-samplegen")) + " record 6 " + q(other) +
                                " --interlaced --closed-gop --start-pts 900000000 --cache " + q(cache));
        EXPECT_EQ(r.status, 0) << r.err;
        sources = q(sample("rec60.pva")) + " " + q(other);
    }
    RunResult check(const std::string& file) const
    {
        std::string cmd = q(binary("orvane-cli")) + " check " + q(file);
        for (const std::string& a : ranges) cmd += " --add " + a;
        return run(cmd + " " + sources);
    }
    RunResult save(const std::string& out, const std::string& extra = "",
                   const std::vector<std::string>* only = nullptr) const
    {
        std::string cmd = q(binary("orvane-cli")) + " cut -o " + q(out) + " " + extra;
        for (const std::string& a : only ? *only : ranges) cmd += " --add " + a;
        return run(cmd + " " + sources);
    }
};

TEST(Containers, EachCarriesThePvaOutputsPicturesAndSoundWithItsTimes)
{
    Cut cut;
    const std::string pva = cut.dir.file("new.pva");
    ASSERT_EQ(cut.save(pva).status, 0);
    const Decoded want = decode(pva, true);
    ASSERT_EQ(want.errors, "");
    ASSERT_GT(want.video.size(), 50u);
    ASSERT_GT(want.audio.size(), 50u);
    const double start = probeValue(pva, "-show_entries format=start_time", true);
    const double offset = startOf(pva, "v", true) - startOf(pva, "a", true);

    for (const char* name : {"new.mpg", "new.ts", "new.mkv", "forced.ps"}) {
        SCOPED_TRACE(name);
        const std::string out = cut.dir.file(name);
        const bool forced = std::string(name) == "forced.ps";
        const RunResult saved = cut.save(out, forced ? "--format ps" : "");
        ASSERT_EQ(saved.status, 0) << saved.err;
        EXPECT_EQ(saved.err.find("ERROR"), std::string::npos) << saved.err;

        // Read to the end without a complaint, decode time stamps rising in each stream.
        const RunResult probe = run("ffprobe -v error -show_entries packet=stream_index,pts,dts -of csv=p=0 " + q(out));
        EXPECT_EQ(probe.err, "");
        std::istringstream rows(probe.out);
        long long last[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
        size_t backwards = 0, packets = 0;
        for (std::string row; std::getline(rows, row);) {
            int stream = 0;
            long long pts = 0, dts = 0;
            if (std::sscanf(row.c_str(), "%d,%lld,%lld", &stream, &pts, &dts) != 3 || stream < 0 || stream > 7) continue;
            ++packets;
            if (dts <= last[stream] || pts < dts) ++backwards;
            last[stream] = dts;
        }
        EXPECT_GT(packets, want.video.size());
        EXPECT_EQ(backwards, 0u) << "decode time stamps that do not rise, or lie after their presentation";
        const RunResult remux = run("ffmpeg -nostdin -v warning -i " + q(out) + " -map 0:v -map 0:a -c copy -f null -");
        EXPECT_EQ(remux.err.find("Non-monotonous"), std::string::npos) << remux.err;

        EXPECT_NEAR(probeValue(out, "-show_entries format=start_time", false), start, 0.04);
        EXPECT_NEAR(startOf(out, "v", false) - startOf(out, "a", false), offset, 0.024);

        const Decoded got = decode(out, false);
        EXPECT_EQ(got.errors, "");
        EXPECT_EQ(got.video, want.video) << "the pictures are the PVA's, bit for bit";
        EXPECT_EQ(got.audio, want.audio) << "the sound is the PVA's, sample for sample";

        // The check reads the container, against the cut as for a PVA.
        const RunResult checked = cut.check(out);
        EXPECT_EQ(checked.status, 0) << checked.out;
        EXPECT_NE(checked.out.find("no problem found (" + std::to_string(want.video.size()) + " pictures, " +
                                   std::to_string(want.audio.size()) + " audio frames)"),
                  std::string::npos)
            << checked.out;
    }

    // A transport stream with a stretch of it lost is no longer the cut.
    std::vector<uint8_t> ts = readBytes(cut.dir.file("new.ts"));
    ts.erase(ts.begin() + static_cast<std::ptrdiff_t>(ts.size() / 2 / 188 * 188),
             ts.begin() + static_cast<std::ptrdiff_t>(ts.size() / 2 / 188 * 188 + 188 * 400));
    writeBytes(cut.dir.file("damaged.ts"), ts);
    const RunResult damaged = cut.check(cut.dir.file("damaged.ts"));
    EXPECT_EQ(damaged.status, 1) << damaged.out;
    EXPECT_NE(damaged.out.find("check: join "), std::string::npos) << damaged.out;

    // A DVD authoring tool takes the program stream.
    ASSERT_EQ(run("command -v dvdauthor").status, 0) << "dvdauthor is needed (tools/install-deps.sh installs it)";
    const RunResult author = run("cd " + q(cut.dir.path()) + " && VIDEO_FORMAT=PAL dvdauthor -o dvd -t new.mpg");
    EXPECT_EQ(author.status, 0) << author.err;
    EXPECT_EQ(author.err.find("ERR:"), std::string::npos) << author.err;
    EXPECT_NE(author.err.find("Processing new.mpg"), std::string::npos) << author.err;

    // A chapter where each range begins: after the pictures of the ranges before it,
    // counted by saving each range alone.
    const RunResult chapters =
        run("ffprobe -v error -show_entries chapter=start_time -of csv=p=0 " + q(cut.dir.file("new.mkv")));
    std::vector<double> starts;
    std::istringstream in(chapters.out);
    for (std::string line; std::getline(in, line);) starts.push_back(std::atof(line.c_str()));
    ASSERT_EQ(starts.size(), cut.ranges.size()) << chapters.out;
    double at = start;
    for (size_t k = 0; k < cut.ranges.size(); ++k) {
        EXPECT_NEAR(starts[k], at, 0.002) << "chapter " << k;
        const std::vector<std::string> one = {cut.ranges[k]};
        const std::string alone = cut.dir.file("range" + std::to_string(k) + ".pva");
        ASSERT_EQ(cut.save(alone, "", &one).status, 0);
        at += 0.04 * static_cast<double>(decode(alone, true).video.size());
    }
}

// Times past what the DVD muxer can keep (the source's own, an hour in) start the
// program stream's decoding at 0.5 s; the pictures and sound are still the PVA's.
TEST(Containers, AProgramStreamOfLateTimesStartsAtHalfASecond)
{
    Cut cut;
    const std::string pva = cut.dir.file("late.pva"), ps = cut.dir.file("late.mpg");
    ASSERT_EQ(run(q(binary("orvane-cli")) + " --set assCalcNewPts=0 cut -o " + q(pva) + " --add 0:3-10 --add 0:20-25 " +
                  cut.sources).status,
              0);
    ASSERT_EQ(run(q(binary("orvane-cli")) + " --set assCalcNewPts=0 cut -o " + q(ps) + " --add 0:3-10 --add 0:20-25 " +
                  cut.sources).status,
              0);
    EXPECT_GT(probeValue(pva, "-show_entries format=start_time", true), 3600.0);
    // The first decode at 0.5 s; the first picture shown one picture later at most.
    const double start = probeValue(ps, "-show_entries format=start_time", false);
    EXPECT_GE(start, 0.5);
    EXPECT_LE(start, 0.541);
    const Decoded want = decode(pva, true), got = decode(ps, false);
    EXPECT_EQ(got.errors, "");
    EXPECT_EQ(got.video, want.video);
    EXPECT_EQ(got.audio, want.audio);
    EXPECT_NEAR(startOf(ps, "v", false) - startOf(ps, "a", false),
                startOf(pva, "v", true) - startOf(pva, "a", true), 0.024);
}

TEST(Containers, APipeTakesATransportStreamAndPvaOnlySavesAreRefused)
{
    Cut cut;
    const std::string file = cut.dir.file("file.ts");
    ASSERT_EQ(cut.save(file).status, 0);
    // Through a pipe into a reader, as into a player (the console lines go elsewhere).
    std::string cmd = q(binary("orvane-cli")) + " cut -o /dev/fd/3 --format ts";
    for (const std::string& a : cut.ranges) cmd += " --add " + a;
    const RunResult piped =
        run("{ (" + cmd + " " + cut.sources + "; echo $? > " + q(cut.dir.file("rc")) + ") 3>&1 >/dev/null | cat > " +
            q(cut.dir.file("piped.ts")) + "; }");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(readText(cut.dir.file("rc")), "0\n");
    EXPECT_EQ(decode(cut.dir.file("piped.ts"), false).video, decode(file, false).video);

    // Split saves and the bare video stream stay PVA: asked for another container,
    // or a split named as one, they are refused and nothing is written; a bare video
    // stream's name picks nothing.
    const RunResult split = cut.save(cut.dir.file("split.mkv"), "--format mkv", nullptr);
    EXPECT_EQ(split.status, 0) << "without a split, --format mkv saves";
    struct Refused {
        const char* options;
        const char* title;
    };
    for (const Refused& k : {Refused{"--set splitPvaDstFile=1 cut --format ts", "a transport stream"},
                             Refused{"--set saveNoAVPacketHeader=1 cut --format ts", "a transport stream"},
                             Refused{"--set splitPvaDstFile=1 cut", "a transport stream"}}) {
        SCOPED_TRACE(k.options);
        const std::string out = cut.dir.file("refused.ts");
        const RunResult r = run(q(binary("orvane-cli")) + " " + k.options + " -o " + q(out) + " --add 0:3-10 " + cut.sources);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("ERROR: can't save " + out + " as " + k.title), std::string::npos) << r.out;
        EXPECT_FALSE(fileExists(out));
        EXPECT_FALSE(fileExists(cut.dir.file("refused_0.ts")));
    }
    const RunResult bare = run(q(binary("orvane-cli")) + " --set saveNoAudio=1 --set saveNoAVPacketHeader=1 cut -o " +
                               q(cut.dir.file("video.mpg")) + " --add 0:3-10 " + cut.sources);
    EXPECT_EQ(bare.status, 0) << bare.out;
    const std::vector<uint8_t> es = readBytes(cut.dir.file("video.mpg"));
    ASSERT_GT(es.size(), 4u);
    EXPECT_EQ(es[3], 0xB3) << "a bare video stream, whatever its name";
    // With saveContainerByName=0 the split keeps the name, as it always did.
    const RunResult parts = run(q(binary("orvane-cli")) + " --set saveContainerByName=0 --set splitPvaDstFile=1 cut -o " +
                                q(cut.dir.file("parts.ts")) + " --add 0:3-10 " + cut.sources);
    EXPECT_EQ(parts.status, 0);
    const std::vector<uint8_t> first = readBytes(cut.dir.file("parts_0.ts"));
    ASSERT_GT(first.size(), 8u);
    EXPECT_EQ(first[0], 'A');
    EXPECT_EQ(first[1], 'V');
    // And saveContainerByName=0 makes every name a PVA.
    const RunResult plain = run(q(binary("orvane-cli")) + " --set saveContainerByName=0 cut -o " +
                                q(cut.dir.file("plain.mkv")) + " --add 0:3-10 " + cut.sources);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(readBytes(cut.dir.file("plain.mkv")).at(0), 'A');
}

} // namespace
