#pragma once
#include <cstdint>

class LogConsole;

// Finds GOP and picture headers in a block (one packet's bytes, read packet by
// packet through the picture reader) and counts them. logMode 0 writes
// nothing, 1 writes scan-log pieces, 2 one line per picture. Always returns 0.
// Never reads outside data[0 .. length-1]. The picture lines give positions in
// the block plus positionBase (where the block lies in a larger file).
int analysePictures(const uint8_t* data, uint32_t length, int32_t& iCount, int32_t& pictureCounter,
                    int32_t& gopCount, uint8_t& pictureType, uint32_t& gopWord, int logMode,
                    LogConsole& log, uint64_t positionBase = 0);

// Writes " %02d:%02d:%02d.%02d " for the GOP word's time code. Always returns 1.
int formatTimeCode(uint32_t gopWord, LogConsole& log);
