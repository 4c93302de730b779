#include "support/Host.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

using tw_test::Host;

enum Style { JS = 0, Inter = 1, Lax = 2, VeryLax = 3 };

const char* const QUERY_EXPORTS[] = {"TwUrlEncodeQueryJS", "TwUrlEncodeQueryInter", "TwUrlEncodeQueryLax",
                                     "TwUrlEncodeQueryVeryLax"};

std::string query(const char* exportName, const char* json) {
    return Host::instance().take(Host::instance().fn<decltype(TwUrlEncodeQueryJS)>(exportName)(json));
}

std::string queryStyle(const char* json, int style) {
    return Host::instance().take(Host::instance().api().toQueryString(json, style));
}

std::string queryCustom(const char* json, const char* allowed, int count) {
    return Host::instance().take(Host::instance().api().toQueryStringAllowedCharacters(json, allowed, count));
}

std::string nestedArrays(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(QueryString, ExamplesThroughEveryEntryPointOfTheirSet) {
    struct Case {
        const char* json;
        Style style;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {R"({"name":"Jane Doe","age":30})", JS, "age=30&name=Jane%20Doe"},
        {R"({"b":"2","a":"1","B":"3"})", JS, "B=3&a=1&b=2"},
        {R"(["x","y z"])", JS, "0=x&1=y%20z"},
        {R"("hello")", JS, "=hello"},
        {"42", JS, "=42"},
        {"true", JS, "=true"},
        {"null", JS, ""},
        {"{}", JS, ""},
        {"[]", JS, ""},
        {R"({"a":)", JS, ""},
        {R"({"t":true,"n":null,"f":1.50})", JS, "f=1.5&n=null&t=true"},
        {R"({"a b":"c"})", JS, "a%20b=c"},
        {R"({"a":1,"a":2})", JS, "a=2"},
        {R"({"e":"\u00e9"})", JS, "e=%C3%A9"},
        {R"({"list":[1,2]})", JS, "list=%5B1%2C2%5D"},
        {R"({"list":[1,2]})", Inter, "list=%5B1,2%5D"},
        {R"({"list":[1,2]})", Lax, "list=[1,2]"},
        {R"({"k":{"y":1,"x":"v"}})", JS, "k=%7B%22x%22%3A%22v%22%2C%22y%22%3A1%7D"},
        {R"({"k":{"y":1,"x":"v"}})", VeryLax, R"(k={"x":"v","y":1})"},
        {R"({"q":"a&b=c"})", Lax, "q=a%26b%3Dc"},
        {R"({"q":"a&b=c"})", VeryLax, "q=a%26b=c"},
        {R"([[1],{"a":"b"}])", VeryLax, R"(0=[1]&1={"a":"b"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(query(QUERY_EXPORTS[c.style], c.json), c.expected);
        EXPECT_EQ(queryStyle(c.json, c.style), c.expected);
    }
}

TEST(QueryString, OrderNumbersAndUnusableText) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {R"({"b":1,"ab":2,"a":3,"B":4})", "B=4&a=3&ab=2&b=1"},
        {"[0,1,2,3,4,5,6,7,8,9,10]", "0=0&1=1&2=2&3=3&4=4&5=5&6=6&7=7&8=8&9=9&10=10"},
        {R"({"n":-5,"e":1E2,"s":"-"})", "e=100.0&n=-5&s=-"},
        {R"({"x":{"b":[],"a":{}}})", "x=%7B%22a%22%3A%7B%7D%2C%22b%22%3A%5B%5D%7D"},
        {" \n{\"a\":\"b\"}\t", "a=b"},
        {"", ""},
        {"   ", ""},
        {R"({"a":1} x)", ""},
        {R"({"a":1 /* note */})", ""},
        {"\"\xFF\"", ""},
        {"{'a':1}", ""},
    };
    for (const auto& [json, expected] : cases) EXPECT_EQ(query("TwUrlEncodeQueryJS", json), expected) << json;
}

TEST(QueryString, SelectorOutsideTheRangeActsAsInter) {
    const char* json = R"({"k/;":"a,b$c\"d e","l":[1,2]})";
    const std::string inter = query("TwUrlEncodeQueryInter", json);
    EXPECT_EQ(inter, "k/;=a,b$c\"d%20e&l=%5B1,2%5D");
    for (const int style : {1, 4, -1, 99, INT_MIN, INT_MAX}) EXPECT_EQ(queryStyle(json, style), inter) << style;
}

TEST(QueryString, CallersSetForKeysAndValues) {
    struct Case {
        const char* allowed;
        int count;
        const char* expected;
    };
    const char* json = R"({"ab":"abc"})";
    const std::vector<Case> cases = {
        {"ab", 2, "ab=ab%63"},
        {"ab", 1, "a%62=a%62%63"},
        {"ab", 0, "%61%62=%61%62%63"},
        {"ab", -1, "%61%62=%61%62%63"},
        {"ab", INT_MIN, "%61%62=%61%62%63"},
        {nullptr, 4, "%61%62=%61%62%63"},
        {nullptr, INT_MAX, "%61%62=%61%62%63"},
        {"a\0b", 3, "ab=ab%63"},
    };
    for (const auto& c : cases) EXPECT_EQ(queryCustom(json, c.allowed, c.count), c.expected) << c.count;
}

// Zero bytes inside keys and values are encoded, not cut.
TEST(QueryString, ZeroBytesAreEncodedInFull) {
    EXPECT_EQ(query("TwUrlEncodeQueryJS", R"({"x\u0000y":"a\u0000b","z":"\u0000"})"), "x%00y=a%00b&z=%00");
    EXPECT_EQ(query("TwUrlEncodeQueryVeryLax", R"(["\u0000"])"), "0=%00");
    EXPECT_EQ(query("TwUrlEncodeQueryVeryLax", R"([["\u0000"]])"), R"(0=["\u0000"])");
    // A count that takes in the set's terminator keeps no byte 0 either.
    const char* json = R"({"a":"x\u0000y","b":"1"})";
    EXPECT_EQ(queryCustom(json, "abxy=\0", 7), "a=x%00y&b=%31");
    EXPECT_EQ(queryCustom(json, "abxy1=\0", 8), "a=x%00y&b=1");
}

TEST(QueryString, NullTextGivesEmptyString) {
    for (const char* exportName : QUERY_EXPORTS) EXPECT_EQ(query(exportName, nullptr), "") << exportName;
    EXPECT_EQ(queryStyle(nullptr, 0), "");
    EXPECT_EQ(queryCustom(nullptr, "a", 1), "");
    EXPECT_EQ(queryCustom(nullptr, nullptr, 3), "");
}

TEST(QueryString, NestingBeyondTheLimitGivesEmptyString) {
    EXPECT_EQ(query("TwUrlEncodeQueryVeryLax", nestedArrays(1000).c_str()), "0=" + nestedArrays(999));
    EXPECT_EQ(query("TwUrlEncodeQueryVeryLax", nestedArrays(1001).c_str()), "");
    EXPECT_EQ(query("TwUrlEncodeQueryVeryLax", nestedArrays(200000).c_str()), "");
}

// A large value comes out as the percent-encoder alone makes it.
TEST(QueryString, SeveralMebibyteValue) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> byte(0x20, 0x7E);
    std::string value(4u << 20, ' ');
    for (auto& c : value) {
        do c = static_cast<char>(byte(random));
        while (c == '"' || c == '\\');
    }
    const std::string json = "{\"k\":\"" + value + "\",\"a\":[\"" + value + "\"]}";
    const std::string encodedValue = Host::instance().take(Host::instance().api().TwUrlEncodeInter(value.c_str()));
    const std::string encodedArray =
        Host::instance().take(Host::instance().api().TwUrlEncodeInter(("[\"" + value + "\"]").c_str()));
    EXPECT_TRUE(query("TwUrlEncodeQueryInter", json.c_str()) == "a=" + encodedArray + "&k=" + encodedValue);
}

}  // namespace
