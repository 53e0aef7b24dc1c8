#include "Encoder.h"

#include "OutputFiles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace samplegen {

namespace {

// Broadcast-like MPEG-2: GOPs of 12 with 2 B pictures, open GOPs (ffmpeg's default),
// no extra I pictures at scene changes, about 5 Mbit/s.
std::string codingOptions(const EncodeSpec& spec)
{
    std::string flags;
    if (spec.closedGop) flags += "+cgop";
    if (spec.interlaced) flags += "+ilme+ildct";
    if (flags.empty()) return "";
    return " -flags " + flags + (spec.interlaced ? " -top 1" : "");
}

std::string videoArguments(const EncodeSpec& spec)
{
    if (spec.small)
        return "-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v " + std::to_string(spec.pictures) +
               " -an -c:v mpeg2video -pix_fmt yuv420p -q:v 31 -g 12 -bf 2 -sc_threshold 1000000000 -threads 2" +
               codingOptions(spec) + " -f mpeg2video";
    return "-f lavfi -i testsrc2=size=720x576:rate=25 -frames:v " + std::to_string(spec.pictures) +
           " -an -c:v mpeg2video -pix_fmt yuv420p -b:v 5000k -minrate 4000k -maxrate 6000k -bufsize 1835008"
           " -g 12 -bf 2 -sc_threshold 1000000000 -threads 2" + codingOptions(spec) + " -f mpeg2video";
}

std::string audioArguments(const EncodeSpec& spec)
{
    if (spec.small)
        return "-f lavfi -i " +
               quoteForShell("aevalsrc=0.3*sin(2*PI*440*t):s=48000:d=" + std::to_string(spec.audioSeconds)) +
               " -c:a mp2 -b:a 32k -ac 1 -ar 48000 -f mp2";
    return "-f lavfi -i " +
           quoteForShell("aevalsrc=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=48000:d=" +
                         std::to_string(spec.audioSeconds)) +
           " -c:a mp2 -b:a 192k -ac 2 -ar 48000 -f mp2";
}

bool runFfmpeg(const std::string& arguments, const std::string& path, std::string& error)
{
    const std::string tmp = temporaryName(path);
    const std::string command = "ffmpeg -nostdin -v error -y " + arguments + " " + quoteForShell(tmp);
    const int rc = std::system(command.c_str());
    std::error_code ec;
    if (rc != 0 || !fs::exists(tmp, ec) || fs::file_size(tmp, ec) == 0) {
        fs::remove(tmp, ec);
        error = "ffmpeg failed: " + command;
        return false;
    }
    if (!commitFile(tmp, path)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace

EncodedFiles encodedFiles(const std::string& dir, const EncodeSpec& spec)
{
    const std::string v = videoArguments(spec), a = audioArguments(spec);
    EncodedFiles f;
    f.video = dir + "/encode-" + hashText(v) + ".m2v";
    f.audio = dir + "/encode-" + hashText(a) + ".mp2";
    f.key = hashText(v + "\n" + a);
    return f;
}

bool ensureEncoded(const std::string& dir, const EncodeSpec& spec, EncodedFiles& files, std::string& error)
{
    files = encodedFiles(dir, spec);
    std::error_code ec;
    if (!fs::exists(files.video, ec)) {
        std::fprintf(stderr, "encoding %d pictures of video\n", spec.pictures);
        if (!runFfmpeg(videoArguments(spec), files.video, error)) return false;
    }
    if (!fs::exists(files.audio, ec)) {
        std::fprintf(stderr, "encoding %d s of audio\n", spec.audioSeconds);
        if (!runFfmpeg(audioArguments(spec), files.audio, error)) return false;
    }
    return true;
}

} // namespace samplegen
