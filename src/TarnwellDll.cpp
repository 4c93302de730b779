#include "TarnwellDll.h"

#include "StringHelper.h"
#include "base64.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstring>
#include <new>
#include <stdexcept>

using Tarnwell::Header;

namespace {

constexpr const char* UNKNOWN_ERROR = "An unknown error occurred.";
constexpr const char* UNSAFE_HEADER = "Line breaks and zero bytes are not allowed in the method or request headers.";
// Deeper JSON would make serialising a value recurse that deep on the
// host's stack; no real header or query needs anything close to this.
constexpr std::size_t MAX_JSON_DEPTH = 1000;

// ---------------------------------------------------------------- JSON

nlohmann::json parseJson(const std::string& text) {
    const nlohmann::json::parser_callback_t limitDepth = [](int depth, nlohmann::json::parse_event_t,
                                                            nlohmann::json&) {
        if (static_cast<std::size_t>(depth) > MAX_JSON_DEPTH) {
            throw std::runtime_error("nesting deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels");
        }
        return true;
    };
    return nlohmann::json::parse(text, limitDepth, true, false);
}

// Strings give their content; everything else its compact JSON text.
std::string jsonValueText(const nlohmann::json& value) {
    return value.is_string() ? value.get_ref<const std::string&>() : value.dump();
}

void appendJsonString(std::string& out, const std::string& text) {
    static const char* const HEX = StringHelper::HEX_CHARACTERS;
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out.push_back(HEX[byte >> 4]);
                    out.push_back(HEX[byte & 0x0F]);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

// ------------------------------------------------------- host strings

// The host's strings end at the first zero byte, so that is where the copy ends.
std::unique_ptr<char[]> copyForHost(const std::string& text) {
    const void* zero = std::memchr(text.data(), '\0', text.size());
    const std::size_t length = zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - text.data())
                                               : text.size();
    auto copy = std::unique_ptr<char[]>(new char[length + 1]);
    std::memcpy(copy.get(), text.data(), length);
    copy[length] = '\0';
    return copy;
}

// `slack` extra bytes let a writer store a few bytes past the end before
// the terminator is set.
std::unique_ptr<char[]> newHostString(std::size_t length, std::size_t slack = 0) {
    auto text = std::unique_ptr<char[]>(new char[length + 1 + slack]);
    text[length] = '\0';
    return text;
}

// Never throws: if even the message cannot be allocated, the host gets NULL.
char* newHostStringOrNull(const char* text) noexcept {
    const std::size_t length = std::strlen(text);
    char* copy = new (std::nothrow) char[length + 1];
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

// ---------------------------------------------------- body encodings

struct DecimalTable {
    std::array<std::array<char, 3>, 256> digits{};
    std::array<unsigned char, 256> length{};
    constexpr DecimalTable() {
        for (int b = 0; b < 256; ++b) {
            const int n = b >= 100 ? 3 : b >= 10 ? 2 : 1;
            length[b] = static_cast<unsigned char>(n);
            int v = b;
            for (int i = n - 1; i >= 0; --i, v /= 10) digits[b][i] = static_cast<char>('0' + v % 10);
        }
    }
};
constexpr DecimalTable DECIMAL{};

std::unique_ptr<char[]> encodeDecimal(const unsigned char* bytes, std::size_t n, char separator) {
    std::size_t length = n > 0 ? n - 1 : 0;  // separators
    for (std::size_t i = 0; i < n; ++i) length += DECIMAL.length[bytes[i]];
    // Three digits are always copied (a fixed-size copy is much faster than
    // a variable one) and the pointer moves by the real count; the slack
    // keeps the last copy inside the array.
    auto text = newHostString(length, 2);
    char* out = text.get();
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) *out++ = separator;
        const unsigned char b = bytes[i];
        std::memcpy(out, DECIMAL.digits[b].data(), 3);
        out += DECIMAL.length[b];
    }
    text[length] = '\0';
    return text;
}

std::unique_ptr<char[]> encodeHex(const unsigned char* bytes, std::size_t n, char separator) {
    auto text = newHostString(n > 0 ? 3 * n - 1 : 0);
    char* out = text.get();
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) *out++ = separator;
        *out++ = StringHelper::HEX_CHARACTERS[bytes[i] >> 4];
        *out++ = StringHelper::HEX_CHARACTERS[bytes[i] & 0x0F];
    }
    return text;
}

std::unique_ptr<char[]> encodeBase64(const unsigned char* bytes, std::size_t n) {
    auto text = newHostString(base64_encoded_length(n));
    base64_encode_into(bytes, n, text.get(), false);
    return text;
}

// ---------------------------------------------------- request pipeline

struct RequestArgs {
    const char* url;
    const char* username;
    const char* password;
    const char* method;
    const char* headersJson;
    const char* requestBody;
    int bodyIsBase64;
    int responseEncoding;
    int skipCertificateVerification;
};

void requireText(const char* value, const char* name) {
    if (value == nullptr) throw std::invalid_argument(std::string("Argument must not be null: ") + name + ".");
}

void requireTexts(const RequestArgs& args) {
    requireText(args.url, "url");
    requireText(args.username, "username");
    requireText(args.password, "password");
    requireText(args.method, "method");
    requireText(args.headersJson, "headersJson");
    requireText(args.requestBody, "requestBody");
}

bool isUnsafeForHeaderLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void rejectHeaderInjection(const std::string& method, const std::vector<Header>& headers) {
    bool unsafe = isUnsafeForHeaderLine(method);
    for (const auto& header : headers) {
        unsafe = unsafe || isUnsafeForHeaderLine(header.name) || isUnsafeForHeaderLine(header.value);
    }
    if (unsafe) throw std::invalid_argument(UNSAFE_HEADER);
}

struct HostResult {
    std::unique_ptr<char[]> headers;
    std::unique_ptr<char[]> body;
    long code = 0;
};

HostResult performRequest(const RequestArgs& args) {
    requireTexts(args);
    Tarnwell::LibcurlWrapper session;
    if (!session.isInitialized()) {
        throw std::runtime_error("Initialization of LibcurlWrapper has failed for unknown reason.");
    }
    session.setUsername(args.username);
    session.setPassword(args.password);
    const std::string body =
        args.bodyIsBase64 == 1 ? base64_decode(std::string(args.requestBody), false) : std::string(args.requestBody);
    session.setVerifyCertificates((args.skipCertificateVerification & 1) != 0 ? 0 : 1);

    Tarnwell::Response response;
    {
        const std::vector<Header> headers = jsonToHeaders(args.headersJson);
        std::string method(args.method);
        rejectHeaderInjection(method, headers);
        response = session.makeSimpleRequest(args.url, std::move(method), headers, body);
    }
    HostResult result;
    result.headers = copyForHost(headersToJsonString(std::move(response.headers)));
    result.body = encodeResponseBody(response.body, args.responseEncoding);
    result.code = response.responseCode;
    return result;
}

int failWith(const char* message, char** responseHeaders, char** responseBody) noexcept {
    if (responseHeaders != nullptr) *responseHeaders = newHostStringOrNull("");
    if (responseBody != nullptr) *responseBody = newHostStringOrNull(message);
    return 0;
}

int runRequest(const RequestArgs& args, char** responseHeaders, char** responseBody) noexcept {
    if (responseHeaders == nullptr) {
        return failWith("Argument must not be null: responseHeaders.", responseHeaders, responseBody);
    }
    if (responseBody == nullptr) {
        return failWith("Argument must not be null: responseBody.", responseHeaders, responseBody);
    }
    try {
        HostResult result = performRequest(args);
        *responseHeaders = result.headers.release();
        *responseBody = result.body.release();
        return static_cast<int>(result.code);
    } catch (const std::exception& error) {
        return failWith(error.what(), responseHeaders, responseBody);
    } catch (...) {
        return failWith(UNKNOWN_ERROR, responseHeaders, responseBody);
    }
}

// ------------------------------------------------- percent-encoding

using AllowedTable = std::array<bool, 256>;

AllowedTable makeAllowedTable(const char* allowedCharacters, int allowedCount) {
    AllowedTable allowed{};
    if (allowedCharacters == nullptr) return allowed;
    for (int i = 0; i < allowedCount; ++i) allowed[static_cast<unsigned char>(allowedCharacters[i])] = true;
    return allowed;
}

std::size_t encodedLength(std::string_view text, const AllowedTable& allowed) {
    std::size_t length = text.size();
    for (const char c : text) length += allowed[static_cast<unsigned char>(c)] ? 0 : 2;
    return length;
}

char* encodeInto(std::string_view text, const AllowedTable& allowed, char* out) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (allowed[byte]) {
            *out++ = c;
        } else {
            *out++ = '%';
            *out++ = StringHelper::HEX_CHARACTERS[byte >> 4];
            *out++ = StringHelper::HEX_CHARACTERS[byte & 0x0F];
        }
    }
    return out;
}

void appendEncoded(std::string& out, std::string_view text, const AllowedTable& allowed) {
    const std::size_t start = out.size();
    out.resize(start + encodedLength(text, allowed));
    encodeInto(text, allowed, out.data() + start);
}

struct BuiltInSet {
    const char* characters;
    int count;
};

BuiltInSet builtInSet(int style) {
    switch (static_cast<UrlStyle>(style)) {
        case UrlStyle::JS: return {StringHelper::ALLOWED_CHARACTERS_JS, StringHelper::ALLOWED_COUNT_JS};
        case UrlStyle::Lax: return {StringHelper::ALLOWED_CHARACTERS_LAX, StringHelper::ALLOWED_COUNT_LAX};
        case UrlStyle::VeryLax:
            return {StringHelper::ALLOWED_CHARACTERS_VERYLAX, StringHelper::ALLOWED_COUNT_VERYLAX};
        default: return {StringHelper::ALLOWED_CHARACTERS_INTER, StringHelper::ALLOWED_COUNT_INTER};
    }
}

std::string buildQueryString(const char* jsonText, const AllowedTable& allowed) {
    std::string query;
    if (jsonText == nullptr || *jsonText == '\0') return query;
    nlohmann::json document;
    try {
        document = parseJson(jsonText);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return query;  // unusable JSON gives an empty query
    }
    for (const auto& item : document.items()) {
        if (!query.empty()) query.push_back('&');
        appendEncoded(query, item.key(), allowed);
        query.push_back('=');
        appendEncoded(query, jsonValueText(item.value()), allowed);
    }
    return query;
}

}  // namespace

// ------------------------------------------------------------ internals

std::vector<Header> jsonToHeaders(std::string text) {
    std::vector<Header> headers;
    if (text.empty()) return headers;
    nlohmann::json document;
    try {
        document = parseJson(text);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("Error parsing the header JSON: ") + error.what());
    }
    for (const auto& item : document.items()) {
        const auto& value = item.value();
        headers.push_back(Header{item.key(), value.is_null() ? std::string() : jsonValueText(value), false});
    }
    return headers;
}

std::string headersToJsonString(std::vector<Header> headers) {
    std::string text = "{";
    for (const auto& header : headers) {
        if (text.size() > 1) text.push_back(',');
        appendJsonString(text, header.name);
        text.push_back(':');
        appendJsonString(text, header.value);
    }
    text.push_back('}');
    return text;
}

std::unique_ptr<char[]> encodeResponseBody(const std::string& body, int responseEncoding) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    const std::size_t n = body.size();
    if (n == 0) return newHostString(0);
    switch (static_cast<ResponseEncoding>(responseEncoding)) {
        case ResponseEncoding::Base64: return encodeBase64(bytes, n);
        case ResponseEncoding::DecimalSpaces: return encodeDecimal(bytes, n, ' ');
        case ResponseEncoding::DecimalCommas: return encodeDecimal(bytes, n, ',');
        case ResponseEncoding::HexSpaces: return encodeHex(bytes, n, ' ');
        case ResponseEncoding::HexCommas: return encodeHex(bytes, n, ',');
        default: return copyForHost(body);
    }
}

std::string percentEncode(std::string_view text, const char* allowedCharacters, int allowedCount) {
    std::string out;
    appendEncoded(out, text, makeAllowedTable(allowedCharacters, allowedCount));
    return out;
}

// ------------------------------------------------------------- exports

extern "C" {

TW_API int sendAuthEncodedRequestEncodeResponse(const char* url, const char* username, const char* password,
                                                const char* method, const char* headersJson,
                                                const char* requestBody, int bodyIsBase64, int responseEncoding,
                                                int skipCertificateVerification, char** responseHeaders,
                                                char** responseBody) {
    const RequestArgs args{url,         username,     password,         method,
                           headersJson, requestBody, bodyIsBase64, responseEncoding,
                           skipCertificateVerification};
    return runRequest(args, responseHeaders, responseBody);
}

TW_API int sendEncodedRequestEncodeResponse(const char* url, const char* method, const char* headersJson,
                                            const char* requestBody, int bodyIsBase64, int responseEncoding,
                                            int skipCertificateVerification, char** responseHeaders,
                                            char** responseBody) {
    return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, bodyIsBase64,
                                                responseEncoding, skipCertificateVerification, responseHeaders,
                                                responseBody);
}

TW_API int sendAuthRequest(const char* url, const char* username, const char* password, const char* method,
                           const char* headersJson, const char* requestBody, int skipCertificateVerification,
                           char** responseHeaders, char** responseBody) {
    return sendAuthEncodedRequestEncodeResponse(url, username, password, method, headersJson, requestBody, 0, 0,
                                                skipCertificateVerification, responseHeaders, responseBody);
}

TW_API int sendRequest(const char* url, const char* method, const char* headersJson, const char* requestBody,
                       int skipCertificateVerification, char** responseHeaders, char** responseBody) {
    return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, 0, 0,
                                                skipCertificateVerification, responseHeaders, responseBody);
}

// The Tw family: method first, certificates always verified.
#define TW_DEFINE_HTTP_CALL(NAME, IN64, ENCODING)                                                              \
    TW_API int NAME(const char* method, const char* url, const char* headersJson, const char* requestBody,     \
                    char** responseHeaders, char** responseBody) {                                             \
        return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, IN64,       \
                                                    ENCODING, 0, responseHeaders, responseBody);               \
    }
#define TW_DEFINE_AUTH_HTTP_CALL(NAME, IN64, ENCODING)                                                         \
    TW_API int NAME(const char* method, const char* url, const char* username, const char* password,           \
                    const char* headersJson, const char* requestBody, char** responseHeaders,                  \
                    char** responseBody) {                                                                     \
        return sendAuthEncodedRequestEncodeResponse(url, username, password, method, headersJson, requestBody, \
                                                    IN64, ENCODING, 0, responseHeaders, responseBody);         \
    }

TW_DEFINE_HTTP_CALL(TwHttpCall, 0, 0)
TW_DEFINE_HTTP_CALL(TwHttpCallBase64, 0, 1)
TW_DEFINE_HTTP_CALL(TwHttpCallBytes, 0, 3)
TW_DEFINE_HTTP_CALL(TwHttpCallIn64, 1, 0)
TW_DEFINE_HTTP_CALL(TwHttpCallBase64In64, 1, 1)
TW_DEFINE_HTTP_CALL(TwHttpCallBytesIn64, 1, 3)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCall, 0, 0)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBase64, 0, 1)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBytes, 0, 3)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallIn64, 1, 0)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBase64In64, 1, 1)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBytesIn64, 1, 3)

TW_API void freemem(void* p) { delete[] static_cast<char*>(p); }

TW_API char* escapeUrlStyleAllowedCharacters(const char* text, const char* allowedCharacters, int allowedCount) {
    const std::string_view input = text != nullptr ? std::string_view(text) : std::string_view();
    const AllowedTable allowed = makeAllowedTable(allowedCharacters, allowedCount);
    char* result = new (std::nothrow) char[encodedLength(input, allowed) + 1];
    if (result != nullptr) *encodeInto(input, allowed, result) = '\0';
    return result;
}

TW_API char* escapeUrlStyle(const char* text, int style) {
    const BuiltInSet set = builtInSet(style);
    return escapeUrlStyleAllowedCharacters(text, set.characters, set.count);
}

TW_API char* TwUrlEncodeJS(const char* text) { return escapeUrlStyle(text, static_cast<int>(UrlStyle::JS)); }
TW_API char* TwUrlEncodeInter(const char* text) { return escapeUrlStyle(text, static_cast<int>(UrlStyle::Inter)); }
TW_API char* TwUrlEncodeLax(const char* text) { return escapeUrlStyle(text, static_cast<int>(UrlStyle::Lax)); }
TW_API char* TwUrlEncodeVeryLax(const char* text) {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::VeryLax));
}

TW_API char* toQueryStringAllowedCharacters(const char* jsonText, const char* allowedCharacters, int allowedCount) {
    try {
        const std::string query = buildQueryString(jsonText, makeAllowedTable(allowedCharacters, allowedCount));
        return copyForHost(query).release();
    } catch (...) {
        return nullptr;  // only memory exhaustion gets here
    }
}

TW_API char* toQueryString(const char* jsonText, int style) {
    const BuiltInSet set = builtInSet(style);
    return toQueryStringAllowedCharacters(jsonText, set.characters, set.count);
}

TW_API char* TwUrlEncodeQueryJS(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::JS));
}
TW_API char* TwUrlEncodeQueryInter(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::Inter));
}
TW_API char* TwUrlEncodeQueryLax(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::Lax));
}
TW_API char* TwUrlEncodeQueryVeryLax(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::VeryLax));
}

}  // extern "C"
