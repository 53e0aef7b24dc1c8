#pragma once
// A file written anew without losing the one it replaces: the new contents go to
// a temporary name beside the target (created exclusively, with a name nobody can
// guess, locked for as long as it is written) and take the target's name only
// when complete. The outputs of a save, the settings file and the scan log are
// written this way.
#include <cstdint>
#include <string>

// What writing `path` anew means. `target` receives the name that the new file
// takes: the path itself, the final target of a symbolic link to a regular file
// (a link is written through: it stays, its target gets the new file), or the
// name a chain of links ends at when nobody has taken it yet.
enum class ReplacementKind {
    file,        // a regular file or a name not taken: written under a temporary name
    directory,   // nothing to replace it with
    stream,      // a device or a pipe: written as it is, never removed or replaced
    failed,
};
ReplacementKind replacementTarget(const char* path, std::string& target);

class ReplacedFile {
public:
    ReplacedFile() = default;
    ~ReplacedFile() { discard(); }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    // Creates the temporary file for `target` (a name from replacementTarget).
    // Unfinished temporary files of that target left by saves that were killed
    // (no longer locked by anyone) are removed first. writeThrough: each write is
    // on the disk when it returns.
    bool create(const std::string& target, bool writeThrough);
    bool isOpen() const { return fd_ >= 0 || parked_; }
    int fd() const { return fd_; }
    const std::string& target() const { return target_; }
    // The temporary file's path.
    const std::string& temporaryName() const { return temporaryPath_; }
    // True while the temporary name still holds the file this object writes, in
    // the directory that the target's directory still names.
    bool intact() const;

    // Puts the complete file in place; a replaced file's permission bits (and,
    // where the system allows, its owner) carry over. False when it could not be
    // put in place: the temporary file is then removed (also from a directory
    // moved away meanwhile) and an earlier file of the name is left as it was.
    bool commit();
    // Drops an unfinished file: the temporary file is removed, an earlier file of
    // the name stays.
    void discard();
    // A complete file that waits for others to be complete: its descriptors are
    // closed (and its lock given up) so that a save of many parts does not run out
    // of them. commit() and discard() still work, by the directory's name.
    void park();

private:
    void close();
    bool reopenDirectory() const;

    int fd_ = -1;
    // Opened again on demand for a parked file.
    mutable int directory_ = -1;
    std::string target_;
    std::string directoryPath_;
    std::string temporaryBase_;
    std::string temporaryPath_;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    bool parked_ = false;
    uint64_t directoryDevice_ = 0;
    uint64_t directoryInode_ = 0;
};

// Removes the temporary files of `target` that nobody writes any more (what a
// killed save leaves behind). Returns how many were removed.
int removeStaleTemporaries(const std::string& target);

// Writes `text` as the whole new contents of `path`: beside it under a temporary
// name, put in its place when complete (a link is written through). False, with
// the earlier file as it was, when that could not be done.
bool replaceFileContents(const char* path, const std::string& text);

// Reads a regular file of at most `limit` bytes whole (one that shrinks meanwhile
// as far as it goes), opened without waiting for the other end of a pipe: a pipe
// or a device could block or never end. 1 when read; 0 when it can't be opened;
// -1 when it is not read, `why` saying why ("it is a directory", ...).
int readRegularFile(const char* path, uint64_t limit, std::string& text, std::string& why);
