#include "LongRecording.h"

#include "OutputFiles.h"
#include "Recording.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace samplegen {

namespace {

const char* const formatVersion = "pva-samplegen long 1";

int fail(const std::string& message)
{
    std::fprintf(stderr, "pva-samplegen: %s\n", message.c_str());
    return 1;
}

} // namespace

int makeLongRecording(const std::string& path, const std::string& encodeDir, const LongSpec& spec)
{
    const auto started = std::chrono::steady_clock::now();
    const EncodeSpec sourceSpec{1500, 60, spec.small, spec.closedGop, spec.interlaced};
    const size_t payload = std::clamp<size_t>(spec.payload, 32, maxPayload);
    EncodedFiles files = encodedFiles(encodeDir, sourceSpec);
    // The packet size joined the parameters later: the default keeps the old names.
    const std::string params = hashText(std::string(formatVersion) + "|" + files.key + "|" +
                                        std::to_string(spec.targetBytes) + "|" + std::to_string(spec.minPictures) +
                                        "|" + std::to_string(spec.startPts) +
                                        (payload == maxPayload ? "" : "|" + std::to_string(payload)));
    if (isUpToDate(path, params, false)) return 0;
    invalidate(path);

    std::string error;
    Recording rec;
    if (!ensureEncoded(encodeDir, sourceSpec, files, error) || !loadRecording(files, rec, error)) return fail(error);
    const VideoStream& v = rec.video;

    // GOP 0 is the closed one the encode starts with; after it the complete GOPs (12
    // pictures, 10 when closed; not the short last one) are repeated in turn.
    std::vector<size_t> cycle;
    const size_t gopLength = v.gopStarts.size() > 2 ? v.gopStarts[2] - v.gopStarts[1] : 12;
    for (size_t g = 1; g + 1 < v.gopStarts.size(); ++g) {
        if (v.gopStarts[g + 1] - v.gopStarts[g] == gopLength) cycle.push_back(g);
    }
    if (cycle.empty()) return fail("the encode has no complete GOP to repeat");
    auto gopEnd = [&](size_t g) { return g + 1 < v.gopStarts.size() ? v.gopStarts[g + 1] : v.pictures.size(); };

    const uint64_t frameBytes = rec.audio.frameSizes[0] + 14 + 8 * (1 + (rec.audio.frameSizes[0] + 14) / payload);
    auto estimate = [&](size_t g) {
        uint64_t bytes = 0, pictures = gopEnd(g) - v.gopStarts[g];
        for (size_t i = v.gopStarts[g]; i < gopEnd(g); ++i) {
            bytes += v.pictures[i].size + 4 + 8 * (1 + (v.pictures[i].size + 4) / payload);
        }
        return bytes + (pictures * ticksPerPicture / ticksPerAudioFrame + 1) * frameBytes;
    };

    // What the file will take, from the GOPs it repeats: refused at once when the
    // disk cannot hold it (with room to spare), not after filling the disk.
    uint64_t cycleBytes = 0, cyclePictures = 0;
    for (size_t g : cycle) {
        cycleBytes += estimate(g);
        cyclePictures += gopEnd(g) - v.gopStarts[g];
    }
    const uint64_t expected = spec.targetBytes ? spec.targetBytes
                                               : (spec.minPictures / cyclePictures + 2) * cycleBytes;
    std::error_code ec;
    const fs::path dir = fs::absolute(path, ec).parent_path();
    const fs::space_info space = fs::space(dir, ec);
    const uint64_t spare = 256ull << 20;
    if (!ec && space.available < expected + spare) {
        return fail(path + " would take about " + std::to_string(expected >> 20) + " MiB, and " + dir.string() +
                    " has " + std::to_string(space.available >> 20) + " MiB free (" + std::to_string(spare >> 20) +
                    " MiB of them kept)");
    }

    const std::string tmp = temporaryName(path);
    FileOut out(tmp);
    if (!out.ok()) return fail("cannot write " + path);
    PvaWriter writer(out, false);

    const uint64_t base = spec.startPts;
    const uint64_t firstPts = base + static_cast<uint64_t>(v.reorderDelay) * ticksPerPicture;
    uint64_t audioFrame = 0;
    const size_t audioFrames = rec.audio.frameOffsets.size();
    auto audio = [&](TimedAudio& a) {
        const size_t f = audioFrame % audioFrames;
        a.data = rec.audio.bytes.data() + rec.audio.frameOffsets[f];
        a.size = rec.audio.frameSizes[f];
        a.deadline = firstPts + audioFrame * ticksPerAudioFrame;
        a.pts = a.deadline;
        ++audioFrame;
        return true;
    };
    Muxer mux(writer, audio, payload);

    std::vector<uint8_t> scratch;
    static const uint8_t sequenceEnd[4] = {0x00, 0x00, 0x01, 0xB7};
    uint64_t decodeIndex = 0;
    size_t next = 0; // position in the cycle
    size_t gop = 0;
    for (;;) {
        const size_t following = cycle[next];
        const bool more = spec.targetBytes ? out.size() + estimate(gop) + estimate(following) <= spec.targetBytes
                                           : decodeIndex + (gopEnd(gop) - v.gopStarts[gop]) < spec.minPictures;
        const uint64_t gopStart = decodeIndex;
        for (size_t i = v.gopStarts[gop]; i < gopEnd(gop); ++i, ++decodeIndex) {
            const PictureUnit& u = v.pictures[i];
            const uint8_t* data = v.bytes.data() + u.offset;
            size_t size = u.size;
            const bool last = !more && i + 1 == gopEnd(gop);
            if (u.gopWordAt >= 0 || last) {
                scratch.assign(data, data + size);
                if (u.gopWordAt >= 0) {
                    uint8_t* w = scratch.data() + u.gopWordAt;
                    uint32_t word = static_cast<uint32_t>(w[0]) << 24 | w[1] << 16 | w[2] << 8 | w[3];
                    word = gopWordWithTimeCode(word, gopStart);
                    w[0] = static_cast<uint8_t>(word >> 24);
                    w[1] = static_cast<uint8_t>(word >> 16);
                    w[2] = static_cast<uint8_t>(word >> 8);
                    w[3] = static_cast<uint8_t>(word);
                }
                if (last) scratch.insert(scratch.end(), sequenceEnd, sequenceEnd + 4);
                data = scratch.data();
                size = scratch.size();
            }
            const long tr = v.displayIndex[i] - static_cast<long>(v.gopStarts[gop]);
            TimedPicture p;
            p.data = data;
            p.size = size;
            p.dts = base + decodeIndex * ticksPerPicture;
            p.pts = firstPts + (gopStart + static_cast<uint64_t>(tr)) * ticksPerPicture;
            p.type = u.type;
            p.gops = u.gopWordAt >= 0 ? 1 : 0;
            mux.addPicture(p);
        }
        if (!more) break;
        gop = following;
        next = (next + 1) % cycle.size();
    }
    // Audio to the end of the last picture shown.
    mux.finish(firstPts + decodeIndex * ticksPerPicture - 1);

    const uint64_t size = out.size();
    if (!out.close()) {
        std::remove(tmp.c_str());
        return fail("cannot write " + path + " (disk full?)");
    }
    if (mux.startCodeLikePts())
        std::fprintf(stderr, "pva-samplegen: warning: %d video time stamps read as start codes\n",
                     mux.startCodeLikePts());
    if (!commitFile(tmp, path)) return fail("cannot write " + path);

    InfoLines info = statsInfo(size, writer.stats());
    info.emplace_back("pts_base", std::to_string(base));
    info.emplace_back("seconds", std::to_string(decodeIndex / 25));
    if (!writeInfo(path, params, info)) return fail("cannot write " + path + ".info");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "made %s: %llu bytes, %llu pictures, %llu packets in %.1f s\n", path.c_str(),
                 static_cast<unsigned long long>(size), static_cast<unsigned long long>(decodeIndex),
                 static_cast<unsigned long long>(writer.stats().packets), seconds);
    return 0;
}

} // namespace samplegen
