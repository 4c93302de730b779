// The request JSON of TwHttpRequest: its option table, its parser, and the
// libcurl options each setting becomes.
#pragma once

#include "Tarnwell.h"

#include <cstdint>
#include <optional>
#include <string>

namespace Tarnwell {

enum class AuthScheme { Any, Basic, Digest };

struct RequestOptions final : SessionSetup {
    std::string url;
    std::string method;
    // The headers object as header JSON text; "" for none.
    std::string headersJson;
    // The body as given, or base64 text when bodyIsBase64.
    std::string body;
    bool bodyIsBase64 = false;
    std::string username;
    std::string password;
    AuthScheme auth = AuthScheme::Any;
    int responseEncoding = 0;
    bool verifyCertificates = true;
    // The trust store with verification on: the caBundle option, or
    // libcurl's built-in one for "system", or else CA_BUNDLE_FILE.
    std::string caFile = CA_BUNDLE_FILE;
    std::string caDirectory;
    long timeoutMs = 0;
    long connectTimeoutMs = 0;
    long maxRedirects = 30;
    std::optional<std::string> proxy;  // absent: libcurl's environment variables
    bool decompress = false;
    bool reuseConnections = false;
    std::size_t maxBodyBytes = SIZE_MAX;  // SIZE_MAX: no limit

    CURL* acquireHandle() override;
    void releaseHandle(CURL* handle) noexcept override;
    void configure(CURL* handle) const override;
};

// Throws std::runtime_error or std::invalid_argument with the message the
// host receives. requestJson must not be null.
RequestOptions parseRequestOptions(const char* requestJson);

}  // namespace Tarnwell
