// Framing of viewer messages: round trips in pieces of any size, and the frames a
// receiver must refuse without losing the ones that follow.
#include "platform/ViewerProtocol.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace platform;

namespace {

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
        viewerFileMessage("/rec/a.pva", 0x1234),
        viewerMessage(viewerMessagePosition, 0, 0x1'2345'6789ull),   // beyond 4 GiB
        viewerMessage(viewerMessageSize, 3, 4),
        viewerMessage(viewerMessageTopMost, 1, 4),
        viewerMessage(viewerMessageFileChange),
        viewerMessage(viewerMessageClose),
        viewerMessage(viewerMessageAcknowledge, 1),
    };
    std::string stream;
    for (size_t i = 0; i < sent.size(); ++i) stream += frame(sent[i], 100 + static_cast<uint32_t>(i), i % 2 == 0 && i != 6);

    // The file message: identifier 1 and a length that counts the NUL ("a.pva" gives 6).
    const std::string a = frame(viewerFileMessage("a.pva", 0x1234));
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
    ViewerMessage noNul = viewerFileMessage("a.pva", 0x1234);
    noNul.data.pop_back();
    ViewerMessage inner = viewerFileMessage(std::string("a\0b", 3), 0x1234);
    ViewerMessage wrongId = viewerFileMessage("a.pva", 0x1234);
    wrongId.dataId = 2;
    ViewerMessage dataOnPosition = viewerMessage(viewerMessagePosition, 0, 5);
    dataOnPosition.data = "x";
    const ViewerMessage tooLong = viewerFileMessage(std::string(viewerMaxDataLength, 'n'), 0x1234);
    for (const ViewerMessage& m : {noNul, inner, wrongId, dataOnPosition, tooLong, viewerMessage(1025), viewerMessage(0)})
        EXPECT_FALSE(encodeViewerFrame(m, 1, true, out));
    EXPECT_FALSE(encodeViewerFrame(viewerMessage(viewerMessageAcknowledge), 1, true, out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(encodeViewerFrame(viewerFileMessage(std::string(viewerMaxDataLength - 1, 'n'), 0x1234), 1, true, out));
}

TEST(ViewerProtocol, MalformedFramesAreDroppedAndTheNextOnesStillArrive)
{
    const std::string good = frame(viewerMessage(viewerMessagePosition, 0, 4242), 9, true);

    std::string unknown = frame(viewerMessage(viewerMessagePosition), 5, true);
    put32(unknown, 16, 1029);
    std::string noNul = frame(viewerFileMessage("ab", 0x1234), 6, true);
    noNul[noNul.size() - 1] = 'c';
    std::string nulInside = frame(viewerFileMessage("ab", 0x1234), 7, true);
    nulInside[viewerFrameHeaderSize] = '\0';
    std::string badFlags = frame(viewerMessage(viewerMessageClose), 8, true);
    put32(badFlags, 12, 3);
    std::string lengthsDisagree = frame(viewerFileMessage("abc", 0x1234));
    put32(lengthsDisagree, 4, 50);
    std::string absurd = frame(viewerMessage(viewerMessageSize, 1, 2));
    put32(absurd, 40, 0x7fffffff);
    put32(absurd, 4, 0x7fffffff);
    std::string truncatedLength = frame(viewerFileMessage("abc", 0x1234));
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
