// Every way a request can fail, which failure wins when several apply, and
// that the early ones send nothing.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <iterator>
#include <string>

using namespace tw_test;

namespace {

const std::string OK = httpResponse(200, "ok");

// The header JSON failure for `text`, worded by the JSON library itself.
std::string jsonFailure(const std::string& text) {
    try {
        const auto parsed = nlohmann::json::parse(text, nullptr, true, false);
        ADD_FAILURE() << "valid JSON: " << parsed.dump();
    } catch (const std::exception& error) {
        return JSON_ERROR_PREFIX + error.what();
    }
    return "";
}

}  // namespace

TEST(RequestFailures, NullTextArgumentsAreNamed) {
    RawServer server(OK);
    const std::string url = server.url();
    for (const tw::Export* e : requestExports()) {
        for (const tw::Param& param : e->params) {
            if (param.kind != tw::Kind::Text) continue;
            SCOPED_TRACE(std::string(e->name) + " " + param.name);
            NamedArgs args;
            args.texts = {{"url", url.c_str()}, {"method", "GET"}};
            args.texts[param.name] = nullptr;
            expectFailure(call(*e, args), nullArgument(param.name));
        }
    }
    expectNothingArrived(server);
}

TEST(RequestFailures, NullOutParametersAreNotWrittenButTheOtherIsSet) {
    RawServer server(OK);
    const std::string url = server.url();
    for (const tw::Export* e : requestExports()) {
        SCOPED_TRACE(e->name);
        NamedArgs args;
        args.texts = {{"url", url.c_str()}, {"method", "GET"}};
        args.headersGiven = false;
        const CallResult noHeaders = call(*e, args);
        EXPECT_EQ(noHeaders.code, 0);
        EXPECT_EQ(noHeaders.body, nullArgument("responseHeaders"));
        args.bodyGiven = false;
        EXPECT_EQ(call(*e, args).code, 0);
        args.headersGiven = true;
        const CallResult noBody = call(*e, args);
        EXPECT_EQ(noBody.code, 0);
        EXPECT_EQ(noBody.headers, "");
    }
    Host::instance().api().freemem(nullptr);
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
    expectCurlFailure(callCore(CLOSED_PORT_URL, "", "", "GET", "", "SGk=", 1, 0, 0));
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

// Each of these could add a line to the request head, or make libcurl take
// a header for the body's framing and leave its own out.
TEST(RequestFailures, UnsafeMethodHeadersOrUserNameSendNothing) {
    RawServer server(OK);
    const struct {
        const char* method;
        const char* headersJson;
        std::string message = UNSAFE_HEADER;
        const char* username = "";
    } cases[] = {
        {"GET\r\nX-Injected: 1", ""},
        {"GET\n", ""},
        {"\rGET", ""},
        {"G\r\nET", ""},
        {"GET", R"({"X":"a\r\nX-Injected: 1"})"},
        {"GET", R"({"X":"a\nb"})"},
        {"GET", R"({"X":"a\rb"})"},
        {"GET", R"({"X":"a\u0000b"})"},
        {"GET", R"({"X\r\nY":"1"})"},
        {"GET", R"({"X\r":"1"})"},
        {"GET", R"({"\nX":"1"})"},
        {"GET", R"({"X\u0000":"1"})"},
        {"GET", R"({"\u0000":"1"})"},
        {"GET", R"(["ok","a\nb"])"},
        {"POST", R"({"Content-Length;":null})", BAD_HEADER_NAME},
        {"POST", R"({"Content-Length:0":""})", BAD_HEADER_NAME},
        {"POST", R"({"Content-Length:":"5"})", BAD_HEADER_NAME},
        {"POST", R"({"Transfer-Encoding ":"chunked"})", BAD_HEADER_NAME},
        {"GET", R"({"X Y":"1"})", BAD_HEADER_NAME},
        {"GET", R"({"X(":"1"})", BAD_HEADER_NAME},
        {"GET", R"({"\u00e9":"1"})", BAD_HEADER_NAME},
        {"GET", "", UNSAFE_USERNAME, "ann\r\nX-Injected: yes"},
        {"GET", "", UNSAFE_USERNAME, "ann\r\n\r\nGET /poison HTTP/1.1"},
        {"GET", "", UNSAFE_USERNAME, "ann\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.headersJson + " " + c.username);
        expectFailure(callCore(server.url(), c.username, "pw", c.method, c.headersJson, "GET /poison HTTP/1.1\r\n\r\n",
                               0, 0, 0),
                      c.message);
    }
    expectNothingArrived(server);
}

TEST(RequestFailures, OnlyHttpAndHttpsAreReached) {
    HttpServer server;
    for (const char* url : {"file:///etc/hostname", "ftp://127.0.0.1:1/", "dict://127.0.0.1:1/", "nosuch://x/"}) {
        SCOPED_TRACE(url);
        expectCurlFailure(callTw("TwHttpCall", "GET", url));
    }
    const char* const redirectTargets[] = {"file:///etc/hostname", "ftp://127.0.0.1:1/", "gopher://127.0.0.1:1/",
                                           "nosuch://x/"};
    for (const char* target : redirectTargets) {
        SCOPED_TRACE(target);
        expectCurlFailure(callTw("TwHttpCall", "GET", server.url("/to?url=") + target));
    }
    EXPECT_EQ(server.log().size(), std::size(redirectTargets));
}

TEST(RequestFailures, RedirectLoopStopsAfterThirtyRedirects) {
    HttpServer server;
    expectCurlFailure(callTw("TwHttpCall", "GET", server.url("/loop")));
    EXPECT_EQ(server.log().size(), 31u);  // the request and thirty redirects
}
