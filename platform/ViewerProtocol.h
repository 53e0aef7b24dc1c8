#pragma once
// How a ViewerMessage travels on the byte stream between the cutter and its viewer.
//
// Every frame is a 44-byte header followed by the data block; all numbers are
// little-endian:
//
//   offset  size  field
//        0     4  magic "OVM1"
//        4     4  frame length: 44 + data length
//        8     4  sequence number, chosen by the sender; an acknowledgement repeats it
//       12     4  flags: bit 0 set = "sent", the receiver acknowledges; other bits 0
//       16     4  message number
//       20     8  wParam
//       28     8  lParam (a file position for the position message: 64 bits)
//       36     4  data block identifier (1 for the file message, otherwise 0)
//       40     4  data length (the file message: the name's length + 1)
//       44     n  data (the file message: the name and its NUL)
//
// The viewer answers a sent frame with an acknowledgement frame: number
// viewerMessageAcknowledge, the same sequence number, wParam 1 when the message
// was taken, 0 when it was refused as malformed.
#include "platform/ViewerChannel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

inline constexpr uint32_t viewerMessageAcknowledge = 0x10000;   // outside the window-message range
inline constexpr uint32_t viewerFlagAcknowledge = 1;
inline constexpr size_t viewerFrameHeaderSize = 44;
// The longest data block: a path of up to 4095 bytes and its NUL.
inline constexpr size_t viewerMaxDataLength = 4096;

bool isViewerMessageNumber(uint32_t number);

// Appends the frame of `message` to `out`. False (and nothing appended) when the
// message could not be decoded at the other end: an unknown number, a data block
// on a message that has none, a file name without its final NUL or with one inside,
// a block longer than viewerMaxDataLength.
bool encodeViewerFrame(const ViewerMessage& message, uint32_t sequence, bool acknowledge, std::string& out);

struct ViewerFrame {
    uint32_t sequence = 0;
    bool acknowledge = false;   // the sender waits for an acknowledgement
    ViewerMessage message;
};

// Cuts frames out of the bytes as they arrive, in pieces of any size.
class ViewerFrameDecoder {
public:
    enum class Result { frame, needMore, malformed };

    void feed(const void* bytes, size_t count);
    // Takes the next frame. `malformed` consumes the bad bytes and describes them in
    // `error`; when the header itself was sound, `frame` holds its sequence number,
    // acknowledge flag and message number, so that a waiting sender can be answered.
    // A header that cannot be trusted (wrong magic or lengths) is skipped up to the
    // next magic.
    Result next(ViewerFrame& frame, std::string& error);
    size_t buffered() const { return buffer_.size() - start_; }

private:
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
};

} // namespace platform
