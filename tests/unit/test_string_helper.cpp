#include "StringHelper.h"
#include "support/AllowedSets.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct TrimCase {
    std::string input;
    std::string left;
    std::string right;
    std::string both;
};

const std::vector<TrimCase> TRIM_CASES = {
    {"", "", "", ""},
    {"\r\n", "", "", ""},
    {" \t\n\v\f\r", "", "", ""},
    {"a b", "a b", "a b", "a b"},
    {"  a b  ", "a b  ", "  a b", "a b"},
    {"\ta \t b\r\n", "a \t b\r\n", "\ta \t b", "a \t b"},
    {"x", "x", "x", "x"},
    {" ", "", "", ""},
    {"\x80 a \xFF", "\x80 a \xFF", "\x80 a \xFF", "\x80 a \xFF"},
    {" \xA0 ", "\xA0 ", " \xA0", "\xA0"},
};

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

TEST(Trim, NarrowStringsInPlace) {
    for (const auto& c : TRIM_CASES) {
        SCOPED_TRACE(testing::PrintToString(c.input));
        std::string left = c.input, right = c.input, both = c.input;
        StringHelper::trimLeft(left);
        StringHelper::trimRight(right);
        StringHelper::trimBoth(both);
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(right, c.right);
        EXPECT_EQ(both, c.both);
    }
}

TEST(Trim, WideStringsInPlace) {
    for (const auto& c : TRIM_CASES) {
        if (c.input.find_first_of("\x80\xA0\xFF") != std::string::npos) continue;  // locale-dependent in wide form
        SCOPED_TRACE(testing::PrintToString(c.input));
        std::wstring left = widen(c.input), right = widen(c.input), both = widen(c.input);
        StringHelper::trimLeft(left);
        StringHelper::trimRight(right);
        StringHelper::trimBoth(both);
        EXPECT_EQ(left, widen(c.left));
        EXPECT_EQ(right, widen(c.right));
        EXPECT_EQ(both, widen(c.both));
    }
    std::wstring accented = L" \u00e9\u4e2d ";
    StringHelper::trimBoth(accented);
    EXPECT_EQ(accented, L"\u00e9\u4e2d");
}

// The classifier sees each byte as 0..255, never as a negative char.
TEST(Trim, TemplatesPassUnsignedValuesToTheClassifier) {
    std::string text =
        "\xFF\xFF"
        "a\xFF"
        "b\xFF";
    StringHelper::trimLeft(text, [](int c) { return c == 0xFF ? 1 : 0; });
    EXPECT_EQ(text,
              "a\xFF"
              "b\xFF");
    StringHelper::trimRight(text, [](int c) { return c == 0xFF ? 1 : 0; });
    EXPECT_EQ(text,
              "a\xFF"
              "b");

    std::wstring wide = L"xxaxbxx";
    StringHelper::trimLeft(wide, [](int c) { return c == 'x' ? 1 : 0; });
    StringHelper::trimRight(wide, [](int c) { return c == 'x' ? 1 : 0; });
    EXPECT_EQ(wide, L"axb");
}

TEST(CharToHex, TwoUpperCaseDigitsForEveryByte) {
    EXPECT_STREQ(StringHelper::HEX_CHARACTERS, "0123456789ABCDEF");
    for (int byte = 0; byte < 256; ++byte) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", static_cast<unsigned int>(byte));
        EXPECT_EQ(StringHelper::charToHex(static_cast<char>(byte)), expected);
    }
}

TEST(StringHelper, BuiltInSetConstants) {
    const char* const constants[] = {StringHelper::ALLOWED_CHARACTERS_JS, StringHelper::ALLOWED_CHARACTERS_INTER,
                                     StringHelper::ALLOWED_CHARACTERS_LAX, StringHelper::ALLOWED_CHARACTERS_VERYLAX};
    const int counts[] = {StringHelper::ALLOWED_COUNT_JS, StringHelper::ALLOWED_COUNT_INTER,
                          StringHelper::ALLOWED_COUNT_LAX, StringHelper::ALLOWED_COUNT_VERYLAX};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(constants[i], tw_test::BUILT_IN_SETS[i].allowed);
        EXPECT_EQ(counts[i], static_cast<int>(tw_test::BUILT_IN_SETS[i].allowed.size()));
    }
}

}  // namespace
