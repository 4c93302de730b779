// The transport: libcurl easy sessions, the header record and the callbacks that move the bytes.
#include "Tarnwell.h"

#include "ConnectionPool.h"
#include "Messages.h"
#include "StringHelper.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>


namespace {

constexpr const char* ALLOWED_PROTOCOLS = "http,https";
// Never reserve more than this up front, whatever Content-Length claims.
constexpr curl_off_t MAX_BODY_RESERVATION = curl_off_t{1} << 30;
// Bodies up to this size go out without "Expect: 100-continue": many
// servers never answer it, and libcurl would then wait a second before
// every upload. libcurl's own POST mode uses the same threshold.
constexpr std::size_t EXPECT_CONTINUE_THRESHOLD = std::size_t{1} << 20;

using SlistPtr = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

bool namesHeader(const std::vector<Tarnwell::Header>& headers, const char* name) {
    return std::any_of(headers.begin(), headers.end(), [name](const Tarnwell::Header& header) {
        return curl_strequal(header.name.c_str(), name) != 0;
    });
}

// A header list that grows at its tail: curl_slist_append walks the whole
// list for every line, which makes a long list quadratic to build.
class HeaderList {
public:
    void append(const std::string& line) {
        curl_slist* node = curl_slist_append(nullptr, line.c_str());
        if (node == nullptr) throw std::bad_alloc();
        if (tail_ == nullptr) {
            head_.reset(node);
        } else {
            tail_->next = node;
        }
        tail_ = node;
    }
    curl_slist* get() const { return head_.get(); }

private:
    SlistPtr head_{nullptr, curl_slist_free_all};
    curl_slist* tail_ = nullptr;
};

// The caller's headers, then lines that drop headers libcurl would add on
// its own, unless the caller named them.
void buildHeaderList(HeaderList& list, const std::vector<Tarnwell::Header>& headers,
                     const Tarnwell::BodyMode& mode) {
    for (const auto& header : headers) list.append(Tarnwell::headerLine(header));
    if (mode.announced && mode.size <= EXPECT_CONTINUE_THRESHOLD && !namesHeader(headers, "Expect")) {
        list.append("Expect:");
    }
    // POST mode would label the body as a form; the body is sent as given.
    if (mode.post && !namesHeader(headers, "Content-Type")) list.append("Content-Type:");
}

// libcurl's text for the code, with the detail of its error buffer when
// that says more ("SSL peer certificate ... not OK" hides which check failed).
// unreadableCaFile names a CA bundle that was never handed to libcurl.
std::string performFailure(CURLcode code, const char* detailBuffer, const std::string& unreadableCaFile) {
    const std::string text = curl_easy_strerror(code);
    std::string detail = code == CURLE_SSL_CACERT_BADFILE && !unreadableCaFile.empty()
                             ? unreadableCaFile + Messages::CA_NOT_REGULAR_FILE
                             : std::string(detailBuffer);
    while (!detail.empty() && std::isspace(static_cast<unsigned char>(detail.back()))) detail.pop_back();
    const bool saysMore = !detail.empty() && detail != text;
    return Messages::PERFORM_FAILED_PREFIX + text + (saysMore ? " (" + detail + ")" : "");
}

}  // namespace

std::size_t CharDataReader::read(char* buffer, std::size_t capacity) {
    const std::size_t n = std::min(capacity, remaining);
    if (n > 0) std::memcpy(buffer, data, n);
    data += n;
    remaining -= n;
    return n;
}

bool CharDataReader::seek(std::uint64_t offset) {
    if (offset > total) return false;
    data = begin + offset;
    remaining = total - static_cast<std::size_t>(offset);
    return true;
}

// Sized once, before the first byte is stored, the body never has to be
// moved while it grows.
void StringSink::start(curl_off_t announcedLength) {
    if (announcedLength <= 0) return;
    const auto wanted = static_cast<std::size_t>(std::min(announcedLength, MAX_BODY_RESERVATION));
    body_.reserve(std::min(wanted, limit_));
}

bool StringSink::write(const char* bytes, std::size_t length) {
    try {
        body_.append(bytes, length);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

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
    return static_cast<BodySource*>(userdata)->read(buffer, size * nitems);
}

int libcurlCallbackSeekRequestBody(void* userdata, curl_off_t offset, int origin) {
    auto* source = static_cast<BodySource*>(userdata);
    const bool moved = origin == SEEK_SET && offset >= 0 && source->seek(static_cast<std::uint64_t>(offset));
    return moved ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_CANTSEEK;
}

std::size_t libcurlCallbackBodyToString(char* buffer, std::size_t size, std::size_t nmemb, void* userdata) {
    auto& target = *static_cast<BodyTarget*>(userdata);
    const std::size_t length = size * nmemb;
    if (length > target.limit - target.written) {
        target.exceeded = true;
        return 0;  // libcurl stops the transfer with a write error
    }
    if (!target.started) {
        target.started = true;
        curl_off_t announced = -1;
        if (curl_easy_getinfo(target.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK) {
            announced = -1;
        }
        target.sink->start(announced);
    }
    if (!target.sink->write(buffer, length)) return 0;
    target.written += length;
    return length;
}

namespace Tarnwell {

const std::string LibcurlWrapper::EMPTY_STRING;

void requireAccepted(CURLcode code, const char* name) {
    if (code != CURLE_OK) {
        throw std::runtime_error(std::string(Messages::VALUE_REFUSED_PREFIX) + name + ": " + curl_easy_strerror(code));
    }
}


std::string headerLine(const Header& header) {
    if (header.suppress) return header.name + ":";
    if (header.value.empty()) return header.name + ";";
    return header.name + ": " + header.value;
}

LibcurlWrapper::LibcurlWrapper() : LibcurlWrapper(SessionSettings{}) {}

LibcurlWrapper::LibcurlWrapper(SessionSettings sessionSettings) : settings(std::move(sessionSettings)) {
    caIdentity = ConnectionPool::identify(settings.caFile);
    // Only regular files are ever opened as CA bundles: opening a FIFO or a
    // device could block for ever.
    if (settings.caFileNamed && caIdentity.exists && !caIdentity.regular) {
        throw std::invalid_argument(std::string(Messages::OPTION_PREFIX) + "caBundle must be a file name or \"system\".");
    }
    initialize();
}

LibcurlWrapper::~LibcurlWrapper() {
    if (settings.connections == ConnectionSource::Pool) {
        ConnectionPool::instance().release(curlHandle);
    } else {
        curl_easy_cleanup(curlHandle);
    }
    curlHandle = nullptr;
}

// The options that never change over a handle's life. A pooled handle
// comes back reset, so they are set on every acquisition.
bool LibcurlWrapper::initialize() {
    if (curlInitialized) return true;
    if (curlHandle == nullptr) {
        curlHandle = settings.connections == ConnectionSource::Pool
                         ? ConnectionPool::instance().acquire(settings.verifyCertificates ? settings.caFile : "",
                                                              caIdentity)
                         : curl_easy_init();
    }
    if (curlHandle == nullptr) throw std::runtime_error(Messages::EASY_INIT_FAILED);
    // None of these depends on the caller; libcurl refuses one only when it
    // was built without the feature, and then the session is unusable.
    const CURLcode results[] = {
        curl_easy_setopt(curlHandle, CURLOPT_READFUNCTION, libcurlCallbackReadRequestBody),
        curl_easy_setopt(curlHandle, CURLOPT_SEEKFUNCTION, libcurlCallbackSeekRequestBody),
        curl_easy_setopt(curlHandle, CURLOPT_HEADERFUNCTION, libcurlCallbackHeadersToHeaderVector),
        curl_easy_setopt(curlHandle, CURLOPT_WRITEFUNCTION, libcurlCallbackBodyToString),
        // A POST keeps its verb and body across 301 and 302; after a 303
        // libcurl turns it into a GET without a body.
        curl_easy_setopt(curlHandle, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302)),
        // One request per connection gains nothing from HTTP/2, and Debian 12's
        // libcurl hangs on an HTTP/2 upload that the server answers early.
        curl_easy_setopt(curlHandle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)),
        curl_easy_setopt(curlHandle, CURLOPT_PROTOCOLS_STR, ALLOWED_PROTOCOLS),
        curl_easy_setopt(curlHandle, CURLOPT_REDIR_PROTOCOLS_STR, ALLOWED_PROTOCOLS),
        // Time-outs must not use signals in a multi-threaded host.
        curl_easy_setopt(curlHandle, CURLOPT_NOSIGNAL, 1L),
    };
    curlInitialized = std::all_of(std::begin(results), std::end(results),
                                  [](CURLcode result) { return result == CURLE_OK; });
    return curlInitialized;
}

BodyMode bodyMode(const std::string& method, std::uint64_t bodySize) {
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
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_URL, url.c_str()), "url");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_CUSTOMREQUEST, mode.customVerb ? method.c_str() : nullptr),
                    "method");
    // A HEAD response announces a body it never sends; without NOBODY
    // libcurl would wait for it and fail with a partial-file error.
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_NOBODY, method == "HEAD" ? 1L : 0L), "method");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_HTTPHEADER, headerList), "headers");
}

// The body is streamed by the read callback in every mode, its length
// announced. UPLOAD and POST each reset the verb libcurl has chosen, so
// both are cleared first and at most one of them is set again.
void LibcurlWrapper::setBodyOptions(const BodyMode& mode, BodySource& body) {
    const curl_off_t size = mode.announced ? static_cast<curl_off_t>(mode.size) : curl_off_t{-1};
    const CURLcode results[] = {
        curl_easy_setopt(curlHandle, CURLOPT_UPLOAD, 0L),
        curl_easy_setopt(curlHandle, CURLOPT_POST, 0L),
        curl_easy_setopt(curlHandle, CURLOPT_READDATA, &body),
        curl_easy_setopt(curlHandle, CURLOPT_SEEKDATA, &body),
        curl_easy_setopt(curlHandle, mode.post ? CURLOPT_POST : CURLOPT_UPLOAD, mode.announced ? 1L : 0L),
        curl_easy_setopt(curlHandle, CURLOPT_POSTFIELDSIZE_LARGE, mode.post ? size : curl_off_t{-1}),
        curl_easy_setopt(curlHandle, CURLOPT_INFILESIZE_LARGE, mode.post ? curl_off_t{-1} : size),
    };
    for (const CURLcode result : results) requireAccepted(result, "body");
}

// Credentials go to libcurl only when both parts are given.
void LibcurlWrapper::setCredentialOptions() {
    const bool given = !settings.username.empty() && !settings.password.empty();
    unsigned long scheme = CURLAUTH_NONE;
    if (given) {
        scheme = settings.auth == AuthScheme::Basic    ? CURLAUTH_BASIC
                 : settings.auth == AuthScheme::Digest ? CURLAUTH_DIGEST
                                                       : CURLAUTH_ANY;
    }
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_HTTPAUTH, scheme), "auth");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_USERNAME, given ? settings.username.c_str() : nullptr),
                    "username");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_PASSWORD, given ? settings.password.c_str() : nullptr),
                    "password");
}

void LibcurlWrapper::setCertificateOptions() {
    const long verify = settings.verifyCertificates ? 1L : 0L;
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_SSL_VERIFYPEER, verify), "verifyCertificates");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_SSL_VERIFYHOST, verify), "verifyCertificates");
    if (verify == 0L) return;
    // Anything but a regular file in the bundle's place fails as a missing
    // bundle does, and only when a TLS connection needs it: a name with a
    // slash after it can never be opened.
    const std::string& caFile = settings.caFile;
    unreadableCaFile = caIdentity.exists && !caIdentity.regular ? caFile : std::string();
    const std::string usedFile = unreadableCaFile.empty() ? caFile : caFile + "/";
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_CAINFO, caFile.empty() ? nullptr : usedFile.c_str()),
                    "caBundle");
    // Trust exactly the bundle, not also libcurl's built-in CA directory,
    // unless a directory is given.
    // A TLS backend without CA directories (Windows' Schannel) has none to
    // leave out.
    const std::string& directory = settings.caDirectory;
    const CURLcode capath =
        curl_easy_setopt(curlHandle, CURLOPT_CAPATH, directory.empty() ? nullptr : directory.c_str());
    requireAccepted(directory.empty() && capath == CURLE_NOT_BUILT_IN ? CURLE_OK : capath, "caBundle");
#if LIBCURL_VERSION_NUM >= 0x075700
    // Read the bundle anew for every new connection, so that a changed or
    // removed file counts at once, also on a pooled handle. A backend
    // without a CA cache (Schannel) reads it anew anyway.
    const CURLcode cache = curl_easy_setopt(curlHandle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    requireAccepted(cache == CURLE_NOT_BUILT_IN ? CURLE_OK : cache, "caBundle");
#endif
    // Only Windows' Schannel checks revocation, and by default it refuses
    // a certificate whose status it cannot fetch: every private CA
    // without a revocation URL, every network that blocks revocation
    // servers. A certificate reported revoked is still refused.
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT)),
                    "caBundle");
}

void LibcurlWrapper::setLimitOptions() {
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_TIMEOUT_MS, settings.timeoutMs), "timeoutMs");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_CONNECTTIMEOUT_MS, settings.connectTimeoutMs),
                    "connectTimeoutMs");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_FOLLOWLOCATION, settings.maxRedirects > 0 ? 1L : 0L),
                    "maxRedirects");
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_MAXREDIRS, settings.maxRedirects), "maxRedirects");
}

// Without a proxy of the caller's, libcurl's environment variables decide.
void LibcurlWrapper::setRouteOptions() {
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_PROXY, settings.proxy ? settings.proxy->c_str() : nullptr),
                    "proxy");
}

// "" asks for every encoding libcurl can decode; null sends no
// Accept-Encoding and passes the body on as it came.
void LibcurlWrapper::setDecodingOptions() {
    requireAccepted(curl_easy_setopt(curlHandle, CURLOPT_ACCEPT_ENCODING, settings.decompress ? "" : nullptr),
                    "decompress");
}

void LibcurlWrapper::setTextOptions() {
    for (const auto& text : settings.textOptions) {
        requireAccepted(curl_easy_setopt(curlHandle, text.option, text.value.c_str()), text.name);
    }
}

Response LibcurlWrapper::makeRequest(const std::string& url, const std::string& method,
                                     const std::vector<Header>& headers, BodySource& body, BodySink& sink) {
    Response response;
    if (!initialize()) return response;
    const BodyMode mode = bodyMode(method, body.size());
    HeaderList headerList;
    buildHeaderList(headerList, headers, mode);
    setRequestOptions(url, method, mode, headerList.get());
    setBodyOptions(mode, body);
    setCredentialOptions();
    setCertificateOptions();
    setLimitOptions();
    setRouteOptions();
    setDecodingOptions();
    setTextOptions();

    BodyTarget target{&sink, curlHandle, settings.maxBodyBytes};
    char errorDetail[CURL_ERROR_SIZE] = "";
    const CURLcode results[] = {
        curl_easy_setopt(curlHandle, CURLOPT_HEADERDATA, &response.headers),
        curl_easy_setopt(curlHandle, CURLOPT_WRITEDATA, &target),
        curl_easy_setopt(curlHandle, CURLOPT_ERRORBUFFER, errorDetail),
    };
    for (const CURLcode result : results) requireAccepted(result, "response");

    const CURLcode result = curl_easy_perform(curlHandle);
    // The handle must not keep pointers into this frame past the call.
    // Clearing a pointer cannot fail.
    for (const CURLoption option :
         {CURLOPT_HTTPHEADER, CURLOPT_READDATA, CURLOPT_SEEKDATA, CURLOPT_WRITEDATA, CURLOPT_HEADERDATA,
          CURLOPT_ERRORBUFFER}) {
        curl_easy_setopt(curlHandle, option, nullptr);
    }
    if (target.exceeded) throw std::runtime_error(Messages::BODY_TOO_LARGE);
    if (result != CURLE_OK) throw std::runtime_error(performFailure(result, errorDetail, unreadableCaFile));
    curl_easy_getinfo(curlHandle, CURLINFO_RESPONSE_CODE, &response.responseCode);
    return response;
}

Response LibcurlWrapper::makeRequest(std::string url, std::string method, const std::vector<Header>& headers,
                                     const std::string& body) {
    CharDataReader source(body.data(), body.size());
    std::string responseBody;
    StringSink sink(responseBody, settings.maxBodyBytes);
    Response response = makeRequest(url, method, headers, source, sink);
    response.body = std::move(responseBody);
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
