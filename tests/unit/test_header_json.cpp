#include "HeaderJson.h"
#include "support/Messages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs toPairs(const std::vector<Tarnwell::Header>& headers) {
    Pairs pairs;
    for (const auto& header : headers) {
        EXPECT_FALSE(header.suppress) << header.name;
        pairs.emplace_back(header.name, header.value);
    }
    return pairs;
}

std::vector<Tarnwell::Header> toHeaders(const Pairs& pairs) {
    std::vector<Tarnwell::Header> headers;
    for (const auto& [name, value] : pairs) headers.push_back({name, value, false});
    return headers;
}

std::string parseError(const std::string& json) {
    try {
        jsonToHeaders(json);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "<no error>";
}

std::string nestedArrays(std::size_t depth, const std::string& inner = "") {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

std::string nestedObjects(std::size_t depth) {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += "{\"a\":";
    return text + "1" + std::string(depth, '}');
}

TEST(JsonToHeaders, RecordsInTheParsedValuesOrder) {
    const std::vector<std::pair<std::string, Pairs>> cases = {
        {"", {}},
        {"null", {}},
        {"{}", {}},
        {"[]", {}},
        {R"({"X-Token":"abc","Accept":"text/plain"})", {{"Accept", "text/plain"}, {"X-Token", "abc"}}},
        {R"({"b":"1","A":"2","a":"3"})", {{"A", "2"}, {"a", "3"}, {"b", "1"}}},
        {R"({"X":"1","X":"2"})", {{"X", "2"}}},
        {R"({"X-Empty":null})", {{"X-Empty", ""}}},
        {R"({"X-Empty":""})", {{"X-Empty", ""}}},
        {R"({"X-Count":5,"X-Flag":true,"X-Rate":1.5})", {{"X-Count", "5"}, {"X-Flag", "true"}, {"X-Rate", "1.5"}}},
        {R"({"X-Obj":{"b":1,"a":[1,"x"]}})", {{"X-Obj", R"({"a":[1,"x"],"b":1})"}}},
        {R"(["a","b"])", {{"0", "a"}, {"1", "b"}}},
        {R"("text")", {{"", "text"}}},
        {"false", {{"", "false"}}},
        {R"({"X-Unicode":"\u00e9"})", {{"X-Unicode", "\xC3\xA9"}}},
        {R"({"X-Big":12345678901234567890})", {{"X-Big", "12345678901234567890"}}},
        {R"([{"A":"1"}])", {{"0", R"({"A":"1"})"}}},
        {R"({"X":[null,false,-1,"\u00e9\"\n"]})", {{"X", "[null,false,-1,\"\xC3\xA9\\\"\\n\"]"}}},
        {R"({"X":"a\"b\\c"})", {{"X", "a\"b\\c"}}},
        {R"({"X":"x\u0000y"})", {{"X", std::string("x\0y", 3)}}},
        {" \t\r\n{\"a\":\"b\"}\n ", {{"a", "b"}}},
        {"[0,1,2,3,4,5,6,7,8,9,10,11]",
         {{"0", "0"},
          {"1", "1"},
          {"2", "2"},
          {"3", "3"},
          {"4", "4"},
          {"5", "5"},
          {"6", "6"},
          {"7", "7"},
          {"8", "8"},
          {"9", "9"},
          {"10", "10"},
          {"11", "11"}}},
    };
    for (const auto& [json, expected] : cases) {
        SCOPED_TRACE(json);
        EXPECT_EQ(toPairs(jsonToHeaders(json)), expected);
    }
}

TEST(JsonToHeaders, InvalidTextFailsWithThePrefixedParserMessage) {
    const std::vector<std::string> invalid = {R"({"X":)",
                                              " ",
                                              R"({"a":1} x)",
                                              R"({"a":1} // note)",
                                              "/* note */ {}",
                                              R"({'a':"1"})",
                                              "{\"a\":\"\xFF\"}",
                                              R"({"a":"1",})",
                                              "nul",
                                              nestedArrays(1001),
                                              nestedArrays(1001, "1"),
                                              nestedObjects(1001),
                                              nestedArrays(100000)};
    for (const auto& json : invalid) {
        SCOPED_TRACE(json.substr(0, 40));
        const std::string message = parseError(json);
        EXPECT_TRUE(tw_test::isMessageWithPrefix(message, tw_test::JSON_ERROR_PREFIX)) << message;
    }
    EXPECT_NE(parseError(" ").find("unexpected end of input"), std::string::npos);
}

TEST(JsonToHeaders, AcceptsNestingUpToTheLimit) {
    const auto headers = toPairs(jsonToHeaders(nestedArrays(1000)));
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0], std::make_pair(std::string("0"), nestedArrays(999)));
    EXPECT_EQ(toPairs(jsonToHeaders(nestedArrays(1000, "1"))).at(0).second, nestedArrays(999, "1"));
    EXPECT_EQ(toPairs(jsonToHeaders(nestedObjects(1000))).at(0).second, nestedObjects(999));
}

TEST(HeadersToJsonString, OneLineInCaptureOrderWithDuplicates) {
    const std::vector<std::pair<Pairs, std::string>> cases = {
        {{}, "{}"},
        {{{"Content-Type", "text/html"}, {"Content-Length", "5"}},
         R"({"Content-Type":"text/html","Content-Length":"5"})"},
        {{{"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}}, R"({"Set-Cookie":"a=1","Set-Cookie":"b=2"})"},
        {{{"b", "1"}, {"a", "2"}, {"b", "3"}}, R"({"b":"1","a":"2","b":"3"})"},
        {{{"X-Empty", ""}}, R"({"X-Empty":""})"},
        {{{"", ""}}, R"({"":""})"},
        {{{"ETag", "\"xyz\""}}, R"({"ETag":"\"xyz\""})"},
        {{{"X-Path", "C:\\dir"}}, R"({"X-Path":"C:\\dir"})"},
        {{{"a\"b\\", "v"}}, R"({"a\"b\\":"v"})"},
        {{{"X", "\b\f\n\r\t"}}, R"({"X":"\b\f\n\r\t"})"},
        {{{"X", std::string("\x01\x1F\x7F", 3)}}, "{\"X\":\"\\u0001\\u001F\x7F\"}"},
        {{{std::string("n\0", 2), std::string("\0v", 2)}}, R"({"n\u0000":"\u0000v"})"},
        {{{"X-Name", "caf\xC3\xA9 \xE2\x82\xAC"}}, "{\"X-Name\":\"caf\xC3\xA9 \xE2\x82\xAC\"}"},
    };
    for (const auto& [records, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(headersToJsonString(toHeaders(records)), expected);
    }
}

// Whatever ASCII or UTF-8 a name or value holds, the text parses back to it.
TEST(HeadersToJsonString, AlwaysParsesBackToTheSameNamesAndValues) {
    Pairs records;
    for (int byte = 0; byte < 0x80; ++byte) {
        const char c = static_cast<char>(byte);
        records.emplace_back(std::string("k") + c + "\"\\", std::string(1, c) + "\\u0041\xE2\x82\xAC");
    }
    const std::string text = headersToJsonString(toHeaders(records));
    for (const char c : text) EXPECT_GE(static_cast<unsigned char>(c), 0x20);
    EXPECT_EQ(text.find('\n'), std::string::npos);

    const auto parsed = nlohmann::json::parse(text);
    ASSERT_EQ(parsed.size(), records.size());
    for (const auto& [name, value] : records) {
        ASSERT_TRUE(parsed.contains(name)) << testing::PrintToString(name);
        EXPECT_EQ(parsed[name].get<std::string>(), value);
    }
    const auto duplicates = nlohmann::json::parse(headersToJsonString(toHeaders({{"a\n", "1"}, {"a\n", "2\t"}})));
    EXPECT_EQ(duplicates.dump(), R"({"a\n":"2\t"})");
}

}  // namespace
