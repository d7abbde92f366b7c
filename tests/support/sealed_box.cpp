#include "support/sealed_box.h"

#include "history/crypto.h"

#include <algorithm>

namespace vak::test {

std::optional<std::string> openHistoryLine(std::string_view key, std::string_view line) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos || key.size() != kAesKeyBytes || !line.ends_with('\n'))
        return std::nullopt;
    const auto box = base64Decode(line.substr(tab + 1, line.size() - tab - 2));
    if (!box) return std::nullopt;
    AesKey aes;
    std::ranges::copy(key, aes.bytes.begin());
    return aesGcmOpen(aes, *box);
}

} // namespace vak::test
