#pragma once
// The plan's pictures decoded through media/, handed over as a QImage.
#include "media/PictureDecoder.h"
#include "viewer/PvaVideo.h"

#include <QImage>

#include <functional>
#include <string>
#include <vector>

namespace viewer {

class PictureDecoder {
public:
    // Decodes the plan's units and returns its target picture, converted to RGB and
    // widened or narrowed to its display aspect ratio. Damaged units are decoded as
    // far as the decoder can; `stop` is asked between units.
    bool decode(const DecodePlan& plan, QImage& picture, std::string& error,
                const std::function<bool()>& stop = {});

private:
    media::PictureDecoder decoder_;
    std::vector<media::CodedPicture> coded_;
    media::RgbPicture rgb_;
};

} // namespace viewer
