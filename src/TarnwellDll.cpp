// The host API: the exported functions, the one request pipeline behind
// them, and the header JSON in both directions.
#include "TarnwellDll.h"

#include "HostStrings.h"
#include "JsonInput.h"
#include "Messages.h"
#include "PercentEncoding.h"
#include "QueryString.h"
#include "RequestHead.h"
#include "RequestOptions.h"
#include "StringHelper.h"
#include "VersionInfo.h"
#include "base64.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

using HostStrings::copyForHost;
using HostStrings::newHostStringOrNull;
using PercentEncoding::builtInSet;
using PercentEncoding::BuiltInSet;
using PercentEncoding::makeEncodingTable;
using Tarnwell::Header;

namespace {

// ------------------------------------------------------ header JSON

// Length of the well-formed UTF-8 sequence that starts at text[i], or 0.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byteAt = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byteAt(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size() || byteAt(i + 1) < low || byteAt(i + 1) > high) return 0;
    for (std::size_t k = i + 2; k < i + length; ++k) {
        if (byteAt(k) < 0x80 || byteAt(k) > 0xBF) return 0;
    }
    return length;
}

void appendEscapedByte(std::string& out, unsigned char byte) {
    out += "\\u00";
    out.push_back(StringHelper::HEX_CHARACTERS[byte >> 4]);
    out.push_back(StringHelper::HEX_CHARACTERS[byte & 0x0F]);
}

bool isPlainJsonByte(unsigned char byte) {
    return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
}

// Servers may send any bytes in header lines. Valid UTF-8 is kept as it
// is; any other byte from 0x80 up is written as \u00XX (its Latin-1
// reading), so the text is always JSON that a host can parse. Runs of
// plain bytes are copied whole: every request writes its headers this way.
void appendJsonString(std::string& out, const std::string& text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t end = i;
        while (end < text.size() && isPlainJsonByte(static_cast<unsigned char>(text[end]))) ++end;
        out.append(text, i, end - i);
        if (end == text.size()) break;
        i = end;
        const char c = text[i];
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
                    appendEscapedByte(out, byte);
                } else if (const std::size_t length = utf8SequenceLength(text, i); length > 0) {
                    out.append(text, i, length);
                    i += length - 1;
                } else {
                    appendEscapedByte(out, byte);
                }
        }
    }
    out.push_back('"');
}

// ---------------------------------------------------- request pipeline

// The texts of one request call. A view with no data stands for a NULL
// argument; every other view is taken whole, zero bytes included.
struct RequestArgs {
    std::string_view url;
    std::string_view username;
    std::string_view password;
    std::string_view method;
    std::string_view headersJson;
    std::string_view requestBody;
    int bodyIsBase64;
    int responseEncoding;
    int skipCertificateVerification;
    // TwHttpRequest only: what its options set beyond the arguments above.
    std::size_t maxBodyBytes = SIZE_MAX;
    std::string caFile = Tarnwell::CA_BUNDLE_FILE;
    std::string caDirectory{};
    Tarnwell::SessionSetup* setup = nullptr;
};

std::string_view hostText(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

// The arguments of TwHttpRequest.
struct OptionsRequest {
    const char* requestJson;
};

void requireArgument(const void* value, const char* name) {
    if (value == nullptr) throw std::invalid_argument(std::string(Messages::NULL_ARGUMENT) + name + ".");
}

void requireTexts(const RequestArgs& args) {
    requireArgument(args.url.data(), "url");
    requireArgument(args.username.data(), "username");
    requireArgument(args.password.data(), "password");
    requireArgument(args.method.data(), "method");
    requireArgument(args.headersJson.data(), "headersJson");
    requireArgument(args.requestBody.data(), "requestBody");
}

struct HostResult {
    std::unique_ptr<char[]> headers;
    std::unique_ptr<char[]> body;
    long code = 0;
};

HostResult performRequest(const RequestArgs& args) {
    requireTexts(args);
    Tarnwell::LibcurlWrapper session(args.setup);
    if (!session.isInitialized()) {
        throw std::runtime_error(Messages::WRAPPER_INIT_FAILED);
    }
    std::string username(args.username);
    session.setPassword(std::string(args.password));
    const std::string body = args.bodyIsBase64 == 1 ? base64_decode(std::string(args.requestBody), false)
                                                    : std::string(args.requestBody);
    session.setVerifyCertificates((args.skipCertificateVerification & 1) != 0 ? 0 : 1);
    session.setCaBundle(args.caFile, args.caDirectory);
    session.setMaxBodyBytes(args.maxBodyBytes);

    Tarnwell::Response response;
    {
        const std::vector<Header> headers = jsonToHeaders(std::string(args.headersJson));
        std::string method(args.method);
        RequestHead::rejectUnsafe(method, headers, username);
        session.setUsername(std::move(username));
        response = session.makeSimpleRequest(std::string(args.url), std::move(method), headers, body);
    }
    HostResult result;
    result.headers = copyForHost(headersToJsonString(std::move(response.headers)));
    result.body = encodeResponseBody(response.body, args.responseEncoding, encoderKernels());
    result.code = response.responseCode;
    return result;
}

HostResult performRequest(const OptionsRequest& request) {
    requireArgument(request.requestJson, "requestJson");
    Tarnwell::RequestOptions options = Tarnwell::parseRequestOptions(request.requestJson);
    RequestArgs args{options.url,
                     options.username,
                     options.password,
                     options.method,
                     options.headersJson,
                     options.body,
                     options.bodyIsBase64 ? 1 : 0,
                     options.responseEncoding,
                     options.verifyCertificates ? 0 : 1};
    args.maxBodyBytes = options.maxBodyBytes;
    args.caFile = options.caFile;
    args.caDirectory = options.caDirectory;
    args.setup = &options;
    return performRequest(args);
}

int failWith(const char* message, char** responseHeaders, char** responseBody) noexcept {
    if (responseHeaders != nullptr) *responseHeaders = newHostStringOrNull("");
    if (responseBody != nullptr) *responseBody = newHostStringOrNull(message);
    return 0;
}

// Runs the work of one export. Whatever it throws ends as the export's
// failure result, which `fail` makes from the message without throwing.
template <typename Work, typename Fail>
auto guarded(Work work, Fail fail) noexcept -> decltype(work()) {
    try {
        return work();
    } catch (const std::exception& error) {
        return fail(error.what());
    } catch (...) {
        return fail(Messages::UNKNOWN_ERROR);
    }
}

// The encoders' failure: only memory exhaustion gets that far.
char* noString(const char*) noexcept {
    return nullptr;
}

template <typename Arguments>
int runRequest(const Arguments& args, char** responseHeaders, char** responseBody) noexcept {
    const auto request = [&] {
        requireArgument(responseHeaders, "responseHeaders");
        requireArgument(responseBody, "responseBody");
        HostResult result = performRequest(args);
        *responseHeaders = result.headers.release();
        *responseBody = result.body.release();
        return static_cast<int>(result.code);
    };
    return guarded(request,
                   [&](const char* message) noexcept { return failWith(message, responseHeaders, responseBody); });
}

}  // namespace

// ------------------------------------------------------------ internals

std::vector<Header> jsonToHeaders(std::string text) {
    std::vector<Header> headers;
    if (text.empty()) return headers;
    nlohmann::json document;
    try {
        document = JsonInput::parseJson(text);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string(Messages::HEADER_JSON_PREFIX) + error.what());
    }
    for (const auto& item : document.items()) {
        const auto& value = item.value();
        headers.push_back(Header{item.key(), value.is_null() ? std::string() : JsonInput::jsonValueText(value), false});
    }
    return headers;
}

std::string headersToJsonString(std::vector<Header> headers) {
    // Quotes, colon and comma around each pair; escapes may still grow it.
    std::size_t length = 2;
    for (const auto& header : headers) length += header.name.size() + header.value.size() + 6;
    std::string text;
    text.reserve(length);
    text.push_back('{');
    for (const auto& header : headers) {
        if (text.size() > 1) text.push_back(',');
        appendJsonString(text, header.name);
        text.push_back(':');
        appendJsonString(text, header.value);
    }
    text.push_back('}');
    return text;
}

// ------------------------------------------------------------- exports

extern "C" {

TW_API int sendAuthEncodedRequestEncodeResponse(const char* url, const char* username, const char* password,
                                                const char* method, const char* headersJson, const char* requestBody,
                                                int bodyIsBase64, int responseEncoding, int skipCertificateVerification,
                                                char** responseHeaders, char** responseBody) noexcept {
    const RequestArgs args{hostText(url),         hostText(username),    hostText(password),
                           hostText(method),      hostText(headersJson), hostText(requestBody),
                           bodyIsBase64,          responseEncoding,      skipCertificateVerification};
    return runRequest(args, responseHeaders, responseBody);
}

TW_API int sendEncodedRequestEncodeResponse(const char* url, const char* method, const char* headersJson,
                                            const char* requestBody, int bodyIsBase64, int responseEncoding,
                                            int skipCertificateVerification, char** responseHeaders,
                                            char** responseBody) noexcept {
    return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, bodyIsBase64,
                                                responseEncoding, skipCertificateVerification, responseHeaders,
                                                responseBody);
}

TW_API int sendAuthRequest(const char* url, const char* username, const char* password, const char* method,
                           const char* headersJson, const char* requestBody, int skipCertificateVerification,
                           char** responseHeaders, char** responseBody) noexcept {
    return sendAuthEncodedRequestEncodeResponse(url, username, password, method, headersJson, requestBody, 0, 0,
                                                skipCertificateVerification, responseHeaders, responseBody);
}

TW_API int sendRequest(const char* url, const char* method, const char* headersJson, const char* requestBody,
                       int skipCertificateVerification, char** responseHeaders, char** responseBody) noexcept {
    return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, 0, 0,
                                                skipCertificateVerification, responseHeaders, responseBody);
}

// The Tw family: method first, certificates always verified.
#define TW_DEFINE_HTTP_CALL(NAME, IN64, ENCODING)                                                                     \
    TW_API int NAME(const char* method, const char* url, const char* headersJson, const char* requestBody,            \
                    char** responseHeaders, char** responseBody) noexcept {                                           \
        return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, IN64, ENCODING, 0, \
                                                    responseHeaders, responseBody);                                   \
    }
#define TW_DEFINE_AUTH_HTTP_CALL(NAME, IN64, ENCODING)                                                               \
    TW_API int NAME(const char* method, const char* url, const char* username, const char* password,                 \
                    const char* headersJson, const char* requestBody, char** responseHeaders,                        \
                    char** responseBody) noexcept {                                                                  \
        return sendAuthEncodedRequestEncodeResponse(url, username, password, method, headersJson, requestBody, IN64, \
                                                    ENCODING, 0, responseHeaders, responseBody);                     \
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

TW_API int TwHttpRequest(const char* requestJson, char** responseHeaders, char** responseBody) noexcept {
    return runRequest(OptionsRequest{requestJson}, responseHeaders, responseBody);
}

TW_API char* TwVersion(void) noexcept {
    return guarded([] { return copyForHost(versionJson()).release(); }, noString);
}

TW_API void freemem(void* p) noexcept {
    delete[] static_cast<char*>(p);
}

TW_API char* escapeUrlStyleAllowedCharacters(const char* text, const char* allowedCharacters,
                                             int allowedCount) noexcept {
    const auto encode = [&] {
        const std::string_view input = text != nullptr ? std::string_view(text) : std::string_view();
        return PercentEncoding::encodeForHost(input, makeEncodingTable(allowedCharacters, allowedCount),
                                              encoderKernels())
            .release();
    };
    return guarded(encode, noString);
}

TW_API char* escapeUrlStyle(const char* text, int style) noexcept {
    const BuiltInSet set = builtInSet(style);
    return escapeUrlStyleAllowedCharacters(text, set.characters, set.count);
}

TW_API char* TwUrlEncodeJS(const char* text) noexcept {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::JS));
}
TW_API char* TwUrlEncodeInter(const char* text) noexcept {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::Inter));
}
TW_API char* TwUrlEncodeLax(const char* text) noexcept {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::Lax));
}
TW_API char* TwUrlEncodeVeryLax(const char* text) noexcept {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::VeryLax));
}

TW_API char* toQueryStringAllowedCharacters(const char* jsonText, const char* allowedCharacters,
                                            int allowedCount) noexcept {
    const auto build = [&] {
        const std::string query = QueryString::buildQueryString(
            jsonText, makeEncodingTable(allowedCharacters, allowedCount), encoderKernels());
        return copyForHost(query).release();
    };
    return guarded(build, noString);
}

TW_API char* toQueryString(const char* jsonText, int style) noexcept {
    const BuiltInSet set = builtInSet(style);
    return toQueryStringAllowedCharacters(jsonText, set.characters, set.count);
}

TW_API char* TwUrlEncodeQueryJS(const char* jsonText) noexcept {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::JS));
}
TW_API char* TwUrlEncodeQueryInter(const char* jsonText) noexcept {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::Inter));
}
TW_API char* TwUrlEncodeQueryLax(const char* jsonText) noexcept {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::Lax));
}
TW_API char* TwUrlEncodeQueryVeryLax(const char* jsonText) noexcept {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::VeryLax));
}

}  // extern "C"
