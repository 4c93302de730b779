// A failed transfer names libcurl's error and, in parentheses, the detail
// libcurl gave for it (Debian 12's libcurl wording).
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace tw_test;

TEST(FailureDetail, LibcurlsDetailFollowsItsText) {
    TempDir bundle;
    bundle.write("curl-ca-bundle.crt", readFile(tlsFiles().otherCaCert));
    const ScopedWorkingDirectory cwd(bundle.path());
    const struct {
        const char* what;
        std::function<CallResult()> call;
        std::string detail;  // what follows libcurl's text
    } cases[] = {
        {"untrusted certificate",
         [] {
             HttpServer server(Tls::Valid);
             return callTw("TwHttpCall", "GET", server.url("/hi"));
         },
         " (SSL certificate problem: unable to get local issuer certificate)"},
        {"HTTP/0.9 reply",
         [] {
             RawServer server("hello\r\n");
             return callTw("TwHttpCall", "GET", server.url());
         },
         " (Received HTTP/0.9 when not allowed)"},
        // libcurl gives no detail for a header line over its limit.
        {"oversized header",
         [] {
             RawServer server(httpResponse(200, "ok", {"X-Big: " + std::string(400 * 1024, 'h')}));
             return callTw("TwHttpCall", "GET", server.url());
         },
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CallResult result = c.call();
        expectCurlFailure(result);
        const std::string& body = result.body;
        if (c.detail.empty()) {
            EXPECT_EQ(body.find('(', CURL_FAILURE_PREFIX.size()), std::string::npos) << body;
        } else {
            EXPECT_EQ(body.size() > c.detail.size() ? body.substr(body.size() - c.detail.size()) : body, c.detail);
        }
    }
}
