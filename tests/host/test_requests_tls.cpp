// Certificate verification: on by default with the CA bundle
// "curl-ca-bundle.crt" taken from the current directory, off when bit 0 of
// the flag is set.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace tw_test;

namespace {

// A working directory holding the given CA bundle, or none ("").
class BundleDirectory {
public:
    explicit BundleDirectory(const std::string& caFile) {
        if (!caFile.empty()) dir_.write("curl-ca-bundle.crt", readFile(caFile));
    }

private:
    TempDir dir_;
    ScopedWorkingDirectory cwd_{dir_.path()};
};

CallResult fetch(const HttpServer& server, int skipCertificateVerification) {
    return callCore(server.url("/hi"), "", "", "GET", "", "", 0, 0, skipCertificateVerification);
}

}  // namespace

TEST(Certificates, BundleInTheCurrentDirectoryHoldingTheCaVerifies) {
    HttpServer server(Tls::Valid);
    const BundleDirectory cwd(tlsFiles().caCert);
    const CallResult result = callTw("TwHttpCall", "GET", server.url("/hi"));
    EXPECT_EQ(result.code, 200) << result.body;
    EXPECT_EQ(result.body, "Hi\n");
}

TEST(Certificates, OnlyBitZeroSwitchesVerificationOff) {
    HttpServer server(Tls::Valid);
    // Verification fails for want of a bundle, then for want of trust.
    for (const std::string& bundle : {std::string(), tlsFiles().otherCaCert}) {
        SCOPED_TRACE(bundle);
        const BundleDirectory cwd(bundle);
        for (const int flag : {0, 1, 2, 3, -1, 4, INT_MIN, INT_MAX}) {
            SCOPED_TRACE(flag);
            const CallResult result = fetch(server, flag);
            if ((flag & 1) != 0) {
                EXPECT_EQ(result.code, 200) << result.body;
            } else {
                expectCurlFailure(result);
            }
        }
    }
}
