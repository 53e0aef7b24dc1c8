#include "platform/ViewerProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

constexpr uint8_t magic[4] = {'O', 'V', 'M', '1'};

void put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void put64(std::string& out, uint64_t v)
{
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
        | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t get64(const uint8_t* p) { return static_cast<uint64_t>(get32(p)) | (static_cast<uint64_t>(get32(p + 4)) << 32); }

// Why a message's number, flags and data block do not belong together; null when they do.
const char* contentFault(uint32_t number, uint32_t flags, uint32_t dataId, const char* data, size_t length)
{
    if (!isViewerMessageNumber(number)) return "unknown message number";
    if (flags & ~viewerFlagAcknowledge) return "unknown flags";
    if (number == viewerMessageAcknowledge && flags) return "an acknowledgement asks for one";
    if (number != viewerMessageFile) return dataId != 0 || length != 0 ? "a data block on a message without one" : nullptr;
    if (dataId != viewerFileDataId) return "file message with a wrong data identifier";
    if (length == 0 || data[length - 1] != '\0') return "file name without its NUL";
    if (std::memchr(data, '\0', length - 1)) return "file name with a NUL inside";
    return nullptr;
}

} // namespace

bool isViewerMessageNumber(uint32_t number)
{
    switch (number) {
    case viewerMessageFile:
    case viewerMessageFileChange:
    case viewerMessagePosition:
    case viewerMessageSize:
    case viewerMessageTopMost:
    case viewerMessageClose:
    case viewerMessageAcknowledge:
        return true;
    default:
        return false;
    }
}

bool encodeViewerFrame(const ViewerMessage& m, uint32_t sequence, bool acknowledge, std::string& out)
{
    const uint32_t flags = acknowledge ? viewerFlagAcknowledge : 0;
    if (m.data.size() > viewerMaxDataLength) return false;
    if (contentFault(m.number, flags, m.dataId, m.data.data(), m.data.size())) return false;
    out.reserve(out.size() + viewerFrameHeaderSize + m.data.size());
    out.append(reinterpret_cast<const char*>(magic), 4);
    put32(out, static_cast<uint32_t>(viewerFrameHeaderSize + m.data.size()));
    put32(out, sequence);
    put32(out, flags);
    put32(out, m.number);
    put64(out, m.wParam);
    put64(out, m.lParam);
    put32(out, m.dataId);
    put32(out, static_cast<uint32_t>(m.data.size()));
    out += m.data;
    return true;
}

void ViewerFrameDecoder::feed(const void* bytes, size_t count)
{
    // Compact before growing, so that a long-lived connection keeps a small buffer.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    const auto* p = static_cast<const uint8_t*>(bytes);
    buffer_.insert(buffer_.end(), p, p + count);
}

ViewerFrameDecoder::Result ViewerFrameDecoder::next(ViewerFrame& frame, std::string& error)
{
    frame = ViewerFrame{};
    const uint8_t* p = buffer_.data() + start_;
    const size_t have = buffer_.size() - start_;
    if (have == 0) return Result::needMore;

    // The header is trusted only when its magic and both lengths agree; otherwise the
    // frame boundary is unknown and the bytes up to the next magic are dropped.
    const char* headerFault = nullptr;
    size_t matched = 0;
    while (matched < 4 && matched < have && p[matched] == magic[matched]) ++matched;
    if (matched < 4 && matched < have) {
        headerFault = "bytes that do not start a frame";
    } else if (have < viewerFrameHeaderSize) {
        return Result::needMore;
    } else {
        const uint32_t frameLength = get32(p + 4);
        const uint32_t dataLength = get32(p + 40);
        if (dataLength > viewerMaxDataLength) headerFault = "a data block of absurd length";
        else if (frameLength != viewerFrameHeaderSize + dataLength) headerFault = "frame and data lengths disagree";
    }
    if (headerFault) {
        size_t skip = 1;
        while (skip < have) {
            const size_t n = std::min<size_t>(4, have - skip);
            if (std::memcmp(p + skip, magic, n) == 0) break;
            ++skip;
        }
        start_ += skip;
        char text[128];
        std::snprintf(text, sizeof text, "%s: %zu bytes dropped", headerFault, skip);
        error = text;
        return Result::malformed;
    }

    const size_t dataLength = get32(p + 40);
    if (have < viewerFrameHeaderSize + dataLength) return Result::needMore;
    const uint32_t flags = get32(p + 12);
    frame.sequence = get32(p + 8);
    frame.acknowledge = (flags & viewerFlagAcknowledge) != 0;
    ViewerMessage& m = frame.message;
    m.number = get32(p + 16);
    m.wParam = get64(p + 20);
    m.lParam = get64(p + 28);
    m.dataId = get32(p + 36);
    const char* data = reinterpret_cast<const char*>(p + viewerFrameHeaderSize);
    start_ += viewerFrameHeaderSize + dataLength;
    if (const char* fault = contentFault(m.number, flags, m.dataId, data, dataLength)) {
        char text[128];
        std::snprintf(text, sizeof text, "message %u dropped: %s", m.number, fault);
        error = text;
        return Result::malformed;
    }
    m.data.assign(data, dataLength);
    return Result::frame;
}

} // namespace platform
