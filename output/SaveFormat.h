#pragma once
// What a save writes: a PVA, or the same pictures and sound in another container.
#include <string>

enum class SaveFormat {
    byName,   // by the output name's extension, where the settings let it choose
    pva,      // AV packets (also the split saves and the bare video stream)
    ps,       // MPEG-2 program stream for DVD authoring
    ts,       // MPEG transport stream
    mkv,      // Matroska
};

// By the name's extension: .mpg/.vob program stream, .ts/.m2ts transport stream,
// .mkv Matroska, anything else PVA.
SaveFormat saveFormatForName(const std::string& name);
// "pva", "ps", "ts" or "mkv"; false for anything else.
bool parseSaveFormat(const char* text, SaveFormat& format);
// "pva", "ps", "ts" or "mkv" ("pva" for byName).
const char* saveFormatName(SaveFormat format);
// What the format is called in messages: "PVA", "program stream", ...
const char* saveFormatTitle(SaveFormat format);
