// The transport: libcurl easy sessions, the header record and the callbacks that move the bytes.
#include "Tarnwell.h"

#include "Messages.h"
#include "StringHelper.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace {

constexpr const char* CA_BUNDLE_FILE = "curl-ca-bundle.crt";
constexpr const char* ALLOWED_PROTOCOLS = "http,https";
// Debian 12's libcurl follows redirects without limit by default, so a
// redirect loop would never end.
constexpr long MAX_REDIRECTS = 30;
// Never reserve more than this up front, whatever Content-Length claims.
constexpr curl_off_t MAX_BODY_RESERVATION = curl_off_t{1} << 30;
// Bodies up to this size go out without "Expect: 100-continue": many
// servers never answer it, and libcurl would then wait a second before
// every upload. libcurl's own POST mode uses the same threshold.
constexpr std::size_t EXPECT_CONTINUE_THRESHOLD = std::size_t{1} << 20;

using SlistPtr = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

// Sized once, before the first byte is stored, the body never has to be
// moved while it grows. libcurl passes on no body of a response it follows
// (redirects, authentication challenges), so the length announced when the
// first byte arrives is that of the response the body belongs to.
void reserveAnnouncedLength(const BodySink& sink) {
    curl_off_t announced = -1;
    if (curl_easy_getinfo(sink.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK) return;
    if (announced > 0) sink.body->reserve(static_cast<std::size_t>(std::min(announced, MAX_BODY_RESERVATION)));
}

bool namesHeader(const std::vector<Tarnwell::Header>& headers, const char* name) {
    return std::any_of(headers.begin(), headers.end(), [name](const Tarnwell::Header& header) {
        return curl_strequal(header.name.c_str(), name) != 0;
    });
}

void appendLine(SlistPtr& list, const std::string& line) {
    curl_slist* appended = curl_slist_append(list.get(), line.c_str());
    if (appended == nullptr) throw std::bad_alloc();
    list.release();
    list.reset(appended);
}

// The caller's headers, then lines that drop headers libcurl would add on
// its own, unless the caller named them.
SlistPtr buildHeaderList(const std::vector<Tarnwell::Header>& headers, const Tarnwell::BodyMode& mode) {
    SlistPtr list(nullptr, curl_slist_free_all);
    for (const auto& header : headers) appendLine(list, Tarnwell::headerLine(header));
    if (mode.announced && mode.size <= EXPECT_CONTINUE_THRESHOLD && !namesHeader(headers, "Expect")) {
        appendLine(list, "Expect:");
    }
    // POST mode would label the body as a form; the body is sent as given.
    if (mode.post && !namesHeader(headers, "Content-Type")) appendLine(list, "Content-Type:");
    return list;
}

// libcurl's text for the code, with the detail of its error buffer when
// that says more ("SSL peer certificate ... not OK" hides which check failed).
std::string performFailure(CURLcode code, const char* detailBuffer) {
    const std::string text = curl_easy_strerror(code);
    std::string detail(detailBuffer);
    while (!detail.empty() && std::isspace(static_cast<unsigned char>(detail.back()))) detail.pop_back();
    const bool saysMore = !detail.empty() && detail != text;
    return Messages::PERFORM_FAILED_PREFIX + text + (saysMore ? " (" + detail + ")" : "");
}

}  // namespace

std::size_t libcurlCallbackHeadersToHeaderVector(char* line, std::size_t size, std::size_t nitems, void* userdata) {
    const std::size_t length = size * nitems;
    if (length <= 1) return length;
    const void* colon = std::memchr(line + 1, ':', length - 1);
    if (colon == nullptr) return length;
    const auto nameLength = static_cast<std::size_t>(static_cast<const char*>(colon) - line);
    try {
        Tarnwell::Header header{std::string(line, nameLength),
                                std::string(line + nameLength + 1, length - nameLength - 1), false};
        StringHelper::trimBoth(header.name);
        StringHelper::trimBoth(header.value);
        static_cast<std::vector<Tarnwell::Header>*>(userdata)->push_back(std::move(header));
    } catch (const std::bad_alloc&) {
        return 0;  // libcurl aborts the transfer with a write error
    }
    return length;
}

std::size_t libcurlCallbackReadRequestBody(char* buffer, std::size_t size, std::size_t nitems, void* userdata) {
    auto* reader = static_cast<CharDataReader*>(userdata);
    const std::size_t n = std::min(size * nitems, reader->remaining);
    if (n > 0) std::memcpy(buffer, reader->data, n);
    reader->data += n;
    reader->remaining -= n;
    return n;
}

int libcurlCallbackSeekRequestBody(void* userdata, curl_off_t offset, int origin) {
    auto* reader = static_cast<CharDataReader*>(userdata);
    if (origin != SEEK_SET || offset < 0 || static_cast<std::size_t>(offset) > reader->size) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    reader->data = reader->begin + offset;
    reader->remaining = reader->size - static_cast<std::size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

std::size_t libcurlCallbackBodyToString(char* buffer, std::size_t size, std::size_t nmemb, void* userdata) {
    auto& sink = *static_cast<BodySink*>(userdata);
    const std::size_t length = size * nmemb;
    try {
        if (!sink.reserved) {
            sink.reserved = true;
            reserveAnnouncedLength(sink);
        }
        sink.body->append(buffer, length);
    } catch (const std::bad_alloc&) {
        return 0;
    } catch (const std::length_error&) {
        return 0;
    }
    return length;
}

namespace Tarnwell {

const std::string LibcurlWrapper::EMPTY_STRING;

std::string headerLine(const Header& header) {
    if (header.suppress) return header.name + ":";
    if (header.value.empty()) return header.name + ";";
    return header.name + ": " + header.value;
}

LibcurlWrapper::LibcurlWrapper() {
    initialize();
}

LibcurlWrapper::LibcurlWrapper(SessionSetup* sessionSetup) : setup(sessionSetup) {
    initialize();
}

LibcurlWrapper::~LibcurlWrapper() {
    if (setup != nullptr) {
        setup->releaseHandle(curlHandle);
    } else {
        curl_easy_cleanup(curlHandle);
    }
    curlHandle = nullptr;
}

bool LibcurlWrapper::initialize() {
    if (curlInitialized) return true;
    curlHandle = nullptr;
    curlHandle = setup != nullptr ? setup->acquireHandle() : curl_easy_init();
    if (curlHandle == nullptr) throw std::runtime_error(Messages::EASY_INIT_FAILED);
    curlInitialized = true;
    curl_easy_setopt(curlHandle, CURLOPT_READFUNCTION, libcurlCallbackReadRequestBody);
    curl_easy_setopt(curlHandle, CURLOPT_HEADERFUNCTION, libcurlCallbackHeadersToHeaderVector);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, libcurlCallbackBodyToString);
    curl_easy_setopt(curlHandle, CURLOPT_FOLLOWLOCATION, 1L);
    // A POST keeps its verb and body across 301 and 302; after a 303
    // libcurl turns it into a GET without a body.
    curl_easy_setopt(curlHandle, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
    // One request per connection gains nothing from HTTP/2, and Debian 12's
    // libcurl hangs on an HTTP/2 upload that the server answers early.
    curl_easy_setopt(curlHandle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curlHandle, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
    curl_easy_setopt(curlHandle, CURLOPT_PROTOCOLS_STR, ALLOWED_PROTOCOLS);
    curl_easy_setopt(curlHandle, CURLOPT_REDIR_PROTOCOLS_STR, ALLOWED_PROTOCOLS);
    curl_easy_setopt(curlHandle, CURLOPT_SEEKFUNCTION, libcurlCallbackSeekRequestBody);
    return curlInitialized;
}

BodyMode bodyMode(const std::string& method, std::size_t bodySize) {
    BodyMode mode;
    mode.size = bodySize;
    mode.post = method == "POST";
    // These verbs always announce their body's length, 0 included; some
    // servers answer 411 otherwise.
    mode.announced = bodySize > 0 || mode.post || method == "PUT" || method == "PATCH";
    // POST and PUT are libcurl's own modes, which it turns into a GET after
    // a 303. A custom verb would be sent again on every hop.
    mode.customVerb = !(mode.post || method == "PUT" || method.empty());
    return mode;
}

void LibcurlWrapper::setRequestOptions(const std::string& url, const std::string& method, const BodyMode& mode,
                                       curl_slist* headerList) {
    curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curlHandle, CURLOPT_CUSTOMREQUEST, mode.customVerb ? method.c_str() : nullptr);
    curl_easy_setopt(curlHandle, CURLOPT_HTTPHEADER, headerList);
}

// The body is streamed by the read callback in every mode, its length
// announced. UPLOAD and POST each reset the verb libcurl has chosen, so
// both are cleared first and at most one is set again.
void LibcurlWrapper::setBodyOptions(const BodyMode& mode, CharDataReader& reader) {
    curl_easy_setopt(curlHandle, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(curlHandle, CURLOPT_POST, 0L);
    curl_easy_setopt(curlHandle, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(curlHandle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(-1));
    if (!mode.announced) return;
    curl_easy_setopt(curlHandle, CURLOPT_READDATA, &reader);
    curl_easy_setopt(curlHandle, CURLOPT_SEEKDATA, &reader);
    const auto size = static_cast<curl_off_t>(mode.size);
    if (mode.post) {
        curl_easy_setopt(curlHandle, CURLOPT_POST, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_POSTFIELDSIZE_LARGE, size);
    } else {
        curl_easy_setopt(curlHandle, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_INFILESIZE_LARGE, size);
    }
}

// Credentials go to libcurl only when both parts are given.
void LibcurlWrapper::setCredentialOptions() {
    if (!username.empty() && !password.empty()) {
        curl_easy_setopt(curlHandle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
        curl_easy_setopt(curlHandle, CURLOPT_USERNAME, username.c_str());
        curl_easy_setopt(curlHandle, CURLOPT_PASSWORD, password.c_str());
    } else {
        curl_easy_setopt(curlHandle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
        curl_easy_setopt(curlHandle, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(curlHandle, CURLOPT_PASSWORD, nullptr);
    }
}

void LibcurlWrapper::setCertificateOptions() {
    if (verifyCertificates != 0) {
        curl_easy_setopt(curlHandle, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_SSL_VERIFYHOST, 1L);
        curl_easy_setopt(curlHandle, CURLOPT_CAINFO, CA_BUNDLE_FILE);
        // Trust exactly the bundle, not also libcurl's built-in CA directory.
        curl_easy_setopt(curlHandle, CURLOPT_CAPATH, nullptr);
        // Only Windows' Schannel checks revocation, and by default it refuses
        // a certificate whose status it cannot fetch: every private CA
        // without a revocation URL, every network that blocks revocation
        // servers. A certificate reported revoked is still refused.
        curl_easy_setopt(curlHandle, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    } else {
        curl_easy_setopt(curlHandle, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(curlHandle, CURLOPT_SSL_VERIFYHOST, 0L);
    }
}

Response LibcurlWrapper::makeRequest(std::string url, std::string method, const std::vector<Header>& headers,
                                     const std::string& body) {
    Response response;
    if (!initialize()) return response;
    const BodyMode mode = bodyMode(method, body.size());
    SlistPtr headerList = buildHeaderList(headers, mode);
    setRequestOptions(url, method, mode, headerList.get());
    CharDataReader reader{body.data(), body.size(), body.data(), body.size()};
    setBodyOptions(mode, reader);
    // A HEAD response announces a body it never sends; without NOBODY
    // libcurl would wait for it and fail with a partial-file error.
    curl_easy_setopt(curlHandle, CURLOPT_NOBODY, method == "HEAD" ? 1L : 0L);
    setCredentialOptions();
    setCertificateOptions();

    BodySink sink{&response.body, curlHandle};
    curl_easy_setopt(curlHandle, CURLOPT_HEADERDATA, &response.headers);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, &sink);
    char errorDetail[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curlHandle, CURLOPT_ERRORBUFFER, errorDetail);

    if (setup != nullptr) setup->configure(curlHandle);
    const CURLcode result = curl_easy_perform(curlHandle);
    // The handle must not keep pointers into this frame past the call.
    curl_easy_setopt(curlHandle, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curlHandle, CURLOPT_READDATA, nullptr);
    curl_easy_setopt(curlHandle, CURLOPT_SEEKDATA, nullptr);
    curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(curlHandle, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(curlHandle, CURLOPT_ERRORBUFFER, nullptr);
    headerList.reset();
    if (result != CURLE_OK) throw std::runtime_error(performFailure(result, errorDetail));
    curl_easy_getinfo(curlHandle, CURLINFO_RESPONSE_CODE, &response.responseCode);
    return response;
}

Response LibcurlWrapper::makeSimpleRequest(std::string url, std::string method, const std::string& body) {
    return makeRequest(std::move(url), std::move(method), {}, body);
}

Response LibcurlWrapper::makeSimpleRequest(std::string url, const std::vector<Header>& headers,
                                           const std::string& body) {
    return makeRequest(std::move(url), "GET", headers, body);
}

Response LibcurlWrapper::makeSimpleRequest(std::string url, std::string method, const std::vector<Header>& headers,
                                           const std::string& body) {
    return makeRequest(std::move(url), std::move(method), headers, body);
}

}  // namespace Tarnwell
