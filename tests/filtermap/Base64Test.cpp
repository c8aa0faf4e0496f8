// Base64 of image text: line rule, padding and the lenient decoder.
#include "filtermap/Base64.h"

#include <gtest/gtest.h>

TEST(Base64, KnownVectors)
{
    const std::string in = "Man is";
    EXPECT_EQ(kfx::base64Encode(reinterpret_cast<const std::uint8_t*>(in.data()), 6), "TWFuIGlz");
    EXPECT_EQ(kfx::base64Encode(reinterpret_cast<const std::uint8_t*>(in.data()), 5), "TWFuIGk=");
    EXPECT_EQ(kfx::base64Encode(reinterpret_cast<const std::uint8_t*>(in.data()), 4), "TWFuIA==");
    EXPECT_EQ(kfx::base64Encode(nullptr, 0), "");
    const std::uint8_t all[3] = {0xFB, 0xFF, 0xBF};
    EXPECT_EQ(kfx::base64Encode(all, 3), "+/+/");
}

TEST(Base64, LineBreakAfterEvery76Characters)
{
    std::vector<std::uint8_t> bytes(58, 0);
    const std::string at57 = kfx::base64Encode(bytes.data(), 57);
    EXPECT_EQ(at57.size(), 78u);
    EXPECT_EQ(at57.substr(76), "\r\n");
    const std::string at58 = kfx::base64Encode(bytes.data(), 58);
    EXPECT_EQ(at58, std::string(76, 'A') + "\r\n" + "AA==");
    // 56 bytes: 76 characters including the padding, so the break still follows.
    EXPECT_EQ(kfx::base64Encode(bytes.data(), 56), std::string(75, 'A') + "=\r\n");
    std::vector<std::uint8_t> big(1000, 7);
    const std::string text = kfx::base64Encode(big.data(), big.size());
    for (std::size_t pos = 0; pos < text.size(); pos += 78) {
        const std::size_t end = text.find("\r\n", pos);
        EXPECT_TRUE(end == std::string::npos ? text.size() - pos <= 76 : end - pos == 76);
    }
}

TEST(Base64, DecoderSkipsForeignCharactersAndStopsAtPadding)
{
    std::vector<std::uint8_t> bytes(200);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 7 + 3);
    for (std::size_t n : {0u, 1u, 2u, 3u, 57u, 58u, 59u, 200u}) {
        const std::string text = kfx::base64Encode(bytes.data(), n);
        EXPECT_EQ(kfx::base64Decode(text),
                  std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)))
            << n;
        std::string noisy;
        for (char c : text)
            noisy += std::string(" \r\n*") + c;
        EXPECT_EQ(kfx::base64Decode(noisy), kfx::base64Decode(text)) << n;
    }
    EXPECT_EQ(kfx::base64Decode("TWFu=TWFu"), (std::vector<std::uint8_t>{'M', 'a', 'n'}));
    EXPECT_EQ(kfx::base64Decode("TWF"), (std::vector<std::uint8_t>{'M', 'a'}));
    EXPECT_EQ(kfx::base64Decode("TW"), (std::vector<std::uint8_t>{'M'}));
    EXPECT_TRUE(kfx::base64Decode("T").empty());
}
