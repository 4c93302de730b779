// Every way a request can fail, which failure wins when several apply, and
// that the early ones send nothing.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

using namespace tw_test;

namespace {

const std::string OK = httpResponse(200, "ok");
const char* const BAD_BASE64 = "Input is not valid base64-encoded data.";
const char* const UNSAFE_HEADER = "Line breaks and zero bytes are not allowed in the method or request headers.";

// The header JSON failure for `text`, worded by the JSON library itself.
std::string jsonFailure(const std::string& text) {
    try {
        const auto parsed = nlohmann::json::parse(text, nullptr, true, false);
        ADD_FAILURE() << "valid JSON: " << parsed.dump();
    } catch (const std::exception& error) {
        return std::string("Error parsing the header JSON: ") + error.what();
    }
    return "";
}

}  // namespace

TEST(RequestFailures, NullTextArgumentsAreNamed) {
    RawServer server(OK);
    const std::string url = server.url();
    const char* const names[] = {"url", "username", "password", "method", "headersJson", "requestBody"};
    for (int missing = 0; missing < 6; ++missing) {
        const char* args[6] = {url.c_str(), "u", "p", "GET", "", ""};
        args[missing] = nullptr;
        char* headers = nullptr;
        char* body = nullptr;
        const int code = Host::instance().fn<CoreFn>("sendAuthEncodedRequestEncodeResponse")(
            args[0], args[1], args[2], args[3], args[4], args[5], 0, 0, 0, &headers, &body);
        expectFailure(takeResult(code, headers, body),
                      std::string("Argument must not be null: ") + names[missing] + ".");
    }
    // The forwarders hand nulls on unchanged.
    char* headers = nullptr;
    char* body = nullptr;
    const int code = Host::instance().fn<RequestFn7>("TwHttpCallBase64")("GET", nullptr, "", "", &headers, &body);
    expectFailure(takeResult(code, headers, body), "Argument must not be null: url.");
    expectNothingArrived(server);
}

TEST(RequestFailures, NullOutParametersAreNotWritten) {
    RawServer server(OK);
    const std::string url = server.url();
    auto* const twHttpCall = Host::instance().fn<RequestFn7>("TwHttpCall");
    char* body = nullptr;
    EXPECT_EQ(twHttpCall("GET", url.c_str(), "", "", nullptr, &body), 0);
    EXPECT_EQ(Host::instance().take(body), "Argument must not be null: responseHeaders.");
    char* headers = nullptr;
    EXPECT_EQ(twHttpCall("GET", url.c_str(), "", "", &headers, nullptr), 0);
    EXPECT_EQ(Host::instance().take(headers), "");
    EXPECT_EQ(twHttpCall("GET", url.c_str(), "", "", nullptr, nullptr), 0);
    Host::instance().fn<void(void*)>("freemem")(nullptr);
    expectNothingArrived(server);
}

TEST(RequestFailures, FirstFailureInPipelineOrderWins) {
    RawServer server(OK);
    const struct {
        const char* scenario;
        std::string method, headersJson, body;
        int bodyIsBase64;
        std::string message;
    } cases[] = {
        {"base64 beats JSON and injection", "GET\r\n", "{", "SG k=", 1, BAD_BASE64},
        {"JSON beats injection", "GET\r\n", "{", "SGk=", 1, jsonFailure("{")},
        {"injection in the method", "GET\r\nX: 1", "", "", 0, UNSAFE_HEADER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        for (const std::string& url : {std::string(CLOSED_PORT_URL), server.url()}) {
            expectFailure(callCore(url, "u", "p", c.method, c.headersJson, c.body, c.bodyIsBase64, 0, 0), c.message);
        }
    }
    expectFailure(callCore(CLOSED_PORT_URL, "", "", "GET", "", "SGk=", 1, 0, 0), curlFailure(CURLE_COULDNT_CONNECT));
    expectNothingArrived(server);
}

TEST(RequestFailures, BadHeaderJsonIsReportedWithTheParsersMessage) {
    RawServer server(OK);
    for (const char* json : {" ", "{\"X\":", "{\"a\":1} x", "/* c */ {}", "{\"a\":1} // c", "{'a':1}"}) {
        SCOPED_TRACE(json);
        expectFailure(callTw("TwHttpCall", "GET", server.url(), json), jsonFailure(json));
    }
    expectNothingArrived(server);
}

TEST(RequestFailures, LineBreaksAndZeroBytesInMethodOrHeadersSendNothing) {
    RawServer server(OK);
    const struct {
        const char* method;
        const char* headersJson;
    } cases[] = {
        {"GET\r\nX-Injected: 1", ""},
        {"GET\n", ""},
        {"GET", R"({"X":"a\r\nX-Injected: 1"})"},
        {"GET", R"({"X":"a\nb"})"},
        {"GET", R"({"X":"a\rb"})"},
        {"GET", R"({"X":"a\u0000b"})"},
        {"GET", R"({"X\r\nY":"1"})"},
        {"GET", R"({"X\u0000":"1"})"},
        {"GET", R"(["ok","a\nb"])"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.headersJson);
        expectFailure(callTw("TwHttpCall", c.method, server.url(), c.headersJson), UNSAFE_HEADER);
    }
    expectNothingArrived(server);
}

TEST(RequestFailures, OnlyHttpAndHttpsAreReached) {
    HttpServer server;
    const std::string unsupported = "curl_easy_perform() failed: Unsupported protocol";
    for (const char* url : {"file:///etc/hostname", "ftp://127.0.0.1:1/", "dict://127.0.0.1:1/", "nosuch://x/"}) {
        SCOPED_TRACE(url);
        expectFailure(callTw("TwHttpCall", "GET", url), unsupported);
    }
    for (const char* target : {"file:///etc/hostname", "ftp://127.0.0.1:1/"}) {
        SCOPED_TRACE(target);
        expectFailure(callTw("TwHttpCall", "GET", server.url("/to?url=") + target), unsupported);
    }
    EXPECT_EQ(server.log().size(), 2u);
}

TEST(RequestFailures, RedirectLoopStopsAfterThirtyRedirects) {
    HttpServer server;
    expectFailure(callTw("TwHttpCall", "GET", server.url("/loop")), curlFailure(CURLE_TOO_MANY_REDIRECTS));
    EXPECT_EQ(server.log().size(), 31u);  // the request and thirty redirects
}

TEST(RequestFailures, ConnectionClosedMidBody) {
    RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
    expectFailure(callTw("TwHttpCall", "GET", server.url()), curlFailure(CURLE_PARTIAL_FILE));
}
