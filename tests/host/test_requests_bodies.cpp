// What goes on the wire: the verb, the request body (base64 or not) and the
// request lines made from the header JSON.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace tw_test;

namespace {

const std::string OK = httpResponse(200, "ok");

ReceivedRequest onlyRequest(const RawServer& server) {
    const auto requests = server.log().all();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? ReceivedRequest{} : requests.front();
}

std::string bytePattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 7 == 0 ? 0 : i * 13);
    return bytes;
}

}  // namespace

TEST(RequestBodies, VerbFollowsTheMethodOrElseTheBody) {
    // POST, PUT and PATCH announce even an empty body; small bodies go out
    // at once, without waiting for "100 Continue", and unlabelled.
    const struct {
        const char* method;
        const char* body;
        const char* verb;
        const char* contentLength;
    } cases[] = {{"", "", "GET", ""},          {"", "x=1", "PUT", "3"},
                 {"POST", "", "POST", "0"},    {"POST", "x=1", "POST", "3"},
                 {"PUT", "", "PUT", "0"},      {"PATCH", "", "PATCH", "0"},
                 {"DELETE", "", "DELETE", ""}, {"DELETE", "abc", "DELETE", "3"},
                 {"get", "", "get", ""},       {"PROPFIND", "", "PROPFIND", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + "/" + c.body);
        RawServer server(OK);
        EXPECT_EQ(callTw("TwHttpCall", c.method, server.url(), "", c.body).code, 200);
        const ReceivedRequest request = onlyRequest(server);
        EXPECT_EQ(request.method, c.verb);
        EXPECT_EQ(request.body, c.body);
        EXPECT_EQ(request.header("Content-Length"), c.contentLength);
        EXPECT_FALSE(request.hasHeader("Expect") || request.hasHeader("Content-Type")) << request.head;
    }
}

TEST(RequestBodies, OnlyLargeBodiesOrTheCallerWaitForContinue) {
    // Servers that never answer "Expect: 100-continue" would stall every
    // upload by libcurl's one-second wait.
    const std::size_t MiB = std::size_t{1} << 20;
    const struct {
        const char* method;
        std::size_t size;
        const char* headersJson;
        const char* expect;
    } cases[] = {{"PUT", MiB, "", ""},
                 {"POST", MiB, "", ""},
                 {"PATCH", 1, "", ""},
                 {"PUT", MiB + 1, "", "100-continue"},
                 {"POST", MiB + 1, "", "100-continue"},
                 {"PUT", 3, R"({"expect":"100-continue"})", "100-continue"},
                 {"PUT", MiB + 1, R"({"Expect":""})", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + std::to_string(c.size) + " " + c.headersJson);
        RawServer server(OK);
        const std::string body(c.size, 'b');
        EXPECT_EQ(callTw("TwHttpCall", c.method, server.url(), c.headersJson, body).code, 200);
        const ReceivedRequest request = onlyRequest(server);
        EXPECT_EQ(request.header("Expect"), c.expect);
        EXPECT_TRUE(request.body == body);
    }
}

TEST(RequestBodies, Base64BodiesAreDecodedOnlyForFlagOne) {
    const std::string zeros("\0A\0B\0", 5);
    const std::string large = bytePattern(200000);  // beyond libcurl's upload buffer
    const struct {
        std::string body;
        int bodyIsBase64;
        std::string sent;
    } cases[] = {{"SGk=", 1, "Hi"},
                 {"SGk=", 0, "SGk="},
                 {"SGk=", 2, "SGk="},
                 {"SGk=", -1, "SGk="},
                 {"SGk=", INT_MIN, "SGk="},
                 {"SGk=", INT_MAX, "SGk="},
                 {base64Encode(zeros), 1, zeros},
                 {base64Encode(large), 1, large},
                 {"", 1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 20) + " flag " + std::to_string(c.bodyIsBase64));
        RawServer server(OK);
        const CallResult result = callCore(server.url(), "", "", "", "", c.body, c.bodyIsBase64, 0, 0);
        EXPECT_EQ(result.code, 200) << result.body;
        const ReceivedRequest request = onlyRequest(server);
        EXPECT_EQ(request.method, c.sent.empty() ? "GET" : "PUT");
        EXPECT_EQ(request.body.size(), c.sent.size());
        EXPECT_TRUE(request.body == c.sent);
    }
}

TEST(RequestBodies, BinaryBodyMakesTheRoundTripThroughAnEcho) {
    HttpServer server;
    const std::string payload = base64Encode(bytePattern(300000));
    const CallResult result = callTw("TwHttpCallBase64In64", "POST", server.url("/echo"), "", payload);
    EXPECT_EQ(result.code, 200);
    EXPECT_TRUE(result.body == payload);
}

TEST(RequestBodies, LineBrokenBase64IsRejectedBeforeSending) {
    RawServer server(OK);
    expectFailure(callCore(server.url(), "", "", "PUT", "", "SGVs\nbG8=", 1, 0, 0), BAD_BASE64);
    expectNothingArrived(server);
}

TEST(RequestHeaders, JsonBecomesRequestLinesSortedByName) {
    const struct {
        const char* json;
        std::vector<std::string> lines;
    } cases[] = {
        {R"({"X-Token":"abc","Accept":"text/plain"})", {"Accept: text/plain", "X-Token: abc"}},
        {R"({"b":"1","A":"2","a":"3"})", {"A: 2", "a: 3", "b: 1"}},
        {R"({"X":"1","X":"2"})", {"X: 2"}},
        // libcurl sends the "name;" of an empty value as "name:".
        {R"({"X-Empty":null})", {"X-Empty:"}},
        {R"({"X-Empty":""})", {"X-Empty:"}},
        {R"({"X-Count":5,"X-Flag":true,"X-Rate":1.5})", {"X-Count: 5", "X-Flag: true", "X-Rate: 1.5"}},
        {R"({"X-Obj":{"b":1,"a":[1,"x"]}})", {R"(X-Obj: {"a":[1,"x"],"b":1})"}},
        {R"({"X-Big":12345678901234567890})", {"X-Big: 12345678901234567890"}},
        {R"({"X-Unicode":"\u00e9"})", {"X-Unicode: \xC3\xA9"}},
        {R"(["a","b"])", {"0: a", "1: b"}},
        {R"([{"A":"1"}])", {R"(0: {"A":"1"})"}},
        {R"("text")", {}},  // ": text": libcurl drops a line without a name
        {" { } ", {}},
        {"null", {}},
        {"[]", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        RawServer server(OK);
        EXPECT_EQ(callTw("TwHttpCall", "GET", server.url(), c.json).code, 200);
        // libcurl puts the custom lines last, right after its own Accept
        // (which a custom Accept replaces).
        std::string tail;
        for (const auto& line : c.lines) tail += line + "\r\n";
        if (c.lines.empty() || c.lines.front() != "Accept: text/plain") tail = "Accept: */*\r\n" + tail;
        const std::string head = onlyRequest(server).head;
        ASSERT_GE(head.size(), tail.size() + 2);
        EXPECT_EQ(head.substr(head.size() - tail.size() - 2), tail + "\r\n") << head;
    }
}
