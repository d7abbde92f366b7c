#include "base/file_digest.h"

#include "base/files.h"

#include <cerrno>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

namespace vak {

std::optional<std::string> fileDigestHex(const std::string& path, Digest digest) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context ||
        EVP_DigestInit_ex(context.get(), digest == Digest::Sha1 ? EVP_sha1() : EVP_sha256(),
                          nullptr) != 1)
        return std::nullopt;
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n)) != 1)
            return std::nullopt;
    }
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), value, &length) != 1) return std::nullopt;
    static const char* const kHex = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[value[i] >> 4];
        hex += kHex[value[i] & 15];
    }
    return hex;
}

} // namespace vak
