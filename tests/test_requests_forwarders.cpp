// The sixteen request exports: each one's parameter order and the flags it
// fixes, checked by what a server receives and what the host gets back.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace tw_test;

namespace {

// Every argument an export can take; each export picks its own.
struct Args {
    std::string url, username, password, method, headersJson, body;
    int bodyIsBase64, responseEncoding, skipCertificateVerification;
};

using Invoke = std::function<int(const Args&, char**, char**)>;

struct Forwarder {
    const char* name;
    Invoke invoke;
    bool credentials;   // passes username and password on
    int bodyIsBase64;   // in effect for Args::bodyIsBase64 == 1
    int encoding;       // in effect for Args::responseEncoding == 5
    bool skipPassedOn;  // passes skipCertificateVerification on
};

using AuthFn = int(const char*, const char*, const char*, const char*, const char*, const char*, char**, char**);
using SendFn = int(const char*, const char*, const char*, const char*, int, char**, char**);
using SendAuthFn = int(const char*, const char*, const char*, const char*, const char*, const char*, int, char**,
                       char**);
using SendEncodedFn = int(const char*, const char*, const char*, const char*, int, int, int, char**, char**);

template <typename Fn>
Fn* resolve(const char* name) {
    return Host::instance().fn<Fn>(name);
}

Forwarder tw(const char* name, int bodyIsBase64, int encoding) {
    return {name,
            [name](const Args& a, char** h, char** b) {
                return resolve<RequestFn7>(name)(a.method.c_str(), a.url.c_str(), a.headersJson.c_str(), a.body.c_str(),
                                                 h, b);
            },
            false,
            bodyIsBase64,
            encoding,
            false};
}

Forwarder twAuth(const char* name, int bodyIsBase64, int encoding) {
    return {name,
            [name](const Args& a, char** h, char** b) {
                return resolve<AuthFn>(name)(a.method.c_str(), a.url.c_str(), a.username.c_str(), a.password.c_str(),
                                             a.headersJson.c_str(), a.body.c_str(), h, b);
            },
            true,
            bodyIsBase64,
            encoding,
            false};
}

std::vector<Forwarder> allRequestExports() {
    return {
        {"sendAuthEncodedRequestEncodeResponse",
         [](const Args& a, char** h, char** b) {
             return resolve<CoreFn>("sendAuthEncodedRequestEncodeResponse")(
                 a.url.c_str(), a.username.c_str(), a.password.c_str(), a.method.c_str(), a.headersJson.c_str(),
                 a.body.c_str(), a.bodyIsBase64, a.responseEncoding, a.skipCertificateVerification, h, b);
         },
         true, 1, 5, true},
        {"sendEncodedRequestEncodeResponse",
         [](const Args& a, char** h, char** b) {
             return resolve<SendEncodedFn>("sendEncodedRequestEncodeResponse")(
                 a.url.c_str(), a.method.c_str(), a.headersJson.c_str(), a.body.c_str(), a.bodyIsBase64,
                 a.responseEncoding, a.skipCertificateVerification, h, b);
         },
         false, 1, 5, true},
        {"sendAuthRequest",
         [](const Args& a, char** h, char** b) {
             return resolve<SendAuthFn>("sendAuthRequest")(a.url.c_str(), a.username.c_str(), a.password.c_str(),
                                                           a.method.c_str(), a.headersJson.c_str(), a.body.c_str(),
                                                           a.skipCertificateVerification, h, b);
         },
         true, 0, 0, true},
        {"sendRequest",
         [](const Args& a, char** h, char** b) {
             return resolve<SendFn>("sendRequest")(a.url.c_str(), a.method.c_str(), a.headersJson.c_str(),
                                                   a.body.c_str(), a.skipCertificateVerification, h, b);
         },
         false, 0, 0, true},
        tw("TwHttpCall", 0, 0),
        tw("TwHttpCallBase64", 0, 1),
        tw("TwHttpCallBytes", 0, 3),
        tw("TwHttpCallIn64", 1, 0),
        tw("TwHttpCallBase64In64", 1, 1),
        tw("TwHttpCallBytesIn64", 1, 3),
        twAuth("TwAuthHttpCall", 0, 0),
        twAuth("TwAuthHttpCallBase64", 0, 1),
        twAuth("TwAuthHttpCallBytes", 0, 3),
        twAuth("TwAuthHttpCallIn64", 1, 0),
        twAuth("TwAuthHttpCallBase64In64", 1, 1),
        twAuth("TwAuthHttpCallBytesIn64", 1, 3),
    };
}

CallResult call(const Forwarder& forwarder, const Args& args) {
    char* headers = nullptr;
    char* body = nullptr;
    const int code = forwarder.invoke(args, &headers, &body);
    return takeResult(code, headers, body);
}

// "Hi\n" in the encodings the exports can fix.
std::string encodedHi(int encoding) {
    switch (encoding) {
        case 1: return "SGkK";
        case 3: return "72,105,10";
        case 5: return "48,69,0A";
        default: return "Hi\n";
    }
}

const std::string EXPECTED_AUTHORIZATION = "Basic " + base64Encode("user:secret");

// Challenges every request without credentials, after reading its body.
std::string challengeUnlessAuthorized(const ReceivedRequest& request) {
    if (!request.hasHeader("Authorization")) {
        return httpResponse(401, "Hi\n", {"WWW-Authenticate: Basic realm=\"fwd\""});
    }
    return httpResponse(200, "Hi\n");
}

}  // namespace

TEST(RequestExports, EachPassesItsArgumentsInOrderAndFixesItsFlags) {
    for (const Forwarder& forwarder : allRequestExports()) {
        SCOPED_TRACE(forwarder.name);
        RawServer server(challengeUnlessAuthorized);
        const Args args{server.url("/fwd"), "user", "secret", "PATCH", R"({"X-Arg":"h"})", "SGk=", 1, 5, 0};
        const CallResult result = call(forwarder, args);

        EXPECT_EQ(result.code, forwarder.credentials ? 200 : 401) << result.body;
        EXPECT_EQ(result.body, encodedHi(forwarder.encoding));
        const auto requests = server.log().all();
        ASSERT_EQ(requests.size(), forwarder.credentials ? 2u : 1u);
        for (const auto& request : requests) {
            EXPECT_EQ(request.method, "PATCH");
            EXPECT_EQ(request.target, "/fwd");
            EXPECT_EQ(request.header("X-Arg"), "h");
            EXPECT_EQ(request.body, forwarder.bodyIsBase64 == 1 ? "Hi" : "SGk=");
        }
        EXPECT_FALSE(requests.front().hasHeader("Authorization"));
        if (forwarder.credentials) {
            EXPECT_EQ(requests.back().header("Authorization"), EXPECTED_AUTHORIZATION);
        }
    }
}

TEST(RequestExports, OnlyTheSendExportsCanSwitchVerificationOff) {
    HttpServer server(Tls::Valid);
    TempDir noBundle;
    const ScopedWorkingDirectory cwd(noBundle.path());
    for (const Forwarder& forwarder : allRequestExports()) {
        SCOPED_TRACE(forwarder.name);
        const Args args{server.url("/echo"), "user", "secret", "PUT", "", "SGk=", 1, 0, 1};
        const CallResult result = call(forwarder, args);
        if (forwarder.skipPassedOn) {
            EXPECT_EQ(result.code, 200) << result.body;
        } else {
            expectFailure(result, curlFailure(CURLE_SSL_CACERT_BADFILE));
        }
    }
}
