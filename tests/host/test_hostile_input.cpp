// Hostile input from the host, through the exports: empty strings, absurd
// header JSON, invalid base64, odd methods and broken URLs. Each must end in
// a clear failure or a correct result. Null pointers, line breaks and
// out-of-range flags are rows in the tables of the tests for their rule.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

using namespace tw_test;

namespace {

std::string queryWith(const char* json, const char* set, int count) {
    const Host& host = Host::instance();
    return host.take(host.api().toQueryStringAllowedCharacters(json, set, count));
}

std::string nested(int levels, const std::string& open, const std::string& inner, const std::string& close) {
    std::string text;
    text.reserve(levels * (open.size() + close.size()) + inner.size());
    for (int i = 0; i < levels; ++i) text += open;
    text += inner;
    for (int i = 0; i < levels; ++i) text += close;
    return text;
}

}  // namespace

// The percent-encoding exports get "" in ExamplesInEveryBuiltInMode.
TEST(HostileInput, EmptyStringsEverywhere) {
    for (const tw::Export* e : requestExports()) {
        SCOPED_TRACE(e->name);
        expectCurlFailure(call(*e, NamedArgs{}));
    }
    const tw::Exports& api = Host::instance().api();
    for (const auto query :
         {api.TwUrlEncodeQueryJS, api.TwUrlEncodeQueryInter, api.TwUrlEncodeQueryLax, api.TwUrlEncodeQueryVeryLax}) {
        EXPECT_EQ(Host::instance().take(query("")), "");
    }
    EXPECT_EQ(queryWith("", "", 0), "");
}

TEST(HostileInput, AbsurdHeaderJsonFailsBeforeAnythingIsSent) {
    RawServer server(httpResponse(200, "ok"));
    const std::string tenMib(10u << 20, 'a');
    const struct {
        const char* scenario;
        std::string json;
    } cases[] = {
        {"10,000 nested arrays", nested(10000, "[", "", "]")},
        {"10,000 nested objects", nested(10000, "{\"a\":", "1", "}")},
        {"1001 levels", nested(1001, "[", "", "]")},
        {"10 MiB, cut short", "{\"X-Big\":\"" + tenMib},
        {"lone continuation byte", "{\"X\":\"\x80\"}"},
        {"truncated sequence", "{\"X\":\"\xc3(\"}"},
        {"overlong slash", "{\"X\":\"\xc0\xaf\"}"},
        {"surrogate", "{\"X\":\"\xed\xa0\x80\"}"},
        {"0xFF in a name", "{\"\xff\":\"1\"}"},
        {"raw line feed in a value", "{\"X\":\"a\nb\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        expectFailureWithPrefix(callTw("TwHttpCall", "GET", server.url(), c.json), JSON_ERROR_PREFIX);
    }
    expectNothingArrived(server);
}

TEST(HostileInput, HugeButValidHeaderJson) {
    RawServer server(httpResponse(200, "ok"));
    // libcurl refuses to build a request head of more than a few MiB.
    expectCurlFailure(callTw("TwHttpCall", "GET", server.url(), "{\"X-Big\":\"" + std::string(10u << 20, 'v') + "\"}"));
    const std::string value(512 * 1024, 'v');
    const std::string padded = std::string(10u << 20, ' ') + R"({"X-Padded":"1"})" + std::string(10, '\n');
    const std::string deepest = nested(1000, "[", "", "]");
    for (const std::string& json : {"{\"X-Big\":\"" + value + "\"}", padded, deepest}) {
        EXPECT_EQ(callTw("TwHttpCall", "GET", server.url(), json).code, 200);
    }
    // A header list that took quadratic time to build would run for hours
    // here, well past the test's time-out.
    std::string million = "{";
    for (int i = 0; i < 1'000'000; ++i) million += "\"H" + std::to_string(i) + "\":\"\",";
    million.back() = '}';
    expectCurlFailure(callTw("TwHttpCall", "GET", CLOSED_PORT_URL, million));
    const auto requests = server.log().all();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].header("X-Big"), value);
    EXPECT_EQ(requests[1].header("X-Padded"), "1");
    EXPECT_EQ(requests[2].header("0"), nested(999, "[", "", "]"));
}

TEST(HostileInput, EveryInvalidBase64CharacterIsRefused) {
    int refused = 0;
    for (int b = 1; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (std::isalnum(b) || c == '+' || c == '/' || c == '-' || c == '_') continue;
        const bool pad = c == '=' || c == '.';
        // Padding is taken at the third and fourth place of a group only.
        std::vector<std::string> bodies = {c + std::string("QUJ"), "Q" + std::string(1, c) + "UJ"};
        if (!pad) bodies.insert(bodies.end(), {"QU" + std::string(1, c) + "D", "QUJ" + std::string(1, c)});
        for (const std::string& body : bodies) {
            SCOPED_TRACE(body);
            expectFailure(callTw("TwHttpCallIn64", "POST", CLOSED_PORT_URL, "", body), BAD_BASE64);
            ++refused;
        }
    }
    EXPECT_EQ(refused, (255 - 66 - 2) * 4 + 2 * 2);  // 66 letters of the two alphabets, 2 padding characters
}

TEST(HostileInput, TokenMethodsGoOutVerbatimAndOthersNever) {
    // A method with a line break gets the line-break message instead
    // (RequestFailures.UnsafeMethodHeadersOrUserNameSendNothing).
    RawServer server(httpResponse(200, "ok"));
    const std::string letters(10 * 1024, 'M');
    for (const std::string& method : {std::string("get"), letters, std::string("!#$%&'*+-.^_`|~09azAZ")}) {
        SCOPED_TRACE(method.substr(0, 20));
        EXPECT_EQ(callTw("TwHttpCall", method, server.url("/m")).code, 200);
        EXPECT_EQ(server.log().all().back().head.rfind(method + " /m HTTP/1.1\r\n", 0), 0u);
    }
    for (const char* method : {"GE T", "GET X", "\tPOST", "M\xc3\xa9THODE", "GET(", "A/B", "GET:"}) {
        SCOPED_TRACE(method);
        expectFailure(callTw("TwHttpCall", method, server.url("/m")), BAD_METHOD);
    }
    EXPECT_EQ(server.log().size(), 3u);
}

TEST(HostileInput, BrokenUrlsFailAndLongOnesWork) {
    RawServer server(httpResponse(200, "ok"));
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    for (const std::string& url :
         {base + "/a b", " " + base + "/", base + "/a\r\nX-Injected: 1", base + "/\n",
          std::string("javascript:alert(1)"), std::string("http://"), std::string("http://127.0.0.1:99999/"),
          std::string("http://[::1/"), std::string("://127.0.0.1/")}) {
        SCOPED_TRACE(url);
        expectCurlFailure(callTw("TwHttpCall", "GET", url));
    }
    expectFailureWithPrefix(callTw("TwHttpCall", "GET", base + "/" + std::string(9'000'000, 'p')),
                            VALUE_REFUSED_PREFIX + "url: ");
    const std::string longPath = "/" + std::string(100 * 1024, 'p');
    EXPECT_EQ(callTw("TwHttpCall", "GET", base + longPath).code, 200);
    ASSERT_EQ(server.log().size(), 1u);
    EXPECT_EQ(server.log().all()[0].target, longPath);
}
