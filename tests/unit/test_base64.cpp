#include "base64.h"
#include "support/Messages.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::string STANDARD = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const std::string URL_SAFE = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (const int value : values) text.push_back(static_cast<char>(value));
    return text;
}

std::string randomBytes(std::mt19937& random, std::size_t length) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text(length, '\0');
    for (auto& c : text) c = static_cast<char>(byte(random) < 32 ? 0 : byte(random));  // plenty of zero bytes
    return text;
}

// The decoder's message, or "<no error>" when it accepted the input.
std::string decodeError(std::string_view encoded, bool stripNewlines) {
    try {
        base64_decode(encoded, stripNewlines);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "<no error>";
}

// Lines of exactly lineLength characters but the last (1..lineLength),
// one line feed between them, and the unbroken text once they are joined.
void expectBrokenLines(const std::string& broken, const std::string& unbroken, std::size_t lineLength) {
    std::string joined;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = broken.find('\n', start);
        const std::string line = broken.substr(start, end == std::string::npos ? std::string::npos : end - start);
        joined += line;
        if (end == std::string::npos) {
            EXPECT_TRUE(broken.empty() || (!line.empty() && line.size() <= lineLength)) << broken;
            break;
        }
        EXPECT_EQ(line.size(), lineLength);
        start = end + 1;
    }
    EXPECT_EQ(joined, unbroken);
}

TEST(Base64Encode, KnownVectorsForBothAlphabetsThroughEveryOverload) {
    struct Case {
        std::string input;
        const char* standard;
        const char* urlSafe;
    };
    const std::vector<Case> cases = {
        {"", "", ""},
        {"A", "QQ==", "QQ.."},
        {"AB", "QUI=", "QUI."},
        {"ABC", "QUJD", "QUJD"},
        {"ABCD", "QUJDRA==", "QUJDRA.."},
        {bytes({0xFB, 0xFF, 0xBF}), "+/+/", "-_-_"},
        {bytes({0xFB, 0xFF}), "+/8=", "-_8."},
        {bytes({0xFF}), "/w==", "_w.."},
        {std::string(3, '\0'), "AAAA", "AAAA"},
        {bytes({'H', 0, 'i', 0}), "SABpAA==", "SABpAA.."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.standard);
        const auto* raw = reinterpret_cast<const unsigned char*>(c.input.data());
        const auto length = static_cast<unsigned int>(c.input.size());
        for (const bool urlSafe : {false, true}) {
            const std::string expected = urlSafe ? c.urlSafe : c.standard;
            EXPECT_EQ(base64_encode(c.input, urlSafe), expected);
            EXPECT_EQ(base64_encode(std::string_view(c.input), urlSafe), expected);
            EXPECT_EQ(base64_encode(raw, length, urlSafe), expected);
        }
        EXPECT_EQ(base64_encode(c.input), c.standard);
    }
}

// 48 bytes whose 64 sextets are 0..63 encode to the alphabet itself.
TEST(Base64Encode, EverySextetMapsToItsAlphabetCharacter) {
    std::string packed;
    unsigned int bits = 0;
    int pending = 0;
    for (unsigned int sextet = 0; sextet < 64; ++sextet) {
        bits = (bits << 6) | sextet;
        pending += 6;
        while (pending >= 8) {
            pending -= 8;
            packed.push_back(static_cast<char>((bits >> pending) & 0xFF));
        }
    }
    EXPECT_EQ(base64_encode(packed, false), STANDARD);
    EXPECT_EQ(base64_encode(packed, true), URL_SAFE);
    EXPECT_EQ(base64_decode(STANDARD), packed);
    EXPECT_EQ(base64_decode(URL_SAFE), packed);
}

TEST(Base64Encode, PemAndMimeBreakLinesWithoutTrailingLineFeed) {
    struct Case {
        std::size_t inputLength;
        std::size_t lineLength;
        std::size_t outputLength;
    };
    const std::vector<Case> cases = {{0, 64, 0},    {48, 64, 64}, {49, 64, 69}, {96, 64, 129},
                                     {97, 64, 134}, {57, 76, 76}, {58, 76, 81}, {114, 76, 153}};
    std::mt19937 random(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inputLength << " bytes, lines of " << c.lineLength);
        const std::string input = randomBytes(random, c.inputLength);
        const bool pem = c.lineLength == 64;
        const std::string broken = pem ? base64_encode_pem(input) : base64_encode_mime(input);
        const std::string fromView =
            pem ? base64_encode_pem(std::string_view(input)) : base64_encode_mime(std::string_view(input));
        EXPECT_EQ(broken.size(), c.outputLength);
        EXPECT_EQ(fromView, broken);
        expectBrokenLines(broken, base64_encode(input), c.lineLength);
    }
}

TEST(Base64Decode, LenientVectors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"QQ", "A"},
        {"QUI", "AB"},
        {"QUJD", "ABC"},
        {"QQ==", "A"},
        {"QQ..", "A"},
        {"QQ=.", "A"},
        {"QQ=", "A"},
        {"QUJ=", "AB"},
        {"QUJ.", "AB"},
        {"QQ==QUJD", "AABC"},
        {"QUI=QUI=", "ABAB"},
        {"QQ=!", "A"},
        {"QU=D", "A"},
        {"QR==", "A"},
        {"QUJDQQ", "ABCA"},
        {"-_-_", bytes({0xFB, 0xFF, 0xBF})},
        {"+/+/", bytes({0xFB, 0xFF, 0xBF})},
        {"+_-/", bytes({0xFB, 0xFF, 0xBF})},
        {"AAAA", std::string(3, '\0')},
    };
    for (const auto& [encoded, expected] : cases) {
        SCOPED_TRACE(encoded);
        for (const bool strip : {false, true}) {
            EXPECT_EQ(base64_decode(encoded, strip), expected);
            EXPECT_EQ(base64_decode(std::string_view(encoded), strip), expected);
        }
    }
}

TEST(Base64Decode, RejectsPaddingInFrontLeftoverCharactersAndForeignBytes) {
    const std::vector<std::string> invalid = {"Q",
                                              "QUJDQ",
                                              "QUJD=",
                                              "QUJD==",
                                              "=QQQ",
                                              "Q=QQ",
                                              ".QQQ",
                                              "Q.QQ",
                                              "QUI!",
                                              " QQ==",
                                              "Q Q=",
                                              "QQ\t=",
                                              "QUJD\r",
                                              "QUJD\r\nQUJD",
                                              std::string("QU\0D", 4),
                                              "QU\x80"
                                              "D",
                                              "QUJD\xFF"};
    for (const auto& encoded : invalid) {
        SCOPED_TRACE(testing::PrintToString(encoded));
        for (const bool strip : {false, true}) {
            EXPECT_EQ(decodeError(encoded, strip), tw_test::BAD_BASE64);
            EXPECT_THROW(base64_decode(encoded, strip), std::runtime_error);  // the std::string overload
        }
    }
}

TEST(Base64Decode, LineFeedsAreRemovedOnlyWhenAsked) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\n", ""}, {"\n\n\n", ""}, {"QUJD\nQUJD", "ABCABC"}, {"QQ==\n", "A"}, {"Q\nQ\n=\n=", "A"}};
    for (const auto& [encoded, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(encoded));
        EXPECT_EQ(base64_decode(encoded, true), expected);
        EXPECT_EQ(decodeError(encoded, false), tw_test::BAD_BASE64);
    }
}

// Long texts take the same rules at every position, not only near the end.
TEST(Base64Decode, RulesHoldInsideLongTexts) {
    std::mt19937 random(9);
    const std::string input = randomBytes(random, 30000);
    const std::string encoded = base64_encode(input);
    for (const std::size_t group : {0u, 1u, 1023u, 4095u, 4096u, 4097u, 9999u}) {
        SCOPED_TRACE(group);
        const std::size_t at = 4 * group;
        const std::string padded = encoded.substr(0, at) + "QQ==" + encoded.substr(at);
        EXPECT_EQ(base64_decode(padded), input.substr(0, 3 * group) + "A" + input.substr(3 * group));
        for (std::size_t offset = 0; offset < 4; ++offset) {
            std::string broken = encoded;
            broken[at + offset] = '!';
            EXPECT_EQ(decodeError(broken, true), tw_test::BAD_BASE64);
            broken[at + offset] = '\n';
            EXPECT_EQ(decodeError(broken, false), tw_test::BAD_BASE64);
            if (offset < 2) {
                broken[at + offset] = '=';
                EXPECT_EQ(decodeError(broken, false), tw_test::BAD_BASE64);
            }
        }
    }
    EXPECT_EQ(decodeError(encoded + "Q", false), tw_test::BAD_BASE64);
}

TEST(Base64RoundTrip, RandomBytesThroughEveryEncoder) {
    std::mt19937 random(42);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 200; ++length) lengths.push_back(length);
    std::uniform_int_distribution<std::size_t> longer(201, 4096);
    for (int i = 0; i < 60; ++i) lengths.push_back(longer(random));
    std::uniform_int_distribution<std::size_t> veryLong(4097, 60000);
    for (int i = 0; i < 6; ++i) lengths.push_back(veryLong(random));
    for (const std::size_t around : {12288u, 24576u, 49152u}) {
        for (std::size_t length = around - 2; length <= around + 2; ++length) lengths.push_back(length);
    }

    for (const std::size_t length : lengths) {
        SCOPED_TRACE(testing::Message() << length << " bytes");
        const std::string input = randomBytes(random, length);
        const std::string standard = base64_encode(input, false);
        const std::string urlSafe = base64_encode(input, true);
        EXPECT_EQ(standard.find_first_not_of(STANDARD + "="), std::string::npos);
        EXPECT_EQ(urlSafe.find_first_not_of(URL_SAFE + "."), std::string::npos);
        for (const bool strip : {false, true}) {
            EXPECT_EQ(base64_decode(standard, strip), input);
            EXPECT_EQ(base64_decode(urlSafe, strip), input);
        }
        const std::string pem = base64_encode_pem(input);
        const std::string mime = base64_encode_mime(input);
        expectBrokenLines(pem, standard, 64);
        expectBrokenLines(mime, standard, 76);
        EXPECT_EQ(base64_decode(pem, true), input);
        EXPECT_EQ(base64_decode(mime, true), input);
        EXPECT_EQ(decodeError(pem, false) == "<no error>", length <= 48);
        EXPECT_EQ(decodeError(mime, false) == "<no error>", length <= 57);
    }
}

}  // namespace
