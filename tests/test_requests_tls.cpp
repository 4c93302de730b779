// Certificate verification: on by default with the CA bundle
// "curl-ca-bundle.crt" taken from the current directory, off when bit 0 of
// the flag is set.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

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
    const std::string noBundle = curlFailure(CURLE_SSL_CACERT_BADFILE);
    const std::string untrusted = curlFailure(CURLE_PEER_FAILED_VERIFICATION);
    const struct {
        const char* bundle;
        std::string expectedWhenVerifying;
    } directories[] = {{"", noBundle}, {"other", untrusted}};
    for (const auto& directory : directories) {
        SCOPED_TRACE(directory.expectedWhenVerifying);
        const BundleDirectory cwd(*directory.bundle != '\0' ? tlsFiles().otherCaCert : "");
        for (const int flag : {0, 1, 2, 3, -1, 4}) {
            SCOPED_TRACE(flag);
            const CallResult result = fetch(server, flag);
            if ((flag & 1) != 0) {
                EXPECT_EQ(result.code, 200) << result.body;
            } else {
                expectFailure(result, directory.expectedWhenVerifying);
            }
        }
    }
}
