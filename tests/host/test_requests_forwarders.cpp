// The sixteen request exports: each one's parameter order and the flags it
// fixes, checked by what a server receives and what the host gets back.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

using namespace tw_test;

namespace {

// What each request export fixes and passes on.
struct Forwarder {
    const char* name;
    bool credentials;   // passes username and password on
    int bodyIsBase64;   // in effect for bodyIsBase64 == 1
    int encoding;       // in effect for responseEncoding == 5
    bool skipPassedOn;  // passes skipCertificateVerification on
};

const Forwarder FORWARDERS[] = {
    {"sendAuthEncodedRequestEncodeResponse", true, 1, 5, true},
    {"sendEncodedRequestEncodeResponse", false, 1, 5, true},
    {"sendAuthRequest", true, 0, 0, true},
    {"sendRequest", false, 0, 0, true},
    {"TwHttpCall", false, 0, 0, false},
    {"TwHttpCallBase64", false, 0, 1, false},
    {"TwHttpCallBytes", false, 0, 3, false},
    {"TwHttpCallIn64", false, 1, 0, false},
    {"TwHttpCallBase64In64", false, 1, 1, false},
    {"TwHttpCallBytesIn64", false, 1, 3, false},
    {"TwAuthHttpCall", true, 0, 0, false},
    {"TwAuthHttpCallBase64", true, 0, 1, false},
    {"TwAuthHttpCallBytes", true, 0, 3, false},
    {"TwAuthHttpCallIn64", true, 1, 0, false},
    {"TwAuthHttpCallBase64In64", true, 1, 1, false},
    {"TwAuthHttpCallBytesIn64", true, 1, 3, false},
};

// Every argument any of them takes; each export picks its own by name.
NamedArgs allArgs(const std::string& url, const char* method, const char* headersJson, int skipVerification) {
    return {{{"url", url.c_str()},
             {"username", "user"},
             {"password", "secret"},
             {"method", method},
             {"headersJson", headersJson},
             {"requestBody", "SGk="}},
            {{"bodyIsBase64", 1}, {"responseEncoding", 5}, {"skipCertificateVerification", skipVerification}}};
}

CallResult call(const Forwarder& forwarder, const NamedArgs& args) {
    return tw_test::call(*tw::findExport(forwarder.name), args);
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

// The table above names each request export once.
TEST(RequestExports, TheTableCoversEveryRequestExport) {
    ASSERT_EQ(std::size(FORWARDERS), requestExports().size());
    for (std::size_t i = 0; i < std::size(FORWARDERS); ++i) EXPECT_STREQ(FORWARDERS[i].name, requestExports()[i]->name);
}

TEST(RequestExports, EachPassesItsArgumentsInOrderAndFixesItsFlags) {
    for (const Forwarder& forwarder : FORWARDERS) {
        SCOPED_TRACE(forwarder.name);
        RawServer server(challengeUnlessAuthorized);
        const CallResult result = call(forwarder, allArgs(server.url("/fwd"), "PATCH", R"({"X-Arg":"h"})", 0));

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
    for (const Forwarder& forwarder : FORWARDERS) {
        SCOPED_TRACE(forwarder.name);
        const CallResult result = call(forwarder, allArgs(server.url("/echo"), "PUT", "", 1));
        if (forwarder.skipPassedOn) {
            EXPECT_EQ(result.code, 200) << result.body;
        } else {
            expectCurlFailure(result);
        }
    }
}
