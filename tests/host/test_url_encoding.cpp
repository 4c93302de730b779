// The percent-encoding exports: the built-in sets, the caller's set and large texts, against a byte-by-byte reference.
#include "support/AllowedSets.h"
#include "support/Host.h"
#include "support/ReferenceEncoding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using tw_test::Host;

using tw_test::BuiltInSet;
const std::vector<BuiltInSet>& BUILT_INS = tw_test::BUILT_IN_SETS;

std::string encode(const char* exportName, const char* text) {
    return Host::instance().take(Host::instance().fn<decltype(TwUrlEncodeJS)>(exportName)(text));
}

std::string encodeStyle(const char* text, int style) {
    return Host::instance().take(Host::instance().api().escapeUrlStyle(text, style));
}

std::string encodeCustom(const char* text, const char* allowed, int count) {
    return Host::instance().take(Host::instance().api().escapeUrlStyleAllowedCharacters(text, allowed, count));
}

using tw_test::referencePercentEncode;

std::string everyNonZeroByte() {
    std::string text;
    for (int byte = 1; byte < 256; ++byte) text.push_back(static_cast<char>(byte));
    return text;
}

// Every byte value 1..255 (a zero byte cannot reach a C string) in one call
// per entry point; all of them must agree with the stored set.
TEST(UrlEncoding, BuiltInSetsOverEveryByteValue) {
    const std::string text = everyNonZeroByte();
    for (const auto& set : BUILT_INS) {
        SCOPED_TRACE(set.exportName);
        const std::string expected = referencePercentEncode(text, set.allowed);
        EXPECT_EQ(encode(set.exportName, text.c_str()), expected);
        EXPECT_EQ(encodeStyle(text.c_str(), set.style), expected);
        EXPECT_EQ(encodeCustom(text.c_str(), set.allowed.c_str(), static_cast<int>(set.allowed.size())), expected);
    }
}

TEST(UrlEncoding, SelectorOutsideTheRangeActsAsInter) {
    const std::string text = everyNonZeroByte();
    const std::string inter = encode("TwUrlEncodeInter", text.c_str());
    for (const int style : {1, 4, 7, 100, -1, INT_MIN, INT_MAX})
        EXPECT_EQ(encodeStyle(text.c_str(), style), inter) << style;
}

TEST(UrlEncoding, ExamplesInEveryBuiltInMode) {
    struct Case {
        std::string input;
        std::vector<const char*> byStyle;  // JS, Inter, Lax, VeryLax
    };
    const std::vector<Case> cases = {
        {"", {"", "", "", ""}},
        {"a b", {"a%20b", "a%20b", "a%20b", "a%20b"}},
        {"100%", {"100%25", "100%25", "100%25", "100%25"}},
        {"%20", {"%2520", "%2520", "%2520", "%2520"}},
        {"\xC3\xA9", {"%C3%A9", "%C3%A9", "%C3%A9", "%C3%A9"}},
        {"\xAB\xFF\x80", {"%AB%FF%80", "%AB%FF%80", "%AB%FF%80", "%AB%FF%80"}},
        {"a\tb\x7F", {"a%09b%7F", "a%09b%7F", "a%09b%7F", "a%09b%7F"}},
        {"a+b=c&d", {"a%2Bb%3Dc%26d", "a%2Bb%3Dc%26d", "a%2Bb%3Dc%26d", "a+b=c%26d"}},
        {"/path:x?y#z", {"%2Fpath%3Ax%3Fy%23z", "/path%3Ax%3Fy%23z", "/path:x%3Fy%23z", "/path:x?y#z"}},
        {"<tag>", {"%3Ctag%3E", "%3Ctag%3E", "<tag>", "<tag>"}},
        {"\"", {"%22", "\"", "\"", "\""}},
        {"x~y*z", {"x~y*z", "x~y*z", "x~y*z", "x~y*z"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        for (const auto& set : BUILT_INS) {
            EXPECT_EQ(encode(set.exportName, c.input.c_str()), c.byStyle[set.style]) << set.exportName;
            EXPECT_EQ(encodeStyle(c.input.c_str(), set.style), c.byStyle[set.style]) << set.style;
        }
    }
}

TEST(UrlEncoding, CallersSetUsesExactlyCountBytes) {
    struct Case {
        const char* text;
        const char* allowed;
        int count;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"abc", "ab", 2, "ab%63"},
        {"abc", "ab", 1, "a%62%63"},
        {"abc", "ab", 0, "%61%62%63"},
        {"abc", "ab", -1, "%61%62%63"},
        {"abc", "ab", INT_MIN, "%61%62%63"},
        {"abc", nullptr, 3, "%61%62%63"},
        {"abc", nullptr, 0, "%61%62%63"},
        {"abc", nullptr, INT_MAX, "%61%62%63"},  // a null set is never read
        {"abc", "a\0b", 3, "ab%63"},             // bytes after a zero byte still count
        {"abc", "cba", 3, "abc"},
        {"aA", "aa", 2, "a%41"},
        {"\xC3\xA9", "\xA9", 1, "%C3\xA9"},
        {"%41", "%", 1, "%%34%31"},
        {"", "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " with " << c.count);
        EXPECT_EQ(encodeCustom(c.text, c.allowed, c.count), c.expected);
    }
}

// A null text gives a fresh empty string, which the host frees as usual.
TEST(UrlEncoding, NullTextGivesEmptyString) {
    for (const auto& set : BUILT_INS) EXPECT_EQ(encode(set.exportName, nullptr), "") << set.exportName;
    EXPECT_EQ(encodeStyle(nullptr, 2), "");
    EXPECT_EQ(encodeCustom(nullptr, "a", 1), "");
    EXPECT_EQ(encodeCustom(nullptr, nullptr, 5), "");
}

TEST(UrlEncoding, SeveralMebibytesMatchTheReference) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(1, 255);
    std::string text(5u << 20, '\0');
    for (auto& c : text) c = static_cast<char>(byte(random));
    for (const auto& set : BUILT_INS) {
        SCOPED_TRACE(set.exportName);
        EXPECT_TRUE(encode(set.exportName, text.c_str()) == referencePercentEncode(text, set.allowed));
    }
    const std::string custom("\xFF\x01 z", 4);
    EXPECT_TRUE(encodeCustom(text.c_str(), custom.c_str(), 4) == referencePercentEncode(text, custom));
}

}  // namespace
