#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vak::test {

// Standard Base64 (with padding) back to bytes; nothing when it is not well-formed.
std::optional<std::string> base64Decode(std::string_view text);

// Opens an AES-256-GCM box laid out as 12-byte nonce, ciphertext, 16-byte tag, written here
// from the layout rather than shared with the code under test. Nothing when the key is not 32
// bytes or authentication fails.
std::optional<std::string> openSealedBox(std::string_view key, std::string_view box);

// Opens one history line (time, tab, Base64 box, line break) and returns the plaintext.
std::optional<std::string> openHistoryLine(std::string_view key, std::string_view line);

} // namespace vak::test
