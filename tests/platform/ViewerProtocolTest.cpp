// Framing of viewer messages: round trips in pieces of any size, and the frames a
// receiver must refuse without losing the ones that follow.
#include "platform/ViewerProtocol.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace platform;

namespace {

ViewerMessage fileMessage(const std::string& name)
{
    ViewerMessage m;
    m.number = viewerMessageFile;
    m.wParam = 0x1234;
    m.dataId = viewerFileDataId;
    m.data = name + '\0';
    return m;
}

ViewerMessage message(uint32_t number, uint64_t w = 0, uint64_t l = 0)
{
    ViewerMessage m;
    m.number = number;
    m.wParam = w;
    m.lParam = l;
    return m;
}

std::string frame(const ViewerMessage& m, uint32_t sequence = 1, bool ack = false)
{
    std::string out;
    EXPECT_TRUE(encodeViewerFrame(m, sequence, ack, out));
    return out;
}

void put32(std::string& s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

struct Drained {
    std::vector<ViewerFrame> frames;
    std::vector<std::string> errors;
    std::vector<ViewerFrame> refused;   // the frame fields left by a malformed result
};

Drained drain(ViewerFrameDecoder& d)
{
    Drained r;
    for (;;) {
        ViewerFrame f;
        std::string error;
        auto result = d.next(f, error);
        if (result == ViewerFrameDecoder::Result::needMore) return r;
        if (result == ViewerFrameDecoder::Result::frame) {
            r.frames.push_back(f);
        } else {
            r.errors.push_back(error);
            r.refused.push_back(f);
        }
    }
}

TEST(ViewerProtocol, FramesSurviveAnySplitAndKeepSixtyFourBitPositions)
{
    const std::vector<ViewerMessage> sent = {
        fileMessage("/rec/a.pva"),
        message(viewerMessagePosition, 0, 0x1'2345'6789ull),   // beyond 4 GiB
        message(viewerMessageSize, 3, 4),
        message(viewerMessageTopMost, 1, 4),
        message(viewerMessageFileChange),
        message(viewerMessageClose),
        message(viewerMessageAcknowledge, 1),
    };
    std::string stream;
    for (size_t i = 0; i < sent.size(); ++i) stream += frame(sent[i], 100 + static_cast<uint32_t>(i), i % 2 == 0 && i != 6);

    // The file message: identifier 1 and a length that counts the NUL ("a.pva" gives 6).
    const std::string a = frame(fileMessage("a.pva"));
    ASSERT_EQ(a.size(), viewerFrameHeaderSize + 6);
    EXPECT_EQ(std::string(a, 36, 8), std::string("\1\0\0\0\6\0\0\0", 8));
    EXPECT_EQ(a.back(), '\0');

    for (size_t piece : {size_t{1}, size_t{7}, size_t{45}, stream.size()}) {
        ViewerFrameDecoder d;
        std::vector<ViewerFrame> got;
        for (size_t at = 0; at < stream.size(); at += piece) {
            d.feed(stream.data() + at, std::min(piece, stream.size() - at));
            Drained r = drain(d);
            EXPECT_TRUE(r.errors.empty()) << piece;
            got.insert(got.end(), r.frames.begin(), r.frames.end());
        }
        ASSERT_EQ(got.size(), sent.size()) << piece;
        for (size_t i = 0; i < sent.size(); ++i) {
            const ViewerMessage& m = got[i].message;
            EXPECT_EQ(got[i].sequence, 100 + i);
            EXPECT_EQ(got[i].acknowledge, i % 2 == 0 && i != 6);
            EXPECT_EQ(std::tie(m.number, m.wParam, m.lParam, m.dataId, m.data),
                      std::tie(sent[i].number, sent[i].wParam, sent[i].lParam, sent[i].dataId, sent[i].data))
                << i;
        }
        EXPECT_EQ(d.buffered(), 0u);
    }
}

TEST(ViewerProtocol, EncoderRefusesWhatTheOtherEndWouldDrop)
{
    std::string out;
    ViewerMessage noNul = fileMessage("a.pva");
    noNul.data.pop_back();
    ViewerMessage inner = fileMessage(std::string("a\0b", 3));
    ViewerMessage wrongId = fileMessage("a.pva");
    wrongId.dataId = 2;
    ViewerMessage dataOnPosition = message(viewerMessagePosition, 0, 5);
    dataOnPosition.data = "x";
    const ViewerMessage tooLong = fileMessage(std::string(viewerMaxDataLength, 'n'));
    for (const ViewerMessage& m : {noNul, inner, wrongId, dataOnPosition, tooLong, message(1025), message(0)})
        EXPECT_FALSE(encodeViewerFrame(m, 1, true, out));
    EXPECT_FALSE(encodeViewerFrame(message(viewerMessageAcknowledge), 1, true, out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(encodeViewerFrame(fileMessage(std::string(viewerMaxDataLength - 1, 'n')), 1, true, out));
}

TEST(ViewerProtocol, MalformedFramesAreDroppedAndTheNextOnesStillArrive)
{
    const std::string good = frame(message(viewerMessagePosition, 0, 4242), 9, true);

    std::string unknown = frame(message(viewerMessagePosition), 5, true);
    put32(unknown, 16, 1029);
    std::string noNul = frame(fileMessage("ab"), 6, true);
    noNul[noNul.size() - 1] = 'c';
    std::string nulInside = frame(fileMessage("ab"), 7, true);
    nulInside[viewerFrameHeaderSize] = '\0';
    std::string badFlags = frame(message(viewerMessageClose), 8, true);
    put32(badFlags, 12, 3);
    std::string lengthsDisagree = frame(fileMessage("abc"));
    put32(lengthsDisagree, 4, 50);
    std::string absurd = frame(message(viewerMessageSize, 1, 2));
    put32(absurd, 40, 0x7fffffff);
    put32(absurd, 4, 0x7fffffff);
    std::string truncatedLength = frame(fileMessage("abc"));
    put32(truncatedLength, 40, 2);
    put32(truncatedLength, 4, viewerFrameHeaderSize + 2);   // consistent, but the NUL is cut off

    struct Case {
        const char* name;
        std::string bytes;
        bool answerable;   // the header was sound: the sender can be told it was refused
    };
    const Case cases[] = {
        {"unknown number", unknown, true},
        {"file without NUL", noNul, true},
        {"NUL inside the name", nulInside, true},
        {"unknown flags", badFlags, true},
        {"lengths disagree", lengthsDisagree, false},
        {"absurd size", absurd, false},
        {"garbage", std::string("\x01\x02OV\x00OVM", 9), false},
        {"file block cut short", truncatedLength, false},
    };
    for (const Case& c : cases) {
        ViewerFrameDecoder d;
        const std::string stream = c.bytes + good;
        d.feed(stream.data(), stream.size());
        Drained r = drain(d);
        ASSERT_FALSE(r.errors.empty()) << c.name;
        ASSERT_EQ(r.frames.size(), 1u) << c.name;
        EXPECT_EQ(r.frames[0].message.lParam, 4242u) << c.name;
        EXPECT_EQ(r.frames[0].sequence, 9u) << c.name;
        if (c.answerable) {
            ASSERT_EQ(r.errors.size(), 1u) << c.name;
            EXPECT_TRUE(r.refused[0].acknowledge) << c.name;
            EXPECT_NE(r.refused[0].sequence, 0u) << c.name;
        } else {
            for (const ViewerFrame& f : r.refused) EXPECT_FALSE(f.acknowledge) << c.name;
        }
        EXPECT_EQ(d.buffered(), 0u) << c.name;
    }

    // A stream of garbage without any magic keeps at most a possible magic prefix.
    ViewerFrameDecoder d;
    const std::string junk(100000, 'x');
    d.feed(junk.data(), junk.size());
    Drained r = drain(d);
    EXPECT_FALSE(r.errors.empty());
    EXPECT_LT(d.buffered(), 4u);
    d.feed(good.data(), good.size());
    EXPECT_EQ(drain(d).frames.size(), 1u);
}

} // namespace
