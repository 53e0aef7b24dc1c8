#include "viewer/PictureDecoder.h"

#include <cstring>

namespace viewer {

bool PictureDecoder::decode(const DecodePlan& plan, QImage& picture, std::string& error,
                            const std::function<bool()>& stop)
{
    coded_.clear();
    for (const AccessUnit& unit : plan.units) coded_.push_back({unit.bytes.data(), unit.bytes.size()});
    if (!decoder_.decode(coded_, plan.target, plan.position, rgb_, error, stop)) return false;
    QImage out(rgb_.width, rgb_.height, QImage::Format_RGB32);
    if (out.isNull()) {
        error = "Cannot convert the picture";
        return false;
    }
    const size_t row = static_cast<size_t>(rgb_.width) * 4;
    for (int y = 0; y < rgb_.height; ++y)
        std::memcpy(out.scanLine(y), rgb_.pixels.data() + static_cast<size_t>(y) * rgb_.stride, row);
    picture = out;
    return true;
}

} // namespace viewer
