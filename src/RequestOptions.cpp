// The request JSON of TwHttpRequest: one table row per option says how its
// value is read; configure() turns the settings into libcurl options.
#include "RequestOptions.h"

#include "ConnectionPool.h"
#include "JsonInput.h"
#include "Messages.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <stdexcept>

namespace Tarnwell {

namespace {

using nlohmann::json;

constexpr const char* SYSTEM_CA_BUNDLE = "system";
constexpr const char* RESPONSE_ENCODINGS[] = {"raw", "base64", "decimalSpaces", "decimalCommas", "hexSpaces",
                                              "hexCommas"};

[[noreturn]] void reject(const char* name, const char* kind) {
    throw std::invalid_argument(std::string(Messages::OPTION_PREFIX) + name + " must be " + kind + ".");
}

std::string text(const char* name, const json& value) {
    if (!value.is_string()) reject(name, "a string");
    return value.get<std::string>();
}

bool flag(const char* name, const json& value) {
    if (!value.is_boolean()) reject(name, "a boolean");
    return value.get<bool>();
}

long nonNegative(const char* name, const json& value) {
    const bool fits = value.is_number_unsigned() && value.get<std::uint64_t>() <= static_cast<std::uint64_t>(LONG_MAX);
    if (!fits) reject(name, "a non-negative integer");
    return static_cast<long>(value.get<std::uint64_t>());
}

AuthScheme authScheme(const char* name, const json& value) {
    const std::string scheme = value.is_string() ? value.get<std::string>() : "";
    if (scheme == "any") return AuthScheme::Any;
    if (scheme == "basic") return AuthScheme::Basic;
    if (scheme == "digest") return AuthScheme::Digest;
    reject(name, R"("any", "basic" or "digest")");
}

int responseEncoding(const char* name, const json& value) {
    const auto* names = std::begin(RESPONSE_ENCODINGS);
    const auto count = static_cast<int>(std::size(RESPONSE_ENCODINGS));
    if (value.is_string()) {
        const auto found = std::find(names, names + count, value.get<std::string>());
        if (found != names + count) return static_cast<int>(found - names);
    } else if (value.is_number_integer() && value.get<std::int64_t>() >= 0 && value.get<std::int64_t>() < count) {
        return static_cast<int>(value.get<std::int64_t>());
    }
    reject(name,
           R"(one of "raw", "base64", "decimalSpaces", "decimalCommas", "hexSpaces", "hexCommas" or an integer from 0 to 5)");
}

struct Option {
    const char* name;
    void (*read)(const char* name, const json& value, RequestOptions& options);
};

// Every member the request JSON may hold.
const std::array<Option, 17> OPTIONS{{
    {"url", [](const char* n, const json& v, RequestOptions& o) { o.url = text(n, v); }},
    {"method", [](const char* n, const json& v, RequestOptions& o) { o.method = text(n, v); }},
    {"headers",
     [](const char* n, const json& v, RequestOptions& o) {
         if (!v.is_object()) reject(n, "an object");
         o.headersJson = v.empty() ? "" : v.dump();
     }},
    {"body", [](const char* n, const json& v, RequestOptions& o) { o.body = text(n, v); }},
    {"bodyBase64",
     [](const char* n, const json& v, RequestOptions& o) {
         o.body = text(n, v);
         o.bodyIsBase64 = true;
     }},
    {"username", [](const char* n, const json& v, RequestOptions& o) { o.username = text(n, v); }},
    {"password", [](const char* n, const json& v, RequestOptions& o) { o.password = text(n, v); }},
    {"auth", [](const char* n, const json& v, RequestOptions& o) { o.auth = authScheme(n, v); }},
    {"responseEncoding",
     [](const char* n, const json& v, RequestOptions& o) { o.responseEncoding = responseEncoding(n, v); }},
    {"verifyCertificates",
     [](const char* n, const json& v, RequestOptions& o) { o.verifyCertificates = flag(n, v); }},
    {"caBundle",
     [](const char* n, const json& v, RequestOptions& o) {
         o.caBundle = text(n, v);
         if (o.caBundle->empty()) reject(n, "a file name or \"system\"");
     }},
    {"timeoutMs", [](const char* n, const json& v, RequestOptions& o) { o.timeoutMs = nonNegative(n, v); }},
    {"connectTimeoutMs",
     [](const char* n, const json& v, RequestOptions& o) { o.connectTimeoutMs = nonNegative(n, v); }},
    {"maxRedirects", [](const char* n, const json& v, RequestOptions& o) { o.maxRedirects = nonNegative(n, v); }},
    {"proxy", [](const char* n, const json& v, RequestOptions& o) { o.proxy = text(n, v); }},
    {"decompress", [](const char* n, const json& v, RequestOptions& o) { o.decompress = flag(n, v); }},
    {"reuseConnections", [](const char* n, const json& v, RequestOptions& o) { o.reuseConnections = flag(n, v); }},
}};

bool namesFraming(std::string name) {
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t'; };
    name.erase(std::find_if_not(name.rbegin(), name.rend(), blank).base(), name.end());
    name.erase(name.begin(), std::find_if_not(name.begin(), name.end(), blank));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name == "content-length" || name == "transfer-encoding";
}

}  // namespace

RequestOptions parseRequestOptions(const char* requestJson) {
    json document;
    try {
        document = JsonInput::parseJson(requestJson);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string(Messages::REQUEST_JSON_PREFIX) + error.what());
    }
    if (!document.is_object()) throw std::invalid_argument(Messages::REQUEST_NOT_OBJECT);
    RequestOptions options;
    for (const auto& member : document.items()) {
        const auto option = std::find_if(OPTIONS.begin(), OPTIONS.end(),
                                         [&](const Option& candidate) { return member.key() == candidate.name; });
        if (option == OPTIONS.end()) {
            throw std::invalid_argument(Messages::UNKNOWN_OPTION_PREFIX + member.key() + ".");
        }
        option->read(option->name, member.value(), options);
    }
    if (!document.contains("url")) throw std::invalid_argument(Messages::URL_REQUIRED);
    if (document.contains("body") && document.contains("bodyBase64")) {
        reject("bodyBase64", "absent when body is given");
    }
    // A pooled connection must stay in step with the server: the library
    // frames every body itself.
    if (options.reuseConnections && document.contains("headers")) {
        for (const auto& header : document["headers"].items()) {
            if (namesFraming(header.key())) {
                throw std::invalid_argument(Messages::FRAMING_HEADERS);
            }
        }
    }
    return options;
}

CURL* RequestOptions::acquireHandle() {
    return reuseConnections ? ConnectionPool::instance().acquire() : curl_easy_init();
}

void RequestOptions::releaseHandle(CURL* handle) noexcept {
    if (reuseConnections) {
        ConnectionPool::instance().release(handle);
    } else {
        curl_easy_cleanup(handle);
    }
}

void RequestOptions::configure(CURL* handle) const {
    // Time-outs must not use signals in a multi-threaded host.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, maxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maxRedirects);
    if (!username.empty() && !password.empty() && auth != AuthScheme::Any) {
        curl_easy_setopt(handle, CURLOPT_HTTPAUTH, 
                         static_cast<long>(auth == AuthScheme::Basic ? CURLAUTH_BASIC : CURLAUTH_DIGEST));
    }
    if (verifyCertificates && caBundle) {
        if (*caBundle == SYSTEM_CA_BUNDLE) {
            // libcurl's built-in defaults, as it was built.
            const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
            curl_easy_setopt(handle, CURLOPT_CAINFO, info->cainfo);
            curl_easy_setopt(handle, CURLOPT_CAPATH, info->capath);
        } else {
            curl_easy_setopt(handle, CURLOPT_CAINFO, caBundle->c_str());
            curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
        }
    }
    if (proxy) curl_easy_setopt(handle, CURLOPT_PROXY, proxy->c_str());
    if (decompress) curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
}

}  // namespace Tarnwell
