// What the host gets back: status, the header lines of every response in
// order (redirects and challenges included) as valid JSON, and the body.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace tw_test;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Values of one header name, in the order the host received them.
std::vector<std::string> valuesOf(const Pairs& headers, const std::string& name) {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (key == name) values.push_back(value);
    }
    return values;
}

std::size_t indexOf(const Pairs& headers, const std::string& name) {
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (headers[i].first == name) return i;
    }
    return headers.size();
}

}  // namespace

TEST(Responses, ErrorStatusIsAnOrdinaryResult) {
    HttpServer server;
    const CallResult result = callTw("TwHttpCall", "GET", server.url("/status/404"));
    EXPECT_EQ(result.code, 404);
    EXPECT_EQ(result.body, "status 404");
    EXPECT_EQ(valuesOf(parseHeaderJson(result.headers), "X-Status"), std::vector<std::string>{"404"});
    EXPECT_EQ(callTw("TwHttpCallBytes", "DELETE", server.url("/status/500")).body,
              "115,116,97,116,117,115,32,53,48,48");
}

TEST(Responses, RedirectsAreFollowedAndEveryResponsesHeadersKept) {
    HttpServer server;
    const CallResult result = callTw("TwHttpCall", "GET", server.url("/redirect/2"));
    EXPECT_EQ(result.code, 200);
    EXPECT_EQ(result.body, "end");
    const Pairs headers = parseHeaderJson(result.headers);
    EXPECT_EQ(valuesOf(headers, "X-Hop"), (std::vector<std::string>{"2", "1", "0"}));
    EXPECT_EQ(valuesOf(headers, "Location"), (std::vector<std::string>{"/redirect/1", "/redirect/0"}));
    EXPECT_EQ(server.log().size(), 3u);
}

TEST(Responses, BasicAuthAnswersTheChallengeAndReportsItFirst) {
    HttpServer server;
    const CallResult result = callCore(server.url("/basic"), BASIC_USER, BASIC_PASSWORD, "GET", "", "", 0, 0, 0);
    EXPECT_EQ(result.code, 200);
    const Pairs headers = parseHeaderJson(result.headers);
    EXPECT_EQ(valuesOf(headers, "WWW-Authenticate"), std::vector<std::string>{"Basic realm=\"tw-test\""});
    EXPECT_LT(indexOf(headers, "X-Challenge"), indexOf(headers, "X-Authorized"));
    EXPECT_LT(indexOf(headers, "X-Authorized"), headers.size());
    const auto requests = server.log().all();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].hasHeader("Authorization"));
    EXPECT_TRUE(requests[1].hasHeader("Authorization"));
}

TEST(Responses, CredentialsAreSentOnlyWhenBothAreGiven) {
    const struct {
        const char* username;
        const char* password;
        int code;
    } cases[] = {{BASIC_USER, BASIC_PASSWORD, 200}, {BASIC_USER, "", 401}, {"", BASIC_PASSWORD, 401}, {"", "", 401}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.username) + ":" + c.password);
        HttpServer server;
        const CallResult result = callCore(server.url("/basic"), c.username, c.password, "GET", "", "", 0, 0, 0);
        EXPECT_EQ(result.code, c.code);
        const auto requests = server.log().all();
        ASSERT_EQ(requests.size(), c.code == 200 ? 2u : 1u);
        EXPECT_EQ(requests.back().hasHeader("Authorization"), c.code == 200);
    }
}

// libcurl writes the user name into the Digest answer; quotes and
// backslashes must come out escaped, never end the quoted string.
TEST(Responses, DigestAnswerQuotesTheUserName) {
    RawServer server([](const ReceivedRequest& request) {
        if (request.hasHeader("Authorization")) return httpResponse(200, "ok");
        return httpResponse(401, "", {R"(WWW-Authenticate: Digest realm="r", nonce="n", qop="auth")"});
    });
    const CallResult result = callCore(server.url(), R"(a"b\c)", "pw", "GET", "", "", 0, 0, 0);
    EXPECT_EQ(result.code, 200) << result.body;
    const auto requests = server.log().all();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].header("Authorization").rfind(R"(Digest username="a\"b\\c", realm="r")", 0), 0u)
        << requests[1].head;
}

TEST(Responses, HeaderLinesBecomeValidJsonInArrivalOrder) {
    const std::string end = "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const std::string tail = R"("Content-Length":"0","Connection":"close"})";
    const struct {
        std::string response;
        std::string json;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", "{}"},  // no header lines; the body runs to the close
        {"HTTP/1.1 200 OK\r\nX-Time: 12:30:45\r\nX-Empty:\r\n" + end, R"({"X-Time":"12:30:45","X-Empty":"",)" + tail},
        {"HTTP/1.1 200 OK\r\nX-Pad \t:\t a  b \t\r\n" + end, R"({"X-Pad":"a  b",)" + tail},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n" + end,
         R"({"Set-Cookie":"a=1","Set-Cookie":"b=2",)" + tail},
        {"HTTP/1.1 200 OK\r\nX-Fold: a\r\n  continued\r\n  more: x\r\n" + end, R"({"X-Fold":"a","more":"x",)" + tail},
        {"HTTP/1.1 200 OK\r\n:starts-with-colon\r\n : empty name\r\n" + end, R"({"":"empty name",)" + tail},
        {"HTTP/1.1 200 Note: fine\r\n" + end, R"({"HTTP/1.1 200 Note":"fine",)" + tail},
        {"HTTP/1.1 200 OK\r\nX-Q: say \"hi\"\r\nX-Path: C:\\dir\r\nX\"N: v\r\n" + end,
         R"({"X-Q":"say \"hi\"","X-Path":"C:\\dir","X\"N":"v",)" + tail},
        {"HTTP/1.1 200 OK\r\nX-Ctl: a\tb\x01"
         "c\x1f\r\nX-Utf8: \xC3\xA9\r\n" +
             end,
         R"({"X-Ctl":"a\tb\u0001c\u001F","X-Utf8":")"
         "\xC3\xA9"
         R"(",)" +
             tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        RawServer server(c.response);
        const CallResult result = callTw("TwHttpCall", "GET", server.url());
        EXPECT_EQ(result.code, 200) << result.body;
        EXPECT_EQ(result.headers, c.json);
        EXPECT_NO_THROW(parseHeaderJson(result.headers));
    }
}

TEST(Responses, EscapedHeaderValuesReadBackAsReceived) {
    RawServer server(httpResponse(200, "", {"X-Mix: \"q\" \\ \x02 \t end"}));
    const Pairs headers = parseHeaderJson(callTw("TwHttpCall", "GET", server.url()).headers);
    EXPECT_EQ(valuesOf(headers, "X-Mix"), std::vector<std::string>{"\"q\" \\ \x02 \t end"});
}
