// Calls TwHttpRequest the way a host does, with the request JSON built by
// the test, plus loopback listeners that never answer.
#pragma once

#include "support/Host.h"
#include "support/Messages.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tw_test {

// requestJson NULL when json is null.
inline CallResult callOptions(const char* json) {
    char* headers = nullptr;
    char* body = nullptr;
    const int code = Host::instance().api().TwHttpRequest(json, &headers, &body);
    return takeResult(code, headers, body);
}

inline CallResult callOptions(const nlohmann::json& options) {
    return callOptions(options.dump().c_str());
}

// libcurl's texts for the failures these tests cause on purpose, where the
// test is about which failure it is (the TLS verification rather than the CA
// file, a time-out). A failure message starts with CURL_FAILURE_PREFIX and
// the text; libcurl may add detail after it.
inline const std::string CURL_UNSUPPORTED_PROTOCOL = "Unsupported protocol";
inline const std::string CURL_TIMEOUT = "Timeout was reached";
inline const std::string CURL_TOO_MANY_REDIRECTS = "Number of redirects hit maximum amount";
inline const std::string CURL_UNTRUSTED_PEER = "SSL peer certificate or SSH remote key was not OK";
inline const std::string CURL_BAD_CA_FILE = "Problem with the SSL CA cert (path? access rights?)";

inline void expectCurlFailureWith(const CallResult& result, const std::string& curlText) {
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.headers, "");
    EXPECT_EQ(result.body.rfind(CURL_FAILURE_PREFIX + curlText, 0), 0u) << result.body;
}

// A socket on 127.0.0.1 that listens but never accepts. With room in its
// backlog the kernel completes connections that then hear nothing; with
// the backlog full the kernel ignores new connection attempts, so a
// connect never ends.
class SilentListener {
public:
    enum class Backlog { Room, Full };
    explicit SilentListener(Backlog backlog);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::string url() const;

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

}  // namespace tw_test
