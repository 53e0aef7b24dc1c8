#include "source/PictureAnalysis.h"

#include "core/LogConsole.h"
#include "source/VideoPictures.h"

int analysePictures(const uint8_t* data, uint32_t length, int32_t& iCount, int32_t& pictureCounter,
                    int32_t& gopCount, uint8_t& pictureType, uint32_t& gopWord, int logMode,
                    LogConsole& log, uint64_t positionBase)
{
    pictureType = 0;
    const bool logging = logMode == 1 || logMode == 2;
    forEachHeaderInBlock(
        data, length,
        [&](uint32_t, const GopHeader& gop) {
            gopWord = gop.word;
            if (logging) {
                log.write(" GOP: ", 1);
                formatTimeCode(gopWord, log);
            }
            ++gopCount;
        },
        [&](uint32_t p, const PictureHeader& picture) {
            pictureType = picture.codingType;
            if (logging) {
                log.writef(" Fr:%llu: %x %x   ->%x", static_cast<unsigned long long>(positionBase + p),
                           static_cast<unsigned>(data[p + 4]), static_cast<unsigned>(data[p + 5]),
                           static_cast<unsigned>(pictureType));
                if (logMode == 2) log.write("\n", 1);
            }
            if (pictureType == pictureTypeI) ++iCount;
            ++pictureCounter;
        });
    return 0;
}

int formatTimeCode(uint32_t gopWord, LogConsole& log)
{
    const int hours = static_cast<int>((gopWord >> 26) & 0x1F);
    const int minutes = static_cast<int>((gopWord >> 20) & 0x3F);
    const int seconds = static_cast<int>((gopWord >> 13) & 0x3F);
    const int pictures = static_cast<int>((gopWord >> 7) & 0x3F);
    log.writef(" %02d:%02d:%02d.%02d ", hours, minutes, seconds, pictures);
    return 1;
}
