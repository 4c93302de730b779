// Pooled calls and the CA bundle: a changed or removed bundle counts for the
// next new connection, whatever TLS sessions and caches the pool holds.
#include "support/OptionRequests.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace tw_test;
using nlohmann::json;

TEST(ConnectionReuse, ChangedOrRemovedCaBundleCountsForTheNextConnection) {
    const HttpServer server(Tls::Valid);
    const TempDir directory;
    const std::string trusting = readFile(tlsFiles().caCert);
    const std::string bundle = directory.write("ca.pem", trusting);
    // "Connection: close" ends every connection, so each call makes a new
    // one, which may resume the TLS session of the one before.
    const std::string requestJson = json{{"url", server.url("/hi")},
                                         {"reuseConnections", true},
                                         {"caBundle", bundle},
                                         {"headers", {{"Connection", "close"}}}}
                                        .dump();
    const struct {
        const char* step;
        const std::string* contents;  // nullptr: the file is removed
        std::string curlFailure;      // "" for success
    } steps[] = {
        {"trusted", &trusting, ""},
        {"trusted again", &trusting, ""},
        {"other CA", nullptr, CURL_UNTRUSTED_PEER},
        {"removed", nullptr, CURL_BAD_CA_FILE},
        {"trusted once more", &trusting, ""},
    };
    const std::string other = readFile(tlsFiles().otherCaCert);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        if (step.contents != nullptr) {
            directory.write("ca.pem", *step.contents);
        } else if (step.curlFailure == CURL_UNTRUSTED_PEER) {
            directory.write("ca.pem", other);
        } else {
            std::remove(bundle.c_str());
        }
        const CallResult result = callOptions(requestJson.c_str());
        if (step.curlFailure.empty()) {
            EXPECT_EQ(result.code, 200) << result.body;
        } else {
            expectCurlFailureWith(result, step.curlFailure);
        }
    }
}
