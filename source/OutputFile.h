#pragma once
#include "core/ReplacedFile.h"
#include "source/FileAccess.h"

#include <cstdint>
#include <string>

// One output file of a save, written through one open handle from start to end.
//
// A regular file, a name not taken yet, or a symbolic link to either: the new
// file is written under a temporary name beside its final target (created
// exclusively, with a name nobody can guess, write-through) and put in place by
// commit() only when it is complete, so that a failure or a cancel leaves an
// earlier file of that name as it was. A link is written through: its final
// target gets the new file and the link stays. A device or a pipe is written
// directly, as a stream, and is never removed or replaced.
class OutputFile {
public:
    enum class Opened {
        ok,
        directory,   // the name is a directory: nothing to replace it with
        noReader,    // a pipe without a reader yet; open() may be tried again
        failed,
    };

    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Looks at what `path` names and opens what is to be written. Any output
    // still open is discarded first.
    Opened open(const char* path);
    FileHandle handle() const { return handle_; }
    bool isOpen() const { return handle_ != nullptr || file_.isOpen(); }
    // The name is a device or a pipe (also when the last open() could not open it).
    bool isStream() const { return stream_; }
    // The file that receives the output: the path, or the final target of a link.
    const std::string& target() const { return target_; }
    const std::string& temporaryName() const { return file_.temporaryName(); }
    // The unfinished file is still the one this object writes, where it was made.
    bool intact() const { return stream_ || file_.intact(); }

    // Puts the complete file in place; a replaced file's permission bits (and,
    // where the system allows, its owner) carry over. A stream is just closed.
    // False when the file could not be put in place: the temporary file is then
    // removed and an earlier file of the name is left as it was.
    bool commit();
    // Drops an unfinished file: the temporary file is removed, an earlier file of
    // the name stays. A stream is closed (what was written to it stays written).
    void discard();
    // A complete file that waits to be put in place together with others: its
    // handle is given up (see ReplacedFile::park). Streams are not parked.
    void park();

private:
    Opened openTemporary();
    Opened openStream(const char* path);
    void close();

    FileHandle handle_ = nullptr;
    bool stream_ = false;
    std::string target_;
    ReplacedFile file_;
};
