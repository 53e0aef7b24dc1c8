// Re-encoding at cuts, judged by decoding: generated recordings (open and closed GOPs,
// progressive and interlaced top field first, 4:3 and 16:9) are cut at every picture
// with ranges that start and end at I, P and B pictures, and at I pictures, saved with
// saveRecodeAtCuts 1 and checked. FFmpeg's decode of the new PVA must show exactly the
// pictures from the earliest to the latest of each range's units, each once, in
// order: copied ones bit-identical to the source's decode, re-encoded ones (only at
// a range's start, fewer than a GOP) at 40 dB or more, in no more bytes than they
// replace, with the decoder's buffer never running dry.
#include "WriterRig.h"

#include "media/PictureRecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

using namespace testsupport;

namespace {

constexpr int width = 720, height = 576;
constexpr size_t frameBytes = width * height * 3 / 2;
constexpr int gopLength = 12;

std::string q(const std::string& s) { return "'" + s + "'"; }

struct Unit {
    int64_t first, end;
    uint32_t pts;
    int type;
};

std::vector<Unit> units(const std::string& path, int atIFrames)
{
    std::istringstream table(
        run(q(binary("orvane-cli")) + " --set cutAtIFrames=" + std::to_string(atIFrames) + " units " + q(path)).out);
    std::vector<Unit> out;
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream f(line);
        int64_t unit, first, end, offset, frame;
        uint32_t pts;
        int type;
        f >> unit >> first >> end >> offset >> frame >> pts >> type;
        out.push_back({first, end, pts, type});
    }
    return out;
}

// Every picture in display order as 4:2:0 samples.
std::vector<std::string> decodeAll(const std::string& path)
{
    const RunResult r = run("ffmpeg -nostdin -v error -f pva -i " + q(path) +
                            " -map 0:v -fps_mode passthrough -pix_fmt yuv420p -f rawvideo -");
    std::vector<std::string> out;
    for (size_t at = 0; at + frameBytes <= r.out.size(); at += frameBytes) out.push_back(r.out.substr(at, frameBytes));
    return out;
}

double psnr(const std::string& a, const std::string& b)
{
    double sum = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        const double d = static_cast<unsigned char>(a[k]) - static_cast<unsigned char>(b[k]);
        sum += d * d;
    }
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

// The video elementary stream of a PVA file.
std::vector<uint8_t> videoStream(const std::string& path)
{
    const std::vector<uint8_t> d = readBytes(path);
    std::vector<uint8_t> es;
    for (size_t at = 0; at + 8 <= d.size();) {
        const size_t length = (size_t{d[at + 6]} << 8) | d[at + 7];
        if (d[at + 2] == 1) {
            const size_t skip = (d[at + 5] & 3u) + ((d[at + 5] & 0x10) ? 4u : 0u);
            if (length > skip) es.insert(es.end(), d.begin() + static_cast<long>(at + 8 + skip), d.begin() + static_cast<long>(at + 8 + length));
        }
        at += 8 + length;
    }
    return es;
}

struct StreamFacts {
    std::vector<size_t> pictureBytes;   // coding order, each with the headers before it
    std::vector<int> aspect;            // of each sequence header
    int64_t maxRate = 0, bufferBits = 0;
};

StreamFacts facts(const std::vector<uint8_t>& es)
{
    StreamFacts f;
    size_t start = 0;
    bool inPicture = false;
    for (size_t k = 0; k + 8 < es.size(); ++k) {
        if (es[k] != 0 || es[k + 1] != 0 || es[k + 2] != 1) continue;
        const uint8_t code = es[k + 3];
        if (code == 0xB3 || code == 0xB8 || code == 0x00) {
            if (inPicture) {
                f.pictureBytes.push_back(k - start);
                start = k;
                inPicture = false;
            }
            if (code == 0x00) inPicture = true;
        }
        if (code == 0xB3) {
            f.aspect.push_back(es[k + 7] >> 4);
            f.maxRate = int64_t{(uint32_t{es[k + 8]} << 10) | (uint32_t{es[k + 9]} << 2) | (es[k + 10] >> 6)} * 400;
            f.bufferBits = int64_t{((es[k + 10] & 0x1Fu) << 5) | (es[k + 11] >> 3)} * 16384;
        }
    }
    if (inPicture) f.pictureBytes.push_back(es.size() - start);
    return f;
}

struct RangeSpec {
    int first, last;   // units
};

// What a cut must show: for each run of units that follow each other, the source
// pictures (display order) from the earliest to the latest time of its pictures.
std::vector<std::vector<size_t>> wantedPictures(const std::vector<Unit>& pictureUnits, const std::vector<Unit>& cutUnits,
                                                const std::vector<RangeSpec>& adds)
{
    std::vector<RangeSpec> joined;
    for (const RangeSpec& a : adds)
        if (!joined.empty() && joined.back().last + 1 == a.first)
            joined.back().last = a.last;
        else
            joined.push_back(a);
    std::vector<std::vector<size_t>> out;
    for (const RangeSpec& r : joined) {
        const int64_t from = cutUnits[static_cast<size_t>(r.first)].first, to = cutUnits[static_cast<size_t>(r.last)].end;
        uint32_t lo = UINT32_MAX, hi = 0;
        for (const Unit& u : pictureUnits)
            if (u.first >= from && u.first < to) {
                lo = std::min(lo, u.pts);
                hi = std::max(hi, u.pts);
            }
        std::vector<size_t> shown;
        for (uint32_t t = lo; t <= hi; t += 3600) shown.push_back(t / 3600);
        out.push_back(shown);
    }
    return out;
}

struct Saved {
    int recodedPictures = -1;
    long long recodedBytes = 0, replacedBytes = 0;
};

// Cuts, saves with the check and measures every picture against the source.
Saved cutAndJudge(const ScratchDir& dir, const std::string& source, const std::vector<std::string>& sourceFrames,
                  int atIFrames, const std::vector<RangeSpec>& adds, const std::string& name)
{
    SCOPED_TRACE(name);
    const std::vector<Unit> pictureUnits = units(source, 0);
    const std::vector<Unit> cutUnits = atIFrames ? units(source, 1) : pictureUnits;
    std::string args = " --set cutAtIFrames=" + std::to_string(atIFrames) + " --set saveRecodeAtCuts=1 cut --check -o " +
                       q(dir.file(name));
    for (const RangeSpec& r : adds) args += " --add 0:" + std::to_string(r.first) + "-" + std::to_string(r.last);
    const RunResult r = run(q(binary("orvane-cli")) + args + " " + q(source));
    Saved saved;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("no problem found"), std::string::npos) << r.out;
    const size_t at = r.out.find(" pictures re-encoded at ");
    if (at != std::string::npos) {
        const size_t line = r.out.rfind('\n', at);
        std::sscanf(r.out.c_str() + (line == std::string::npos ? 0 : line + 1), "%d pictures re-encoded at %*u cuts (%lld bytes in place of %lld)",
                    &saved.recodedPictures, &saved.recodedBytes, &saved.replacedBytes);
    }
    EXPECT_LE(saved.recodedBytes, saved.replacedBytes) << "re-encoded pictures take no more bytes than they replace";

    const std::vector<std::vector<size_t>> wanted = wantedPictures(pictureUnits, cutUnits, adds);
    const std::vector<std::string> got = decodeAll(dir.file(name));
    size_t total = 0;
    for (const auto& w : wanted) total += w.size();
    EXPECT_EQ(got.size(), total) << "exactly the wanted pictures, each once";
    size_t k = 0;
    int recoded = 0;
    for (size_t range = 0; range < wanted.size(); ++range) {
        int recodedHere = 0;
        bool copying = false;
        for (size_t place : wanted[range]) {
            if (k >= got.size()) break;
            const std::string& pic = got[k++];
            if (pic == sourceFrames.at(place)) {
                copying = true;
                continue;
            }
            ++recoded;
            ++recodedHere;
            EXPECT_FALSE(copying) << "range " << range << ": a re-encoded picture after copied ones, at " << place;
            EXPECT_GE(psnr(pic, sourceFrames.at(place)), 40.0) << "range " << range << ", source picture " << place;
        }
        EXPECT_LE(recodedHere, gopLength - 1) << "range " << range;
    }
    EXPECT_EQ(recoded, std::max(saved.recodedPictures, 0)) << "the console counts the re-encoded pictures";

    // GOP time codes run on: each GOP's is the one before it plus the pictures between;
    // and the video time stamps step by one picture in display order.
    const std::vector<uint8_t> es = videoStream(dir.file(name));
    expectGopTimeCodesRunOn(es);
    const std::vector<uint8_t> file = readBytes(dir.file(name));
    std::vector<uint32_t> pts;
    for (size_t j = 0; j + 12 <= file.size();) {
        const size_t length = (size_t{file[j + 6]} << 8) | file[j + 7];
        if (file[j + 2] == 1 && (file[j + 5] & 0x10))
            pts.push_back(uint32_t{file[j + 8]} << 24 | uint32_t{file[j + 9]} << 16 | uint32_t{file[j + 10]} << 8 | file[j + 11]);
        j += 8 + length;
    }
    std::sort(pts.begin(), pts.end());
    EXPECT_EQ(pts.size(), total) << "one time stamp a picture";
    size_t steps = 0;
    for (size_t j = 1; j < pts.size(); ++j)
        if (pts[j] - pts[j - 1] != 3600u && ++steps <= 3) ADD_FAILURE() << "time stamps of pictures " << j - 1 << " and " << j;

    // The whole new stream through the decoder's buffer: no worse than the source.
    const StreamFacts out = facts(es);
    EXPECT_FALSE(media::bufferUnderflows(out.pictureBytes, out.maxRate, out.bufferBits, 3)) << "buffer underflow";
    return saved;
}

std::string makeRecording(const std::string& name, const std::string& options)
{
    const std::string dir = sample("rec60.pva").substr(0, sample("rec60.pva").rfind('/'));
    const std::string path = dir + "/" + name;
    const RunResult r = run(q(binary("pva-samplegen")) + " record 6 " + q(path) + " " + options + " --cache " + q(dir));
    EXPECT_EQ(r.status, 0) << r.err;
    return path;
}

// The unit of the first picture of `type` at or after unit `from`.
int unitOf(const std::vector<Unit>& u, int type, int from)
{
    for (int k = from; k < static_cast<int>(u.size()); ++k)
        if (u[static_cast<size_t>(k)].type == type) return k;
    return -1;
}

// A copy of the recording whose sequence headers say 16:9.
std::string wideCopy(const std::string& path, const std::string& to)
{
    std::vector<uint8_t> d = readBytes(path);
    for (size_t k = 0; k + 8 < d.size(); ++k)
        if (d[k] == 0 && d[k + 1] == 0 && d[k + 2] == 1 && d[k + 3] == 0xB3) d[k + 7] = static_cast<uint8_t>(0x30 | (d[k + 7] & 0x0F));
    writeBytes(to, d);
    return to;
}

TEST(RecodeAtCuts, RangesStartingAndEndingAtEveryKindOfPictureShowExactlyTheWantedPictures)
{
    ScratchDir dir("recode");
    for (const char* kind : {"", "--closed-gop", "--interlaced", "wide"}) {
        SCOPED_TRACE(kind);
        const bool wide = std::string(kind) == "wide";
        std::string source = makeRecording(std::string("recode") + (wide ? "" : kind) + ".pva", wide ? "" : kind);
        if (wide) source = wideCopy(source, dir.file("wide.pva"));
        const std::vector<std::string> frames = decodeAll(source);
        ASSERT_GE(frames.size(), 140u);
        const std::vector<Unit> u = units(source, 0);
        const StreamFacts sourceFacts = facts(videoStream(source));
        ASSERT_FALSE(media::bufferUnderflows(sourceFacts.pictureBytes, sourceFacts.maxRate, sourceFacts.bufferBits, 3));

        // Starts at a P, a B, an I (of an open GOP: its leading B pictures with it),
        // a range of two B pictures within one GOP; ends at B, P, I.
        const int p1 = unitOf(u, 2, 14), b1 = unitOf(u, 3, p1 + 15);
        const int b2 = unitOf(u, 3, b1 + 6), p2 = unitOf(u, 2, b2 + 9);
        const int i3 = unitOf(u, 1, p2 + 2), i4 = unitOf(u, 1, i3 + 1);
        const int p5 = unitOf(u, 2, i4 + 3);
        ASSERT_GT(p5, 0);
        const std::vector<RangeSpec> adds = {{p1, b1}, {b2, p2}, {i3, i4}, {p5 + 1, p5 + 2}, {5, 9}};
        const Saved saved = cutAndJudge(dir, source, frames, 0, adds, std::string("pictures") + (wide ? "-wide" : kind) + ".pva");
        EXPECT_GT(saved.recodedPictures, 0);

        const std::string out = dir.file(std::string("pictures") + (wide ? "-wide" : kind) + ".pva");
        const StreamFacts outFacts = facts(videoStream(out));
        ASSERT_FALSE(sourceFacts.aspect.empty());
        for (int a : outFacts.aspect) EXPECT_EQ(a, wide ? 3 : sourceFacts.aspect.front()) << "aspect ratio kept";
        if (std::string(kind) == "--interlaced") {
            // Every picture interlaced, top field first, as in the source.
            const RunResult probe = run("ffprobe -v error -f pva -show_entries frame=interlaced_frame,top_field_first -of default=nw=1 " + q(out));
            int interlaced = 0, topFirst = 0, other = 0;
            std::istringstream in(probe.out);
            for (std::string line; std::getline(in, line);) {
                if (line == "interlaced_frame=1") ++interlaced;
                else if (line == "top_field_first=1") ++topFirst;
                else if (line.rfind("interlaced_frame=", 0) == 0 || line.rfind("top_field_first=", 0) == 0) ++other;
            }
            const int frameLines = interlaced;
            EXPECT_EQ(other, 0) << probe.out.substr(0, 400);
            EXPECT_EQ(topFirst, interlaced);
            EXPECT_EQ(static_cast<size_t>(interlaced), decodeAll(out).size());
            EXPECT_GT(frameLines, 0);
        }
    }
}

TEST(RecodeAtCuts, CutAtIPicturesTheLeadingBPicturesOfAnOpenGopAreReencoded)
{
    ScratchDir dir("recode-i");
    const std::string source = makeRecording("recode.pva", "");
    const std::vector<std::string> frames = decodeAll(source);
    const Saved saved = cutAndJudge(dir, source, frames, 1, {{2, 3}, {6, 6}, {1, 1}}, "gops.pva");
    EXPECT_EQ(saved.recodedPictures, 6) << "the two leading B pictures of each open GOP a range starts with";

    // Off, the clean joins leave them out.
    const RunResult off = run(q(binary("orvane-cli")) + " --set saveRecodeAtCuts=0 cut -o " + q(dir.file("off.pva")) +
                              " --add 0:2-3 --add 0:6-6 --add 0:1-1 " + q(source));
    ASSERT_EQ(off.status, 0);
    EXPECT_EQ(off.out.find("re-encoded"), std::string::npos);
    EXPECT_EQ(decodeAll(dir.file("off.pva")).size(), decodeAll(dir.file("gops.pva")).size() - 6);
}

// The re-encoding is part of the save: its progress shows on the save's bar, the
// window is served meanwhile, and the cancel button stops it with nothing written.
TEST(RecodeAtCuts, TheReencodingShowsProgressAndStopsAtCancel)
{
    const std::string source = makeRecording("recode.pva", "");
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "saved");
        writertest::Rig rig;
        rig.app->settings.cutAtIFrames = 0;
        rig.app->settings.assCleanJoins = 1;
        rig.app->settings.saveRecodeAtCuts = 1;
        rig.load("src.pva", readBytes(source));
        // Ten ranges, each from a P picture.
        const std::vector<Unit> u = units(source, 0);
        for (int k = 0, from = 14; k < 10; ++k, from += 12) {
            const int p = unitOf(u, 2, from);
            rig.app->sources[0].selStart = p;
            rig.app->sources[0].selEnd = p + 4;
            ASSERT_EQ(rig.editor->insertSrcPicPkts(true), 1);
        }
        std::vector<int> percents;
        int servedDuringSave = 0;
        rig.host.pump.onServe = [&](int) {
            ++servedDuringSave;
            percents.push_back(rig.host.bar.position);
            if (cancel && servedDuringSave == 4) rig.app->settings.cancelRequested = 1;
        };
        rig.controls = rig.host.controls;
        const int rc = rig.save("out.pva");
        if (cancel) {
            EXPECT_EQ(rc, -1);
            EXPECT_NE(rig.text().find("Save cancelled while re-encoding at the cuts: nothing saved"), std::string::npos)
                << rig.text();
            EXPECT_FALSE(fileExists(rig.path("out.pva")));
            EXPECT_EQ(rig.app->settings.cancelRequested, 0) << "the cancel was taken";
        } else {
            EXPECT_EQ(rc, 1) << rig.text();
            EXPECT_NE(rig.text().find(" pictures re-encoded at 10 cuts"), std::string::npos) << rig.text();
            EXPECT_GE(servedDuringSave, 10);
            EXPECT_TRUE(std::is_sorted(percents.begin(), percents.begin() + 9)) << "the re-encoding's progress rises";
            EXPECT_GT(percents[8], 0);
        }
    }
}

TEST(RecodeAtCuts, TheBufferSimulationFindsAPictureThatArrivesTooLate)
{
    // 8 Mbit/s into a 1.8 Mbit buffer: 40,000 bytes a picture at 25 a second go on
    // for ever, a 250,000-byte picture does not fit, nor do too many large ones.
    const std::vector<size_t> steady(100, 40000);
    EXPECT_FALSE(media::bufferUnderflows(steady, 8000000, 1835008, 3));
    EXPECT_TRUE(media::bufferUnderflows(std::vector<size_t>{250000}, 8000000, 1835008, 3));
    EXPECT_TRUE(media::bufferUnderflows(std::vector<size_t>(20, 60000), 8000000, 1835008, 3));
    EXPECT_FALSE(media::bufferUnderflows(std::vector<size_t>(3, 60000), 8000000, 1835008, 3));
}

} // namespace
