// Hostile input from the host, through the exports: null pointers, empty
// strings, absurd header JSON, invalid base64, broken methods and URLs and
// out-of-range flags. Each must end in a clear failure or a correct result.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <string>
#include <vector>

using namespace tw_test;

namespace {

const char* const BAD_BASE64 = "Input is not valid base64-encoded data.";
const char* const UNSAFE_HEADER = "Line breaks and zero bytes are not allowed in the method or request headers.";
const char* const JSON_ERROR = "Error parsing the header JSON: ";
const int OUT_OF_RANGE[] = {INT_MIN, -1, INT_MAX};

// ------------------------------------------------ the request exports

struct TextArgs {
    const char* url = CLOSED_PORT_URL;
    const char* username = "user";
    const char* password = "secret";
    const char* method = "GET";
    const char* headersJson = "";
    const char* requestBody = "";
};

// How an export orders its arguments.
enum class Shape { Core, Encoded, SendAuth, Send, Tw, TwAuth };

struct RequestExport {
    const char* name;
    Shape shape;
};

const RequestExport REQUEST_EXPORTS[] = {
    {"sendAuthEncodedRequestEncodeResponse", Shape::Core},
    {"sendEncodedRequestEncodeResponse", Shape::Encoded},
    {"sendAuthRequest", Shape::SendAuth},
    {"sendRequest", Shape::Send},
    {"TwHttpCall", Shape::Tw},
    {"TwHttpCallBase64", Shape::Tw},
    {"TwHttpCallBytes", Shape::Tw},
    {"TwHttpCallIn64", Shape::Tw},
    {"TwHttpCallBase64In64", Shape::Tw},
    {"TwHttpCallBytesIn64", Shape::Tw},
    {"TwAuthHttpCall", Shape::TwAuth},
    {"TwAuthHttpCallBase64", Shape::TwAuth},
    {"TwAuthHttpCallBytes", Shape::TwAuth},
    {"TwAuthHttpCallIn64", Shape::TwAuth},
    {"TwAuthHttpCallBase64In64", Shape::TwAuth},
    {"TwAuthHttpCallBytesIn64", Shape::TwAuth},
};

bool takesCredentials(Shape shape) {
    return shape == Shape::Core || shape == Shape::SendAuth || shape == Shape::TwAuth;
}

// The text parameters an export takes, by name.
std::vector<const char * TextArgs::*> textParameters(Shape shape) {
    std::vector<const char* TextArgs::*> members = {&TextArgs::url, &TextArgs::method, &TextArgs::headersJson,
                                                    &TextArgs::requestBody};
    if (takesCredentials(shape)) {
        members.insert(members.begin() + 1, {&TextArgs::username, &TextArgs::password});
    }
    return members;
}

const char* parameterName(const char* TextArgs::*member) {
    if (member == &TextArgs::url) return "url";
    if (member == &TextArgs::username) return "username";
    if (member == &TextArgs::password) return "password";
    if (member == &TextArgs::method) return "method";
    if (member == &TextArgs::headersJson) return "headersJson";
    return "requestBody";
}

// Calls any request export; `flag` goes to every int parameter it has.
int invoke(const RequestExport& e, const TextArgs& a, int flag, char** headers, char** body) {
    const Host& host = Host::instance();
    using SendAuthFn =
        int(const char*, const char*, const char*, const char*, const char*, const char*, int, char**, char**);
    using SendFn = int(const char*, const char*, const char*, const char*, int, char**, char**);
    using EncodedFn = int(const char*, const char*, const char*, const char*, int, int, int, char**, char**);
    using TwAuthFn = int(const char*, const char*, const char*, const char*, const char*, const char*, char**, char**);
    switch (e.shape) {
        case Shape::Core:
            return host.fn<CoreFn>(e.name)(a.url, a.username, a.password, a.method, a.headersJson, a.requestBody, flag,
                                           flag, flag, headers, body);
        case Shape::Encoded:
            return host.fn<EncodedFn>(e.name)(a.url, a.method, a.headersJson, a.requestBody, flag, flag, flag, headers,
                                              body);
        case Shape::SendAuth:
            return host.fn<SendAuthFn>(e.name)(a.url, a.username, a.password, a.method, a.headersJson, a.requestBody,
                                               flag, headers, body);
        case Shape::Send:
            return host.fn<SendFn>(e.name)(a.url, a.method, a.headersJson, a.requestBody, flag, headers, body);
        case Shape::Tw:
            return host.fn<RequestFn7>(e.name)(a.method, a.url, a.headersJson, a.requestBody, headers, body);
        case Shape::TwAuth:
            return host.fn<TwAuthFn>(e.name)(a.method, a.url, a.username, a.password, a.headersJson, a.requestBody,
                                             headers, body);
    }
    return -1;
}

CallResult call(const RequestExport& e, const TextArgs& args, int flag = 0) {
    char* headers = nullptr;
    char* body = nullptr;
    const int code = invoke(e, args, flag, &headers, &body);
    return takeResult(code, headers, body);
}

// ------------------------------------------------ the encoding exports

using EncodeFn = char*(const char*);
const char* const ENCODE_EXPORTS[] = {"TwUrlEncodeJS",       "TwUrlEncodeInter",       "TwUrlEncodeLax",
                                      "TwUrlEncodeVeryLax",  "TwUrlEncodeQueryJS",     "TwUrlEncodeQueryInter",
                                      "TwUrlEncodeQueryLax", "TwUrlEncodeQueryVeryLax"};

std::string escapeStyle(const char* text, int style) {
    const Host& host = Host::instance();
    return host.take(host.fn<char*(const char*, int)>("escapeUrlStyle")(text, style));
}

std::string queryStyle(const char* json, int style) {
    const Host& host = Host::instance();
    return host.take(host.fn<char*(const char*, int)>("toQueryString")(json, style));
}

std::string escapeWith(const char* text, const char* set, int count) {
    const Host& host = Host::instance();
    return host.take(
        host.fn<char*(const char*, const char*, int)>("escapeUrlStyleAllowedCharacters")(text, set, count));
}

std::string queryWith(const char* json, const char* set, int count) {
    const Host& host = Host::instance();
    return host.take(host.fn<char*(const char*, const char*, int)>("toQueryStringAllowedCharacters")(json, set, count));
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

TEST(HostileInput, NullInEveryTextPositionIsNamed) {
    for (const auto& e : REQUEST_EXPORTS) {
        for (const auto member : textParameters(e.shape)) {
            SCOPED_TRACE(std::string(e.name) + " " + parameterName(member));
            TextArgs args;
            args.*member = nullptr;
            expectFailure(call(e, args), std::string("Argument must not be null: ") + parameterName(member) + ".");
        }
    }
}

TEST(HostileInput, NullOutParametersGetNothingButTheOtherIsStillSet) {
    const Host& host = Host::instance();
    for (const auto& e : REQUEST_EXPORTS) {
        SCOPED_TRACE(e.name);
        char* body = nullptr;
        EXPECT_EQ(invoke(e, TextArgs{}, 0, nullptr, &body), 0);
        EXPECT_EQ(host.take(body), "Argument must not be null: responseHeaders.");
        char* headers = nullptr;
        EXPECT_EQ(invoke(e, TextArgs{}, 0, &headers, nullptr), 0);
        EXPECT_EQ(host.take(headers), "");
        EXPECT_EQ(invoke(e, TextArgs{}, 0, nullptr, nullptr), 0);
    }
}

TEST(HostileInput, EmptyStringsEverywhere) {
    const TextArgs empty{"", "", "", "", "", ""};
    for (const auto& e : REQUEST_EXPORTS) {
        SCOPED_TRACE(e.name);
        expectFailure(call(e, empty), curlFailure(CURLE_URL_MALFORMAT));
    }
    for (const char* name : ENCODE_EXPORTS) {
        EXPECT_EQ(Host::instance().take(Host::instance().fn<EncodeFn>(name)("")), "") << name;
    }
    EXPECT_EQ(escapeWith("", "", 0), "");
    EXPECT_EQ(queryWith("", "", 0), "");
}

TEST(HostileInput, EncodersTakeNullTextAsEmptyAndNullSetAsEmptySet) {
    for (const char* name : ENCODE_EXPORTS) {
        EXPECT_EQ(Host::instance().take(Host::instance().fn<EncodeFn>(name)(nullptr)), "") << name;
    }
    EXPECT_EQ(escapeStyle(nullptr, 0), "");
    EXPECT_EQ(queryStyle(nullptr, 0), "");
    EXPECT_EQ(escapeWith(nullptr, "abc", 3), "");
    EXPECT_EQ(queryWith(nullptr, "abc", 3), "");
    // A null set is never read, whatever the count claims.
    for (const int count : {1, 5, INT_MAX}) {
        EXPECT_EQ(escapeWith("a b", nullptr, count), "%61%20%62");
        EXPECT_EQ(queryWith(R"({"a":1})", nullptr, count), "%61=%31");
    }
}

TEST(HostileInput, AbsurdHeaderJsonFailsBeforeAnythingIsSent) {
    RawServer server(httpResponse(200, "ok"));
    const std::string tenMib(10u << 20, 'a');
    const struct {
        const char* scenario;
        std::string json;
        std::string message;  // JSON_ERROR: any message with that prefix
    } cases[] = {
        {"10,000 nested arrays", nested(10000, "[", "", "]"), JSON_ERROR},
        {"10,000 nested objects", nested(10000, "{\"a\":", "1", "}"), JSON_ERROR},
        {"1001 levels", nested(1001, "[", "", "]"), JSON_ERROR},
        {"10 MiB, cut short", "{\"X-Big\":\"" + tenMib, JSON_ERROR},
        {"lone continuation byte", "{\"X\":\"\x80\"}", JSON_ERROR},
        {"truncated sequence", "{\"X\":\"\xc3(\"}", JSON_ERROR},
        {"overlong slash", "{\"X\":\"\xc0\xaf\"}", JSON_ERROR},
        {"surrogate", "{\"X\":\"\xed\xa0\x80\"}", JSON_ERROR},
        {"0xFF in a name", "{\"\xff\":\"1\"}", JSON_ERROR},
        {"raw line feed in a value", "{\"X\":\"a\nb\"}", JSON_ERROR},
        {"escaped zero in a value", R"({"X":"a\u0000b"})", UNSAFE_HEADER},
        {"escaped zero in a name", R"({"\u0000":"1"})", UNSAFE_HEADER},
        {"escaped CR LF in a value", R"({"X":"a\r\nInjected: 1"})", UNSAFE_HEADER},
        {"escaped CR in a name", R"({"X\r":"1"})", UNSAFE_HEADER},
        {"escaped LF in a name", R"({"\nX":"1"})", UNSAFE_HEADER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const CallResult result = callTw("TwHttpCall", "GET", server.url(), c.json);
        EXPECT_EQ(result.code, 0);
        EXPECT_EQ(result.headers, "");
        if (c.message == JSON_ERROR) {
            EXPECT_EQ(result.body.rfind(JSON_ERROR, 0), 0u) << result.body;
        } else {
            EXPECT_EQ(result.body, c.message);
        }
    }
    expectNothingArrived(server);
}

TEST(HostileInput, HugeButValidHeaderJson) {
    RawServer server(httpResponse(200, "ok"));
    // libcurl refuses to build a request head of more than a few MiB.
    expectFailure(callTw("TwHttpCall", "GET", server.url(), "{\"X-Big\":\"" + std::string(10u << 20, 'v') + "\"}"),
                  curlFailure(CURLE_OUT_OF_MEMORY));
    const std::string value(512 * 1024, 'v');
    const std::string padded = std::string(10u << 20, ' ') + R"({"X-Padded":"1"})" + std::string(10, '\n');
    const std::string deepest = nested(1000, "[", "", "]");
    for (const std::string& json : {"{\"X-Big\":\"" + value + "\"}", padded, deepest}) {
        EXPECT_EQ(callTw("TwHttpCall", "GET", server.url(), json).code, 200);
    }
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

TEST(HostileInput, OddMethodsGoOutVerbatimAndLineBreaksNever) {
    RawServer server(httpResponse(200, "ok"));
    const std::string letters(10 * 1024, 'M');
    for (const std::string& method :
         {std::string("GE T"), std::string("get"), std::string("\tPOST"), letters, std::string("M\xc3\xa9THODE")}) {
        SCOPED_TRACE(method.substr(0, 20));
        EXPECT_EQ(callTw("TwHttpCall", method, server.url("/m")).code, 200);
        EXPECT_EQ(server.log().all().back().head.rfind(method + " /m HTTP/1.1\r\n", 0), 0u);
    }
    for (const char* method : {"GET\r\n", "GET\nX: 1", "\rGET", "G\r\nET"}) {
        expectFailure(callTw("TwHttpCall", method, server.url("/m")), UNSAFE_HEADER);
    }
    EXPECT_EQ(server.log().size(), 5u);
}

TEST(HostileInput, BrokenUrlsFailAndLongOnesWork) {
    RawServer server(httpResponse(200, "ok"));
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    const struct {
        std::string url;
        CURLcode expected;
    } cases[] = {
        {base + "/a b", CURLE_URL_MALFORMAT},
        {" " + base + "/", CURLE_URL_MALFORMAT},
        {base + "/a\r\nX-Injected: 1", CURLE_URL_MALFORMAT},
        {base + "/\n", CURLE_URL_MALFORMAT},
        {"nosuch://127.0.0.1/", CURLE_UNSUPPORTED_PROTOCOL},
        {"javascript:alert(1)", CURLE_URL_MALFORMAT},
        {"http://", CURLE_URL_MALFORMAT},
        {"http://127.0.0.1:99999/", CURLE_URL_MALFORMAT},
        {"http://[::1/", CURLE_URL_MALFORMAT},
        {"://127.0.0.1/", CURLE_URL_MALFORMAT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        expectFailure(callTw("TwHttpCall", "GET", c.url), curlFailure(c.expected));
    }
    const std::string longPath = "/" + std::string(100 * 1024, 'p');
    EXPECT_EQ(callTw("TwHttpCall", "GET", base + longPath).code, 200);
    ASSERT_EQ(server.log().size(), 1u);
    EXPECT_EQ(server.log().all()[0].target, longPath);
}

TEST(HostileInput, OutOfRangeRequestFlagsActAsDocumented) {
    HttpServer http;
    HttpServer https(Tls::Valid);
    TempDir directory;
    const ScopedWorkingDirectory inDirectory(directory.path());
    directory.write("curl-ca-bundle.crt", readFile(tlsFiles().otherCaCert));  // trusts nothing here
    for (const int flag : OUT_OF_RANGE) {
        SCOPED_TRACE(flag);
        // bodyIsBase64 other than 1: sent unchanged.
        EXPECT_EQ(callCore(http.url("/echo"), "", "", "POST", "", "SGk=", flag, 0, 0).body, "SGk=");
        // responseEncoding outside 0-5: raw.
        EXPECT_EQ(callCore(http.url("/hi"), "", "", "GET", "", "", 0, flag, 0).body, "Hi\n");
        // Only the lowest bit of skipCertificateVerification counts.
        const CallResult result = callCore(https.url("/hi"), "", "", "GET", "", "", 0, 0, flag);
        if ((flag & 1) != 0) {
            EXPECT_EQ(result.code, 200);
        } else {
            expectFailure(result, curlFailure(CURLE_PEER_FAILED_VERIFICATION));
        }
    }
}

TEST(HostileInput, OutOfRangeEncoderArgumentsActAsDocumented) {
    const char* const text = "a b/;é&=";
    const char* const json = R"({"k":"a b/;é&="})";
    for (const int style : {INT_MIN, -1, 4, INT_MAX}) {
        EXPECT_EQ(escapeStyle(text, style), escapeStyle(text, 1)) << style;
        EXPECT_EQ(queryStyle(json, style), queryStyle(json, 1)) << style;
    }
    for (const int count : {INT_MIN, -1, 0}) {
        EXPECT_EQ(escapeWith("ab", "ab", count), "%61%62") << count;
        EXPECT_EQ(queryWith(R"(["a"])", "0a", count), "%30=%61") << count;
    }
}
