#pragma once
#include <cstdint>
#include <string>

namespace platform {

// The messages the cutter sends its preview viewer.
inline constexpr uint32_t viewerMessageFile = 74;          // data: the file name with its NUL
inline constexpr uint32_t viewerMessageFileChange = 1024;
inline constexpr uint32_t viewerMessagePosition = 1028;    // lParam: file position
inline constexpr uint32_t viewerMessageSize = 1031;        // wParam/lParam: a/b of the picture size
inline constexpr uint32_t viewerMessageTopMost = 1032;     // wParam: 1 on, 0 off; lParam: 4
inline constexpr uint32_t viewerMessageClose = 16;
// The identifier of the file message's data block.
inline constexpr uint32_t viewerFileDataId = 1;

// The viewer is found under this name and started as this program.
inline constexpr const char* viewerName = "DVD2AVI_PVAVIEW";

struct ViewerMessage {
    uint32_t number = 0;
    uint64_t wParam = 0;
    uint64_t lParam = 0;
    // A data block (only the file message has one): identifier and bytes. Its
    // length is data.size(), the terminating NUL included.
    uint32_t dataId = 0;
    std::string data;
};

// A message without a data block.
inline ViewerMessage viewerMessage(uint32_t number, uint64_t wParam = 0, uint64_t lParam = 0)
{
    ViewerMessage m;
    m.number = number;
    m.wParam = wParam;
    m.lParam = lParam;
    return m;
}

// The file message: the name travels in the data block with its NUL; wParam is
// the sender's window.
inline ViewerMessage viewerFileMessage(const std::string& name, uint64_t window = 0)
{
    ViewerMessage m = viewerMessage(viewerMessageFile, window);
    m.dataId = viewerFileDataId;
    m.data = name;
    m.data.push_back('\0');
    return m;
}

// The cutter's end of the link to the viewer window.
class ViewerChannel {
public:
    virtual ~ViewerChannel() = default;
    // Looks for a running viewer; true when one was found (later messages go to it).
    virtual bool find() = 0;
    // Starts the viewer program (found beside this program, then on the PATH)
    // without waiting for it. False when it cannot be started.
    virtual bool start(const char* program) = 0;
    // Delivers a message and waits until the viewer has handled it, for a bounded
    // time. False when there is no viewer or it did not answer.
    virtual bool send(const ViewerMessage& message) = 0;
    // Delivers a message without waiting.
    virtual bool post(const ViewerMessage& message) = 0;
    // Why no viewer can run at all (no private place for the link), or "".
    virtual std::string unavailable() { return {}; }
    // Whether the program last started has ended already (it will not be found).
    virtual bool startedProgramEnded() { return false; }
};

} // namespace platform
