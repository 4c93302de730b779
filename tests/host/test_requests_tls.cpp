// Certificate verification: on by default with the CA bundle
// "curl-ca-bundle.crt" taken from the current directory, off when bit 0 of
// the flag is set.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
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

namespace {

// libcurl's built-in CA directory, or "" when it has none. Host tests do
// not link libcurl, so it is loaded here (the copy the library uses).
std::string libcurlCaDirectory() {
    void* curl = dlopen("libcurl.so.4", RTLD_NOW);
    if (curl == nullptr) return "";
    using Init = void* (*)();
    using GetInfo = int (*)(void*, int, ...);
    using Cleanup = void (*)(void*);
    const auto init = reinterpret_cast<Init>(dlsym(curl, "curl_easy_init"));
    const auto getinfo = reinterpret_cast<GetInfo>(dlsym(curl, "curl_easy_getinfo"));
    const auto cleanup = reinterpret_cast<Cleanup>(dlsym(curl, "curl_easy_cleanup"));
    constexpr int CURLINFO_CAPATH = 0x100000 + 62;  // a string, from curl/curl.h
    std::string directory;
    if (init != nullptr && getinfo != nullptr && cleanup != nullptr) {
        void* handle = init();
        const char* path = nullptr;
        if (handle != nullptr && getinfo(handle, CURLINFO_CAPATH, &path) == 0 && path != nullptr) directory = path;
        cleanup(handle);
    }
    dlclose(curl);
    return directory;
}

// The name OpenSSL looks a CA up by in a CA directory: its subject hash.
std::string hashedName(const std::string& certFile) {
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_file(certFile.c_str(), "r"), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr), X509_free);
    char name[16];
    std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(cert.get()));
    return name;
}

}  // namespace

TEST(Certificates, OnlyTheBundleIsTrustedNotLibcurlsCaDirectory) {
    const std::string directory = libcurlCaDirectory();
    if (directory.empty() || ::access(directory.c_str(), W_OK) != 0) {
        GTEST_SKIP() << "cannot add a CA to libcurl's CA directory '" << directory << "'";
    }
    // The CA's name is unique to this process, so is the file; it goes again
    // when the test ends.
    const std::string entry = directory + "/" + hashedName(tlsFiles().hiddenCaCert);
    std::ofstream(entry, std::ios::binary) << readFile(tlsFiles().hiddenCaCert);
    const std::unique_ptr<const char, int (*)(const char*)> removeEntry(entry.c_str(), std::remove);
    HttpServer server(Tls::HiddenCa);
    const BundleDirectory cwd(tlsFiles().otherCaCert);
    expectCurlFailure(fetch(server, 0));
    EXPECT_EQ(fetch(server, 1).code, 200);
}
