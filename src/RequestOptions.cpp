// The request JSON of TwHttpRequest: one table row per option says how its
// value is read into the typed request.
#include "RequestOptions.h"

#include "HeaderJson.h"
#include "JsonInput.h"
#include "Messages.h"
#include "base64.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <climits>
#include <stdexcept>

namespace Tarnwell {

namespace {

using nlohmann::json;

constexpr const char* SYSTEM_CA_BUNDLE = "system";

// The request being read, and what is known only once every option is.
struct Reading {
    Request request;
    bool bodyIsBase64 = false;
};

[[noreturn]] void refuse(const char* name, const std::string& predicate) {
    throw std::invalid_argument(std::string(Messages::OPTION_PREFIX) + name + " " + predicate + ".");
}

[[noreturn]] void reject(const char* name, const char* kind) {
    refuse(name, std::string("must be ") + kind);
}

// Any string; for the body and the method, whose zero bytes the request
// pipeline itself refuses or sends.
std::string anyText(const char* name, const json& value) {
    if (!value.is_string()) reject(name, "a string");
    return value.get<std::string>();
}

// A string without zero bytes: libcurl reads these as C strings, so a zero
// byte would silently cut the value short.
std::string text(const char* name, const json& value) {
    std::string result = anyText(name, value);
    if (result.find('\0') != std::string::npos) refuse(name, "must not contain zero bytes");
    return result;
}

bool flag(const char* name, const json& value) {
    if (!value.is_boolean()) reject(name, "a boolean");
    return value.get<bool>();
}

// A number with an integral value from 0 to max; hosts whose numbers are
// doubles send 5000 as 5000.0.
std::optional<std::uint64_t> wholeNumber(const json& value, std::uint64_t max) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number <= max) return number;
    } else if (value.is_number_float()) {
        const double number = value.get<double>();
        // Compared as doubles: max itself may not be one, but 2^64 is.
        if (number >= 0 && number < 18446744073709551616.0 && number == std::floor(number) &&
            static_cast<std::uint64_t>(number) <= max) {
            return static_cast<std::uint64_t>(number);
        }
    }
    return std::nullopt;
}

long nonNegative(const char* name, const json& value) {
    const auto number = wholeNumber(value, static_cast<std::uint64_t>(LONG_MAX));
    if (!number) reject(name, "a non-negative integer");
    return static_cast<long>(*number);
}

std::size_t positive(const char* name, const json& value) {
    const auto number = wholeNumber(value, SIZE_MAX - 1);
    if (!number || *number == 0) reject(name, "a positive integer");
    return static_cast<std::size_t>(*number);
}

// A proxy URL whose user name or password hides a control character would
// be dropped by libcurl when the transfer starts, and the request would go
// around the proxy; such a proxy is refused instead.
std::string proxyUrl(const char* name, const json& value) {
    std::string proxy = text(name, value);
    if (proxy.empty()) return proxy;
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed) throw std::bad_alloc();
    if (curl_url_set(parsed.get(), CURLUPART_URL, proxy.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_GUESS_SCHEME) !=
        CURLUE_OK) {
        return proxy;  // libcurl fails the transfer on such a proxy itself
    }
    for (const auto& [part, missing] : {std::pair{CURLUPART_USER, CURLUE_NO_USER},
                                       std::pair{CURLUPART_PASSWORD, CURLUE_NO_PASSWORD}}) {
        char* decoded = nullptr;
        const CURLUcode result = curl_url_get(parsed.get(), part, &decoded, CURLU_URLDECODE);
        const bool unsafe = decoded != nullptr && std::any_of(decoded, decoded + std::strlen(decoded), [](char c) {
                                return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
                            });
        curl_free(decoded);
        if ((result != CURLUE_OK && result != missing) || unsafe) {
            reject(name, "a URL without control characters in its user name or password");
        }
    }
    return proxy;
}

// "system", or a file name; the transport opens only a regular file.
void trustStore(const char* name, const json& value, SessionSettings& options) {
    const std::string bundle = text(name, value);
    if (bundle == SYSTEM_CA_BUNDLE) {
        // libcurl's built-in defaults, as it was built.
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        options.caFile = info->cainfo != nullptr ? info->cainfo : "";
        options.caDirectory = info->capath != nullptr ? info->capath : "";
        return;
    }
    if (bundle.empty()) reject(name, "a file name or \"system\"");
    options.caFile = bundle;
    options.caFileNamed = true;
    options.caDirectory.clear();
}

AuthScheme authScheme(const char* name, const json& value) {
    const std::string scheme = value.is_string() ? value.get<std::string>() : "";
    if (scheme == "any") return AuthScheme::Any;
    if (scheme == "basic") return AuthScheme::Basic;
    if (scheme == "digest") return AuthScheme::Digest;
    reject(name, R"("any", "basic" or "digest")");
}

ResponseEncoding responseEncoding(const char* name, const json& value) {
    if (value.is_string()) {
        if (const auto encoding = namedResponseEncoding(value.get_ref<const std::string&>())) return *encoding;
    } else if (const auto number = wholeNumber(value, 5)) {
        if (const auto encoding = numberedResponseEncoding(static_cast<int>(*number))) return *encoding;
    }
    reject(name, ("one of " + responseEncodingNames() + " or an integer from 0 to 5").c_str());
}

struct Option {
    const char* name;
    void (*read)(const char* name, const json& value, Reading& reading);
};

// Every member the request JSON may hold.
const std::array<Option, 20> OPTIONS{{
    {"url", [](const char* n, const json& v, Reading& r) { r.request.url = text(n, v); }},
    {"method", [](const char* n, const json& v, Reading& r) { r.request.method = anyText(n, v); }},
    {"headers",
     [](const char* n, const json& v, Reading& r) {
         if (!v.is_object()) reject(n, "an object");
         r.request.headers = HeaderJson::headersFromJson(v);
     }},
    {"body", [](const char* n, const json& v, Reading& r) { r.request.body = anyText(n, v); }},
    {"bodyBase64",
     [](const char* n, const json& v, Reading& r) {
         r.request.body = text(n, v);
         r.bodyIsBase64 = true;
     }},
    {"bodyFile", [](const char* n, const json& v, Reading& r) { r.request.bodyFile = text(n, v); }},
    {"outputFile", [](const char* n, const json& v, Reading& r) { r.request.outputFile = text(n, v); }},
    {"username", [](const char* n, const json& v, Reading& r) { r.request.session.username = text(n, v); }},
    {"password", [](const char* n, const json& v, Reading& r) { r.request.session.password = text(n, v); }},
    {"auth", [](const char* n, const json& v, Reading& r) { r.request.session.auth = authScheme(n, v); }},
    {"responseEncoding",
     [](const char* n, const json& v, Reading& r) { r.request.encoding = responseEncoding(n, v); }},
    {"verifyCertificates",
     [](const char* n, const json& v, Reading& r) { r.request.session.verifyCertificates = flag(n, v); }},
    {"caBundle", [](const char* n, const json& v, Reading& r) { trustStore(n, v, r.request.session); }},
    {"timeoutMs", [](const char* n, const json& v, Reading& r) { r.request.session.timeoutMs = nonNegative(n, v); }},
    {"connectTimeoutMs",
     [](const char* n, const json& v, Reading& r) { r.request.session.connectTimeoutMs = nonNegative(n, v); }},
    {"maxRedirects",
     [](const char* n, const json& v, Reading& r) { r.request.session.maxRedirects = nonNegative(n, v); }},
    {"proxy", [](const char* n, const json& v, Reading& r) { r.request.session.proxy = proxyUrl(n, v); }},
    {"decompress", [](const char* n, const json& v, Reading& r) { r.request.session.decompress = flag(n, v); }},
    {"reuseConnections",
     [](const char* n, const json& v, Reading& r) {
         r.request.session.connections = flag(n, v) ? ConnectionSource::Pool : ConnectionSource::OwnHandle;
     }},
    {"maxBodyBytes",
     [](const char* n, const json& v, Reading& r) { r.request.session.maxBodyBytes = positive(n, v); }},
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

Request parseRequestOptions(const char* requestJson) {
    json document;
    try {
        document = JsonInput::parseJson(requestJson);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string(Messages::REQUEST_JSON_PREFIX) + error.what());
    }
    if (!document.is_object()) throw std::invalid_argument(Messages::REQUEST_NOT_OBJECT);
    Reading reading;
    for (const auto& member : document.items()) {
        const auto option = std::find_if(OPTIONS.begin(), OPTIONS.end(),
                                         [&](const Option& candidate) { return member.key() == candidate.name; });
        if (option == OPTIONS.end()) {
            throw std::invalid_argument(Messages::UNKNOWN_OPTION_PREFIX + member.key() + ".");
        }
        option->read(option->name, member.value(), reading);
    }
    if (!document.contains("url")) throw std::invalid_argument(Messages::URL_REQUIRED);
    if (document.contains("body") && document.contains("bodyBase64")) {
        reject("bodyBase64", "absent when body is given");
    }
    if (document.contains("bodyFile") && (document.contains("body") || document.contains("bodyBase64"))) {
        reject("bodyFile", "absent when body or bodyBase64 is given");
    }
    Request& request = reading.request;
    // The file gets the body's bytes as they are.
    if (request.outputFile && request.encoding != ResponseEncoding::Raw) {
        reject("responseEncoding", "\"raw\" when outputFile is given");
    }
    // A pooled connection must stay in step with the server: the library
    // frames every body itself.
    if (request.session.connections == ConnectionSource::Pool) {
        for (const auto& header : request.headers) {
            if (namesFraming(header.name)) throw std::invalid_argument(Messages::FRAMING_HEADERS);
        }
    }
    if (reading.bodyIsBase64) request.body = base64_decode(request.body, false);
    return std::move(reading.request);
}

}  // namespace Tarnwell
