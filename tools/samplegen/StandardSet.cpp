#include "StandardSet.h"

#include "OutputFiles.h"
#include "Recording.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace samplegen {

namespace {

const char* const formatVersion = "pva-samplegen standard 1";
constexpr uint64_t clipBase = 360000000;   // 1 h 6 min 40 s: a recording started mid-broadcast
constexpr uint64_t otherBase = 1800000000; // the second recording of a join
// Two seconds before 2^32, a whole number of pictures so that no PTS reads as a start code.
constexpr uint64_t wrapBase = (4294967296ull - 180000) / 3600 * 3600;
constexpr int64_t jumpBack = 900000;       // 10 s
const EncodeSpec clipSpec{100, 4};
const EncodeSpec rec60Spec{1500, 60};

// Bytes that hold no 0x41, so that no packet header can be read in them.
std::vector<uint8_t> junk(size_t n, uint32_t seed)
{
    std::vector<uint8_t> out(n);
    for (auto& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
        if (b == 0x41) b = 0x40;
    }
    return out;
}

void put(PvaWriter& w, const HeldPacket& p) { w.packet(p.info, p.payload.data(), p.payload.size(), nullptr, 0); }

void putRange(PvaWriter& w, const std::vector<HeldPacket>& packets, size_t from, size_t to)
{
    for (size_t i = from; i < to && i < packets.size(); ++i) put(w, packets[i]);
}

// One try at building a variant in memory.
struct Attempt {
    MemoryOut out;
    PvaWriter writer{out, true};
    InfoLines extra;
    void note(const std::string& key, uint64_t v) { extra.emplace_back(key, std::to_string(v)); }
    void noteSigned(const std::string& key, int64_t v) { extra.emplace_back(key, std::to_string(v)); }
};

// Index of the first packet of a stream whose time stamp is more than `drop` below
// the previous one of the same stream (B pictures go back a little, that is no jump).
int64_t firstDrop(const std::vector<PacketRecord>& records, uint8_t streamId, uint64_t drop)
{
    int64_t prev = -1;
    for (size_t i = 0; i < records.size(); ++i) {
        const PacketRecord& r = records[i];
        if (r.info.streamId != streamId || r.info.pts < 0) continue;
        if (prev >= 0 && static_cast<uint64_t>(prev) > static_cast<uint64_t>(r.info.pts) + drop)
            return static_cast<int64_t>(i);
        prev = r.info.pts;
    }
    return -1;
}

class StandardSet {
public:
    StandardSet(const std::string& dir, const std::string& encodeDir) : dir_(dir), encodeDir_(encodeDir)
    {
        clipFiles_ = encodedFiles(encodeDir, clipSpec);
        recFiles_ = encodedFiles(encodeDir, rec60Spec);
    }

    bool run()
    {
        return clipStream() && rec60() && clip() && garbageBefore() && garbageBetween() && damagedLength() &&
               trailingGarbage() && zeroLength() && stream3() && ptsJumpBack() && joined() && ptsWrap();
    }
    const std::string& error() const { return error_; }

private:
    using Build = std::function<std::unique_ptr<Attempt>()>;

    bool load(const EncodeSpec& spec, EncodedFiles& files, std::optional<Recording>& rec)
    {
        if (rec) return true;
        if (!ensureEncoded(encodeDir_, spec, files, error_)) return false;
        rec.emplace();
        if (!loadRecording(files, *rec, error_)) {
            rec.reset();
            return false;
        }
        return true;
    }

    // The clip's packets on its usual time base, the material of most variants.
    const std::vector<HeldPacket>* clipPackets()
    {
        if (!clipPackets_) {
            if (!load(clipSpec, clipFiles_, clip_)) return nullptr;
            PacketList list;
            if (!muxRecording(*clip_, TimeBase{clipBase}, list, error_)) return nullptr;
            clipPackets_ = std::move(list.packets);
        }
        return &*clipPackets_;
    }

    std::unique_ptr<Attempt> muxed(const EncodeSpec& spec, EncodedFiles& files, std::optional<Recording>& rec,
                                   const TimeBase& tb)
    {
        if (!load(spec, files, rec)) return nullptr;
        auto a = std::make_unique<Attempt>();
        if (!muxRecording(*rec, tb, a->writer, error_)) return nullptr;
        return a;
    }

    bool make(const std::string& name, const EncodedFiles& basedOn, const std::string& variant, const Build& build)
    {
        const std::string path = dir_ + "/" + name;
        const std::string params = hashText(std::string(formatVersion) + "|" + basedOn.key + "|" + variant);
        if (isUpToDate(path, params, true)) return true;
        invalidate(path);
        std::unique_ptr<Attempt> a = build();
        if (!a) {
            if (error_.empty()) error_ = "cannot build " + name;
            return false;
        }
        InfoLines info = statsInfo(a->out.size(), a->writer.stats());
        info.insert(info.end(), a->extra.begin(), a->extra.end());
        if (!writeWholeFile(path, a->out.bytes.data(), a->out.bytes.size()) ||
            !writeWholeFile(path + ".packets", packetsText(a->writer.records())) || !writeInfo(path, params, info)) {
            error_ = "cannot write " + path;
            return false;
        }
        std::fprintf(stderr, "made %s\n", path.c_str());
        return true;
    }

    // The clip's elementary video stream as it came from the encoder.
    bool clipStream()
    {
        const std::string path = dir_ + "/clip.m2v";
        const std::string params = hashText(std::string(formatVersion) + "|" + clipFiles_.key + "|m2v");
        if (isUpToDate(path, params, false)) return true;
        invalidate(path);
        if (!load(clipSpec, clipFiles_, clip_)) return false;
        const VideoStream& v = clip_->video;
        uint64_t iPictures = 0;
        for (const PictureUnit& u : v.pictures) iPictures += u.type == 'I';
        InfoLines info = {{"size", std::to_string(v.bytes.size())},
                          {"pictures", std::to_string(v.pictures.size())},
                          {"i_pictures", std::to_string(iPictures)},
                          {"gops", std::to_string(v.gopStarts.size())}};
        if (!writeWholeFile(path, v.bytes.data(), v.bytes.size()) || !writeInfo(path, params, info)) {
            error_ = "cannot write " + path;
            return false;
        }
        return true;
    }

    bool clip()
    {
        return make("clip.pva", clipFiles_, "clean base=" + std::to_string(clipBase), [&] {
            auto a = muxed(clipSpec, clipFiles_, clip_, TimeBase{clipBase});
            if (a) a->note("pts_base", clipBase);
            return a;
        });
    }

    bool rec60()
    {
        return make("rec60.pva", recFiles_, "clean base=" + std::to_string(clipBase), [&] {
            auto a = muxed(rec60Spec, recFiles_, rec_, TimeBase{clipBase});
            if (a) a->note("pts_base", clipBase);
            return a;
        });
    }

    bool garbageBefore()
    {
        return make("garbage_before.pva", clipFiles_, "garbage before 5", [&]() -> std::unique_ptr<Attempt> {
            const auto* pk = clipPackets();
            if (!pk) return nullptr;
            auto a = std::make_unique<Attempt>();
            a->writer.garbage(junk(5, 1));
            putRange(a->writer, *pk, 0, pk->size());
            a->note("garbage_offset", 0);
            a->note("garbage_length", 5);
            a->noteSigned("resync_offset", findNextHeader(a->out.bytes, 2));
            return a;
        });
    }

    // Garbage after packet k, for the first k from the middle on where a search that
    // starts 2 bytes into packet k finds the packet after the garbage.
    bool garbageBetween()
    {
        return make("garbage_between.pva", clipFiles_, "garbage between 37", [&]() -> std::unique_ptr<Attempt> {
            const auto* pk = clipPackets();
            if (!pk) return nullptr;
            for (size_t k = pk->size() / 2; k + 1 < pk->size(); ++k) {
                auto a = std::make_unique<Attempt>();
                putRange(a->writer, *pk, 0, k + 1);
                const uint64_t at = a->writer.offset();
                a->writer.garbage(junk(37, 2));
                putRange(a->writer, *pk, k + 1, pk->size());
                const int64_t found = findNextHeader(a->out.bytes, a->writer.records()[k].offset + 2);
                if (found != static_cast<int64_t>(at + 37)) continue;
                a->note("garbage_after_packet", k);
                a->note("garbage_offset", at);
                a->note("garbage_length", 37);
                a->note("resync_offset", static_cast<uint64_t>(found));
                return a;
            }
            error_ = "no place for garbage between packets";
            return nullptr;
        });
    }

    // A video packet without time stamp from the middle on whose length field is made
    // to point into its own payload, where no header is.
    bool damagedLength()
    {
        return make("damaged_length.pva", clipFiles_, "damaged length half", [&]() -> std::unique_ptr<Attempt> {
            const auto* pk = clipPackets();
            if (!pk) return nullptr;
            for (size_t k = pk->size() / 2; k + 1 < pk->size(); ++k) {
                const HeldPacket& p = (*pk)[k];
                if (p.info.streamId != 1 || p.info.flags != 0 || p.payload.size() < 2000) continue;
                const uint16_t field = static_cast<uint16_t>(p.payload.size() / 2 + 1);
                auto a = std::make_unique<Attempt>();
                putRange(a->writer, *pk, 0, k);
                const uint64_t at = a->writer.offset();
                a->writer.damagedPacket(p.info, p.payload, field);
                const uint64_t next = a->writer.offset();
                putRange(a->writer, *pk, k + 1, pk->size());
                const auto& b = a->out.bytes;
                const uint64_t pointed = at + 8 + field;
                if (b[pointed] == 0x41 && b[pointed + 1] == 0x56) continue;
                if (findNextHeader(b, at + 2) != static_cast<int64_t>(next)) continue;
                a->note("damaged_packet", k);
                a->note("damaged_offset", at);
                a->note("damaged_length_field", field);
                a->note("true_length", p.payload.size());
                a->note("resync_offset", next);
                return a;
            }
            error_ = "no packet to damage";
            return nullptr;
        });
    }

    bool trailingGarbage()
    {
        return make("trailing_garbage.pva", clipFiles_, "trailing garbage 1000", [&]() -> std::unique_ptr<Attempt> {
            const auto* pk = clipPackets();
            if (!pk) return nullptr;
            auto a = std::make_unique<Attempt>();
            putRange(a->writer, *pk, 0, pk->size());
            const uint64_t at = a->writer.offset();
            a->writer.garbage(junk(1000, 3));
            if (findNextHeader(a->out.bytes, a->writer.records().back().offset + 2) != -1) {
                error_ = "trailing garbage: the last packet holds a header pattern";
                return nullptr;
            }
            a->note("garbage_offset", at);
            a->note("garbage_length", 1000);
            return a;
        });
    }

    bool zeroLength()
    {
        return make("zero_length.pva", clipFiles_, "zero length v1/4 a1/2 v3/4 vlast", [&]() -> std::unique_ptr<Attempt> {
            const auto* pk = clipPackets();
            if (!pk) return nullptr;
            const size_t n = pk->size();
            const size_t at[4] = {n / 4, n / 2, 3 * n / 4, n - 1};
            const uint8_t ids[4] = {1, 2, 1, 1};
            auto a = std::make_unique<Attempt>();
            size_t from = 0;
            for (int i = 0; i < 4; ++i) {
                putRange(a->writer, *pk, from, at[i]);
                if (i == 0) a->note("zero_length_first", a->writer.records().size());
                PacketInfo info;
                info.streamId = ids[i];
                a->writer.packet(info, nullptr, 0, nullptr, 0);
                from = at[i];
            }
            putRange(a->writer, *pk, from, n);
            return a;
        });
    }

    // Packets of stream id 3 in sequence, and garbage holding "AV" 0x03 where a search
    // for the next header runs over it.
    bool stream3()
    {
        return make("stream3.pva", clipFiles_, "stream3 x3 fake", [&]() -> std::unique_ptr<Attempt> {
            const auto* pk = clipPackets();
            if (!pk) return nullptr;
            const size_t n = pk->size();
            std::vector<uint8_t> fake = junk(7, 4);
            const uint8_t fakeHeader[8] = {0x41, 0x56, 0x03, 0x00, 0x55, 0x00, 0x00, 0x10};
            fake.insert(fake.end(), fakeHeader, fakeHeader + 8);
            const std::vector<uint8_t> tail = junk(9, 5);
            fake.insert(fake.end(), tail.begin(), tail.end());
            for (size_t k = 5 * n / 6; k + 1 < n; ++k) {
                auto a = std::make_unique<Attempt>();
                PvaWriter& w = a->writer;
                const std::vector<uint8_t> data = junk(100, 6);
                const std::vector<uint8_t> stamped = {0, 0, 0, 0};
                PacketInfo s3;
                s3.streamId = 3;
                putRange(w, *pk, 0, n / 3);
                a->note("stream3_first", w.records().size());
                w.packet(s3, data.data(), data.size(), nullptr, 0);
                putRange(w, *pk, n / 3, n / 2);
                w.packet(s3, nullptr, 0, nullptr, 0);
                putRange(w, *pk, n / 2, 2 * n / 3);
                s3.flags = flagPts;
                w.packet(s3, stamped.data(), stamped.size(), data.data(), 60);
                putRange(w, *pk, 2 * n / 3, k + 1);
                const size_t before = w.records().size() - 1;
                const uint64_t at = w.offset();
                w.garbage(fake);
                putRange(w, *pk, k + 1, n);
                const int64_t found = findNextHeader(a->out.bytes, w.records()[before].offset + 2);
                if (found != static_cast<int64_t>(at + fake.size())) continue;
                a->note("stream3_packets", 3);
                a->note("garbage_after_packet", before);
                a->note("garbage_offset", at);
                a->note("garbage_length", fake.size());
                a->note("fake_header_offset", at + 7);
                a->note("resync_offset", static_cast<uint64_t>(found));
                return a;
            }
            error_ = "no place for the fake header";
            return nullptr;
        });
    }

    // The clock jumps back 10 s at the GOP that starts after picture 50.
    bool ptsJumpBack()
    {
        return make("pts_jump_back.pva", clipFiles_, "jump back 900000 after picture 50", [&]() -> std::unique_ptr<Attempt> {
            if (!load(clipSpec, clipFiles_, clip_)) return nullptr;
            size_t gop = 0;
            for (size_t g : clip_->video.gopStarts) {
                if (g >= 50) {
                    gop = g;
                    break;
                }
            }
            if (gop == 0) {
                error_ = "clip too short for a time stamp jump";
                return nullptr;
            }
            TimeBase tb{clipBase, clipBase + gop * ticksPerPicture, -jumpBack};
            auto a = muxed(clipSpec, clipFiles_, clip_, tb);
            if (!a) return nullptr;
            const auto& r = a->writer.records();
            const int64_t v = firstDrop(r, 1, 90000), au = firstDrop(r, 2, 90000);
            a->note("pts_base", clipBase);
            a->note("jump_picture", gop);
            a->note("jump_ticks", static_cast<uint64_t>(jumpBack));
            a->noteSigned("jump_video_packet", v);
            a->noteSigned("jump_audio_packet", au);
            a->noteSigned("jump_packet", v < 0 ? au : au < 0 ? v : std::min(v, au));
            return a;
        });
    }

    bool joined()
    {
        return make("joined.pva", clipFiles_, "join " + std::to_string(clipBase) + " " + std::to_string(otherBase),
                    [&]() -> std::unique_ptr<Attempt> {
                        const auto* pk = clipPackets();
                        if (!pk) return nullptr;
                        PacketList second;
                        if (!muxRecording(*clip_, TimeBase{otherBase}, second, error_)) return nullptr;
                        auto a = std::make_unique<Attempt>();
                        putRange(a->writer, *pk, 0, pk->size());
                        a->note("join_packet", a->writer.records().size());
                        a->note("join_offset", a->writer.offset());
                        a->writer.restartCounters();
                        putRange(a->writer, second.packets, 0, second.packets.size());
                        a->note("pts_base", clipBase);
                        a->note("second_pts_base", otherBase);
                        return a;
                    });
    }

    bool ptsWrap()
    {
        return make("pts_wrap.pva", clipFiles_, "wrap base=" + std::to_string(wrapBase), [&]() -> std::unique_ptr<Attempt> {
            auto a = muxed(clipSpec, clipFiles_, clip_, TimeBase{wrapBase});
            if (!a) return nullptr;
            const auto& r = a->writer.records();
            const int64_t v = firstDrop(r, 1, 0x80000000u), au = firstDrop(r, 2, 0x80000000u);
            a->note("pts_base", wrapBase);
            a->noteSigned("wrap_video_packet", v);
            a->noteSigned("wrap_audio_packet", au);
            a->noteSigned("wrap_packet", v < 0 ? au : au < 0 ? v : std::min(v, au));
            return a;
        });
    }

    std::string dir_, encodeDir_, error_;
    EncodedFiles clipFiles_, recFiles_;
    std::optional<Recording> clip_, rec_;
    std::optional<std::vector<HeldPacket>> clipPackets_;
};

} // namespace

int makeStandardSet(const std::string& dir, const std::string& encodeDir)
{
    StandardSet set(dir, encodeDir);
    if (!set.run()) {
        std::fprintf(stderr, "pva-samplegen: %s\n", set.error().c_str());
        return 1;
    }
    return 0;
}

} // namespace samplegen
