// The host API: the exported functions, the one request pipeline behind
// them, and the header JSON in both directions.
#include "TarnwellDll.h"

#include "BodyEncodings.h"
#include "BodyFiles.h"
#include "HeaderJson.h"
#include "HostStrings.h"
#include "JsonInput.h"
#include "Messages.h"
#include "PercentEncoding.h"
#include "QueryString.h"
#include "RequestHead.h"
#include "RequestOptions.h"
#include "VersionInfo.h"
#include "base64.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>

using HostStrings::copyForHost;
using HostStrings::newHostStringOrNull;
using PercentEncoding::builtInSet;
using PercentEncoding::BuiltInSet;
using PercentEncoding::makeEncodingTable;
using Tarnwell::Header;

namespace {

// ---------------------------------------------------- request pipeline

// The arguments of the request exports, as the host passed them.
struct ExportArguments {
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

// The arguments of TwHttpRequest.
struct OptionsArguments {
    const char* requestJson;
};

void requireArgument(const void* value, const char* name) {
    if (value == nullptr) throw std::invalid_argument(std::string(Messages::NULL_ARGUMENT) + name + ".");
}

// The request exports' rules, in the order their failures win: a base64
// body when the flag is exactly 1, the header JSON, verification off when
// bit 0 of the flag is set, any unknown encoding number as Raw. Everything
// else keeps SessionSettings' defaults.
Tarnwell::Request requestFrom(const ExportArguments& args) {
    requireArgument(args.url, "url");
    requireArgument(args.username, "username");
    requireArgument(args.password, "password");
    requireArgument(args.method, "method");
    requireArgument(args.headersJson, "headersJson");
    requireArgument(args.requestBody, "requestBody");
    Tarnwell::Request request;
    request.url = args.url;
    request.method = args.method;
    request.body = args.bodyIsBase64 == 1 ? base64_decode(std::string(args.requestBody), false) : args.requestBody;
    request.headers = jsonToHeaders(args.headersJson);
    request.session.username = args.username;
    request.session.password = args.password;
    request.session.verifyCertificates = (args.skipCertificateVerification & 1) == 0;
    request.encoding = responseEncodingOfFlag(args.responseEncoding);
    return request;
}

Tarnwell::Request requestFrom(const OptionsArguments& args) {
    requireArgument(args.requestJson, "requestJson");
    return Tarnwell::parseRequestOptions(args.requestJson);
}

struct HostResult {
    std::unique_ptr<char[]> headers;
    std::unique_ptr<char[]> body;
    long code = 0;
};

// Runs the transfer with the request's body source and response sink: the
// body in memory or a file, the response body into `body` or a file. The
// files are opened before anything is sent, so a bad name fails the call
// first; the download takes its place only once the transfer succeeded.
Tarnwell::Response transfer(Tarnwell::Request& request, std::string& body) {
    std::optional<BodyFiles::FileSource> fileBody;
    if (request.bodyFile) fileBody.emplace(*request.bodyFile);
    std::optional<BodyFiles::FileSink> download;
    if (request.outputFile) download.emplace(*request.outputFile);
    CharDataReader memoryBody(request.body.data(), request.body.size());
    StringSink memoryResponse(body, request.session.maxBodyBytes);
    BodySource& source = fileBody ? static_cast<BodySource&>(*fileBody) : memoryBody;
    BodySink& sink = download ? static_cast<BodySink&>(*download) : memoryResponse;

    Tarnwell::LibcurlWrapper session(std::move(request.session));
    if (!session.isInitialized()) throw std::runtime_error(Messages::WRAPPER_INIT_FAILED);
    Tarnwell::Response response = session.makeRequest(request.url, request.method, request.headers, source, sink);
    fileBody.reset();  // closed before the rename, in case both name one file
    if (download) download->commit();
    return response;
}

// The one pipeline of every request: check what goes into the head, run
// the transfer, hand the headers and the encoded body to the host.
HostResult performRequest(Tarnwell::Request request) {
    RequestHead::rejectUnsafe(request.method, request.headers, request.session.username);
    std::string body;
    Tarnwell::Response response = transfer(request, body);
    HostResult result;
    result.headers = copyForHost(headersToJsonString(std::move(response.headers)));
    result.body = encodeResponseBody(body, request.encoding, encoderKernels());
    result.code = response.responseCode;
    return result;
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
        HostResult result = performRequest(requestFrom(args));
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
    return HeaderJson::headersFromJson(document);
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
        HeaderJson::appendJsonString(text, header.name);
        text.push_back(':');
        HeaderJson::appendJsonString(text, header.value);
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
    const ExportArguments args{url,          username,         password,
                               method,       headersJson,      requestBody,
                               bodyIsBase64, responseEncoding, skipCertificateVerification};
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
    return runRequest(OptionsArguments{requestJson}, responseHeaders, responseBody);
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
