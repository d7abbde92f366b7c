#pragma once

#include <optional>
#include <string>

namespace vak {

enum class Digest { Sha1, Sha256 };

// The digest of a whole file, streamed, as lower-case hexadecimal; nothing when it cannot be
// read.
std::optional<std::string> fileDigestHex(const std::string& path, Digest digest);

} // namespace vak
