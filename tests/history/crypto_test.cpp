#include "history/crypto.h"
#include "support/sealed_box.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace vak {
namespace {

std::string fromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return bytes;
}

TEST(Base64, StandardAlphabetWithPadding) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xfb\xff\xbf", 3), "+/+/"},
        {"Many hands make light work.", "TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu"},
    };
    for (const auto& [bytes, expected] : cases) {
        const std::string encoded = base64Encode(bytes);
        EXPECT_EQ(encoded, expected) << bytes;
        EXPECT_EQ(encoded.find('\n'), std::string::npos);
        EXPECT_EQ(test::base64Decode(encoded), bytes);
        EXPECT_EQ(base64Decode(encoded), bytes);
    }
    for (const char* damaged : {"Zg=", "Z===", "Zg=a", "Zm=v", "Zm9v\n", "Zm-v", "Zm9v===="})
        EXPECT_EQ(base64Decode(damaged), std::nullopt) << damaged;
}

// Known answers from the published AES-GCM test vectors (256-bit keys, 96-bit nonces, no
// associated data): the box must be nonce, then ciphertext, then tag, and opens back. Random
// nonces and damaged boxes are covered by the history tests.
TEST(AesGcmSeal, MatchesPublishedVectors) {
    struct Case {
        std::string_view key, nonce, plain, cipherAndTag;
    };
    const Case cases[] = {
        {"0000000000000000000000000000000000000000000000000000000000000000",
         "000000000000000000000000", "", "530f8afbc74536b9a963b4f1c4cb738b"},
        {"0000000000000000000000000000000000000000000000000000000000000000",
         "000000000000000000000000", "00000000000000000000000000000000",
         "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919"},
        {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308",
         "cafebabefacedbaddecaf888",
         "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
         "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255",
         "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
         "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad"
         "b094dac5d93471bdec1a502270e3cc6c"},
    };
    for (const auto& c : cases) {
        AesKey key;
        std::array<unsigned char, kGcmNonceBytes> nonce{};
        std::ranges::copy(fromHex(c.key), key.bytes.begin());
        std::ranges::copy(fromHex(c.nonce), nonce.begin());
        const std::string box = fromHex(std::string(c.nonce) + std::string(c.cipherAndTag));
        EXPECT_EQ(aesGcmSeal(key, nonce, fromHex(c.plain)), box) << c.cipherAndTag;
        EXPECT_EQ(aesGcmOpen(key, box), fromHex(c.plain)) << c.cipherAndTag;
        EXPECT_EQ(aesGcmOpen(key, box.substr(0, 27)), std::nullopt); // shorter than nonce + tag
    }
}

} // namespace
} // namespace vak
