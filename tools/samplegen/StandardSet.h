#pragma once
#include <string>

namespace samplegen {

// Makes the standard sample recordings in dir (encodes cached in encodeDir),
// skipping every file whose parameters have not changed. 0 on success.
int makeStandardSet(const std::string& dir, const std::string& encodeDir);

} // namespace samplegen
