#include "history/crypto.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace vak {

namespace {

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

const unsigned char* asBytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

} // namespace

AesKey::~AesKey() {
    OPENSSL_cleanse(bytes.data(), bytes.size());
}

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0f];
    }
    return hex;
}

std::optional<std::string> randomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    if (count > static_cast<std::size_t>(INT_MAX) ||
        RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1)
        return std::nullopt;
    return bytes;
}

std::optional<AesKey> randomAesKey() {
    AesKey key;
    if (RAND_bytes(key.bytes.data(), static_cast<int>(key.bytes.size())) != 1) return std::nullopt;
    return key;
}

std::optional<std::string> aesGcmSeal(const AesKey& key, std::string_view plaintext) {
    std::array<unsigned char, kGcmNonceBytes> nonce{};
    if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1) return std::nullopt;
    return aesGcmSeal(key, nonce, plaintext);
}

std::optional<std::string> aesGcmSeal(const AesKey& key,
                                      const std::array<unsigned char, kGcmNonceBytes>& nonce,
                                      std::string_view plaintext) {
    if (plaintext.size() > static_cast<std::size_t>(INT_MAX) - 64) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context) return std::nullopt;
    // 12 bytes is GCM's default nonce length, so no length control is needed.
    if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(),
                           nonce.data()) != 1)
        return std::nullopt;

    std::string box(kGcmNonceBytes + plaintext.size() + kGcmTagBytes, '\0');
    auto* out = reinterpret_cast<unsigned char*>(box.data());
    std::copy(nonce.begin(), nonce.end(), out);
    unsigned char* cipher = out + kGcmNonceBytes;
    int written = 0;
    if (!plaintext.empty() && EVP_EncryptUpdate(context.get(), cipher, &written, asBytes(plaintext),
                                                static_cast<int>(plaintext.size())) != 1)
        return std::nullopt;
    int finalWritten = 0;
    if (EVP_EncryptFinal_ex(context.get(), cipher + written, &finalWritten) != 1)
        return std::nullopt;
    if (static_cast<std::size_t>(written + finalWritten) != plaintext.size()) return std::nullopt;
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kGcmTagBytes),
                            cipher + plaintext.size()) != 1)
        return std::nullopt;
    return box;
}

std::string base64Encode(std::string_view bytes) {
    if (bytes.empty()) return {};
    std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    // EVP_EncodeBlock takes an int length, so large inputs go in whole 3-byte groups.
    constexpr std::size_t kPiece = 3 * (1u << 20);
    std::size_t produced = 0;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kPiece) {
        const std::size_t length = std::min(kPiece, bytes.size() - offset);
        produced += static_cast<std::size_t>(
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()) + produced,
                            asBytes(bytes.substr(offset, length)), static_cast<int>(length)));
    }
    encoded.resize(produced);
    return encoded;
}

std::optional<std::string> aesGcmOpen(const AesKey& key, std::string_view box) {
    if (box.size() < kGcmNonceBytes + kGcmTagBytes ||
        box.size() > static_cast<std::size_t>(INT_MAX) - 64)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context) return std::nullopt;
    const unsigned char* bytes = asBytes(box);
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.bytes.data(), bytes) != 1)
        return std::nullopt;
    const std::size_t length = box.size() - kGcmNonceBytes - kGcmTagBytes;
    std::string plain(length, '\0');
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    int written = 0;
    if (length > 0 && EVP_DecryptUpdate(context.get(), out, &written, bytes + kGcmNonceBytes,
                                        static_cast<int>(length)) != 1)
        return std::nullopt;
    std::array<unsigned char, kGcmTagBytes> tag{};
    std::copy(bytes + kGcmNonceBytes + length, bytes + box.size(), tag.begin());
    int finalWritten = 0;
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kGcmTagBytes),
                            tag.data()) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out + written, &finalWritten) != 1) {
        OPENSSL_cleanse(plain.data(), plain.size());
        return std::nullopt;
    }
    return plain;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool padding =
            c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text.back() == '=');
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && !padding)
            return std::nullopt;
    }
    std::string bytes(text.size() / 4 * 3, '\0');
    std::size_t produced = 0;
    constexpr std::size_t kPiece = 4 * (1u << 20);
    for (std::size_t offset = 0; offset < text.size(); offset += kPiece) {
        const std::size_t length = std::min(kPiece, text.size() - offset);
        const int n =
            EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()) + produced,
                            asBytes(text.substr(offset, length)), static_cast<int>(length));
        if (n < 0) return std::nullopt;
        produced += static_cast<std::size_t>(n);
    }
    // EVP_DecodeBlock counts the padding as zero bytes.
    produced -= static_cast<std::size_t>(
        std::count(text.end() - std::min<std::size_t>(text.size(), 2), text.end(), '='));
    bytes.resize(produced);
    return bytes;
}

} // namespace vak
