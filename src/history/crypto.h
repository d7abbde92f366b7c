#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

inline constexpr std::size_t kAesKeyBytes = 32;
inline constexpr std::size_t kGcmNonceBytes = 12;
inline constexpr std::size_t kGcmTagBytes = 16;

// A 256-bit AES key, wiped from memory when it goes.
struct AesKey {
    std::array<unsigned char, kAesKeyBytes> bytes{};

    AesKey() = default;
    AesKey(const AesKey&) = default;
    AesKey& operator=(const AesKey&) = default;
    ~AesKey();
};

// SHA-256 of `bytes` as 64 lower-case hexadecimal digits.
std::string sha256Hex(std::string_view bytes);

// Cryptographically strong random bytes; nothing when the generator fails.
std::optional<std::string> randomBytes(std::size_t count);
std::optional<AesKey> randomAesKey();

// AES-256-GCM with no associated data, as one combined box: nonce, ciphertext (as long as the
// plaintext), 16-byte tag. The first form draws a fresh random nonce, which must never repeat
// under one key; the second takes the nonce, for known-answer checks. Nothing on failure.
std::optional<std::string> aesGcmSeal(const AesKey& key, std::string_view plaintext);
std::optional<std::string> aesGcmSeal(const AesKey& key,
                                      const std::array<unsigned char, kGcmNonceBytes>& nonce,
                                      std::string_view plaintext);

// Opens a box sealed by aesGcmSeal; nothing when it is too short or fails authentication (a
// changed byte anywhere, another key).
std::optional<std::string> aesGcmOpen(const AesKey& key, std::string_view box);

// Standard Base64 with padding and no line breaks, and back; decoding gives nothing for text
// that is not exactly that.
std::string base64Encode(std::string_view bytes);
std::optional<std::string> base64Decode(std::string_view text);

} // namespace vak
