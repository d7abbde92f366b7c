#include "support/sealed_box.h"

#include <memory>

#include <openssl/evp.h>

namespace vak::test {

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    if (text.empty()) return std::string();
    std::string bytes(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t padding = 0;
    if (text.back() == '=') ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
    bytes.resize(static_cast<std::size_t>(n) - padding);
    return bytes;
}

std::optional<std::string> openSealedBox(std::string_view key, std::string_view box) {
    constexpr std::size_t kNonce = 12;
    constexpr std::size_t kTag = 16;
    if (key.size() != 32 || box.size() < kNonce + kTag) return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(box.data());
    const std::size_t cipherLength = box.size() - kNonce - kTag;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()), bytes) != 1)
        return std::nullopt;
    std::string plain(cipherLength, '\0');
    int written = 0;
    if (cipherLength > 0 &&
        EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char*>(plain.data()), &written,
                          bytes + kNonce, static_cast<int>(cipherLength)) != 1)
        return std::nullopt;
    std::string tag(box.substr(kNonce + cipherLength));
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTag),
                            tag.data()) != 1)
        return std::nullopt;
    int finalWritten = 0;
    if (EVP_DecryptFinal_ex(context.get(), reinterpret_cast<unsigned char*>(plain.data()) + written,
                            &finalWritten) != 1)
        return std::nullopt;
    return plain;
}

std::optional<std::string> openHistoryLine(std::string_view key, std::string_view line) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos || line.empty() || line.back() != '\n') return std::nullopt;
    const auto box = base64Decode(line.substr(tab + 1, line.size() - tab - 2));
    if (!box) return std::nullopt;
    return openSealedBox(key, *box);
}

} // namespace vak::test
