#include "Tarnwell.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Feeds the lines as libcurl does (size 1, the line's bytes as items) and
// checks that every line is accepted whole.
Pairs capture(const std::vector<std::string>& lines) {
    std::vector<Tarnwell::Header> headers;
    for (auto line : lines) {
        EXPECT_EQ(libcurlCallbackHeadersToHeaderVector(line.data(), 1, line.size(), &headers), line.size());
    }
    Pairs pairs;
    for (const auto& header : headers) {
        EXPECT_FALSE(header.suppress);
        pairs.emplace_back(header.name, header.value);
    }
    return pairs;
}

TEST(HeaderCapture, OneLineAtATime) {
    const std::vector<std::pair<std::string, Pairs>> cases = {
        {"HTTP/1.1 200 OK\r\n", {}},
        {"\r\n", {}},
        {"\n", {}},
        {":", {}},
        {"Content-Type: text/html; charset=utf-8\r\n", {{"Content-Type", "text/html; charset=utf-8"}}},
        {"X-Time: 12:30:45\r\n", {{"X-Time", "12:30:45"}}},
        {"X-Empty:\r\n", {{"X-Empty", ""}}},
        {"X-Spaces: \t \r\n", {{"X-Spaces", ""}}},
        {"a:", {{"a", ""}}},
        {" \t X-Pad \t:  a  b \t\r\n", {{"X-Pad", "a  b"}}},
        {"X-Inner Space: v\r\n", {{"X-Inner Space", "v"}}},
        {"HTTP/1.1 404 Not: Found\r\n", {{"HTTP/1.1 404 Not", "Found"}}},
        {" folded continuation\r\n", {}},
        {"\tfolded: part\r\n", {{"folded", "part"}}},
        {":no other colon\r\n", {}},
        {":a:b\r\n", {{":a", "b"}}},
        {" : value\r\n", {{"", "value"}}},
        {"X-Lf: only\n", {{"X-Lf", "only"}}},
        {"X-High: \xA0v\xFF\r\n", {{"X-High", "\xA0v\xFF"}}},
        {std::string("X-Zero: a\0b\r\n", 13), {{"X-Zero", std::string("a\0b", 3)}}},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(line));
        EXPECT_EQ(capture({line}), expected);
    }
}

TEST(HeaderCapture, EveryResponseOfATransferInArrivalOrder) {
    const Pairs expected = {{"Location", "/next"}, {"Set-Cookie", "a=1"}, {"Set-Cookie", "b=2"}, {"set-cookie", "c"}};
    EXPECT_EQ(capture({"HTTP/1.1 302 Found\r\n", "Location: /next\r\n", "Set-Cookie: a=1\r\n", "\r\n",
                       "HTTP/1.1 200 OK\r\n", "Set-Cookie: b=2\r\n", "set-cookie: c\r\n", "\r\n"}),
              expected);
}

// The line is exactly size * nitems bytes: nothing after it is read.
TEST(HeaderCapture, ReadsOnlyTheGivenBytes) {
    std::vector<Tarnwell::Header> headers;
    std::string buffer = "X-A: 1\r\nY: 2";
    EXPECT_EQ(libcurlCallbackHeadersToHeaderVector(buffer.data(), 1, 8, &headers), 8u);
    std::string noColon = "abcd:e";
    EXPECT_EQ(libcurlCallbackHeadersToHeaderVector(noColon.data(), 2, 2, &headers), 4u);
    std::string wide = "X-B: 22\r\n!";
    EXPECT_EQ(libcurlCallbackHeadersToHeaderVector(wide.data(), 3, 3, &headers), 9u);
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[0].value, "1");
    EXPECT_EQ(headers[1].name, "X-B");
    EXPECT_EQ(headers[1].value, "22");
}

}  // namespace
