#pragma once
// Pieces of a file name, taken apart at its slashes and dots (POSIX names as bytes).
#include <string>

// The directory part: "." for a bare name, "/" for a name right under the root.
std::string directoryOf(const std::string& path);
// The part after the last slash.
std::string baseNameOf(const std::string& path);
// The extension of the base name from its last dot, in lower case (".ts"); empty
// when the base name has no dot.
std::string lowerExtension(const std::string& path);
