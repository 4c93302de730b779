// HTTP transport: one libcurl easy session per LibcurlWrapper, the header
// record, where a request body comes from and where a response body goes,
// and the callbacks that move the bytes.
#pragma once

#include "ConnectionPool.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Tarnwell {

// The CA bundle every verifying request reads unless told otherwise,
// relative to the process's current directory.
constexpr const char* CA_BUNDLE_FILE = "curl-ca-bundle.crt";
// Debian 12's libcurl follows redirects without limit by default, so a
// redirect loop would never end.
constexpr long MAX_REDIRECTS = 30;

// Throws std::runtime_error "libcurl refused the value of <name>: <text>"
// unless code is CURLE_OK; for the results of curl_easy_setopt.
void requireAccepted(CURLcode code, const char* name);


struct Header {
    std::string name;
    std::string value;
    // Request side only: send "name:" so libcurl drops its own header.
    bool suppress = false;
};

struct Response {
    long responseCode = 0;
    std::vector<Header> headers;
    std::string body;
};

enum class AuthScheme { Any, Basic, Digest };

// Where the easy handle comes from: made for the call and cleaned up after
// it, or taken from the process-wide pool and given back with its
// connections open.
enum class ConnectionSource { OwnHandle, Pool };

// Everything about one transfer but its URL, method, headers and body. The
// defaults are those of the sixteen request exports.
struct SessionSettings {
    // Used only when both are non-empty.
    std::string username;
    std::string password;
    AuthScheme auth = AuthScheme::Any;
    bool verifyCertificates = true;
    // The CA bundle and, if not empty, a directory of CA files; an empty
    // caFile leaves the choice to libcurl (its built-in store).
    std::string caFile = CA_BUNDLE_FILE;
    std::string caDirectory;
    // The caller named caFile (TwHttpRequest's caBundle): then anything but
    // a regular file there fails with that option's message before anything
    // is sent, rather than as a missing bundle when TLS needs it.
    bool caFileNamed = false;
    long timeoutMs = 0;         // 0: no limit
    long connectTimeoutMs = 0;  // 0: libcurl's
    long maxRedirects = MAX_REDIRECTS;  // 0: redirects are not followed
    // Absent: libcurl's proxy environment variables apply; "": no proxy.
    std::optional<std::string> proxy;
    bool decompress = false;
    // The transfer fails with "The response body exceeds maxBodyBytes." as
    // soon as the body (decoded, when libcurl decodes it) would grow past this.
    std::size_t maxBodyBytes = SIZE_MAX;
    ConnectionSource connections = ConnectionSource::OwnHandle;
    // Options that are one text handed to libcurl as it stands, each with
    // the name the caller knows it by (for libcurl's refusal). None of them
    // is an option that one of the settings above stands for.
    struct TextOption {
        const char* name;
        CURLoption option;
        std::string value;
    };
    std::vector<TextOption> textOptions;
};

// How one request hands its body to libcurl, derived from method and size.
struct BodyMode {
    std::uint64_t size = 0;
    bool post = false;        // libcurl's POST mode
    bool announced = false;   // a body (maybe empty) goes out with its length
    bool customVerb = false;  // the method is sent through CURLOPT_CUSTOMREQUEST
};

BodyMode bodyMode(const std::string& method, std::uint64_t bodySize);

}  // namespace Tarnwell

// Where a request body comes from. libcurl reads it in pieces and may ask
// for it again from the start (authentication, 307/308 redirects).
class BodySource {
public:
    // read's result when the bytes cannot be had: libcurl ends the transfer.
    static constexpr std::size_t READ_FAILED = CURL_READFUNC_ABORT;

    // 64 bits wide: a file on a 32-bit host may hold more than size_t counts.
    virtual std::uint64_t size() const = 0;
    // Copies up to capacity bytes into buffer; 0 at the end, or READ_FAILED.
    virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
    // Moves back to offset from the start; false when it cannot.
    virtual bool seek(std::uint64_t offset) = 0;

protected:
    ~BodySource() = default;
};

// A request body held in memory: the read cursor over it.
struct CharDataReader final : BodySource {
    CharDataReader(const char* bytes, std::size_t length)
        : data(bytes), remaining(length), begin(bytes), total(length) {}
    std::uint64_t size() const override { return total; }
    std::size_t read(char* buffer, std::size_t capacity) override;
    bool seek(std::uint64_t offset) override;

    const char* data;
    std::size_t remaining;
    const char* begin;
    std::size_t total;
};

// Where the final response's body goes while it arrives. libcurl passes on
// no body of a response it follows (redirects, authentication challenges).
class BodySink {
public:
    // Before the first byte: the length the response announced, or -1.
    virtual void start(curl_off_t announcedLength) = 0;
    // Takes the bytes; false stops the transfer with a write error.
    virtual bool write(const char* bytes, std::size_t length) = 0;

protected:
    ~BodySink() = default;
};

// The body as one growing string, sized once by the announced length.
class StringSink final : public BodySink {
public:
    StringSink(std::string& body, std::size_t maxBodyBytes) : body_(body), limit_(maxBodyBytes) {}
    void start(curl_off_t announcedLength) override;
    bool write(const char* bytes, std::size_t length) override;

private:
    std::string& body_;
    std::size_t limit_;
};

// The write callback's target: the sink, the handle the first chunk asks
// for the announced length, and the limit on the body's size.
struct BodyTarget {
    BodySink* sink;
    CURL* handle;
    std::size_t limit;
    std::size_t written = 0;
    bool started = false;
    bool exceeded = false;  // the transfer was stopped at the limit
};

namespace Tarnwell {

class LibcurlWrapper {
public:
    LibcurlWrapper();
    explicit LibcurlWrapper(SessionSettings settings);
    ~LibcurlWrapper();
    LibcurlWrapper(const LibcurlWrapper&) = delete;
    LibcurlWrapper& operator=(const LibcurlWrapper&) = delete;

    bool initialize();
    bool isInitialized() const { return curlInitialized; }

    std::uint8_t getVerifyCertificates() const { return settings.verifyCertificates ? 1 : 0; }
    void setVerifyCertificates(std::uint8_t verify) { settings.verifyCertificates = verify != 0; }
    void setUsername(std::string name) { settings.username = std::move(name); }
    void setPassword(std::string secret) { settings.password = std::move(secret); }

    // Performs one blocking transfer: the body is read from `body`, the
    // final response's body goes to `sink`; the Response holds the status
    // and the header records. Throws std::runtime_error "curl_easy_perform()
    // failed: <libcurl text>" when libcurl fails; an HTTP error status is a
    // normal Response.
    Response makeRequest(const std::string& url, const std::string& method, const std::vector<Header>& headers,
                         BodySource& body, BodySink& sink);
    // The same with the body in memory and the response body in the Response.
    Response makeRequest(std::string url, std::string method, const std::vector<Header>& headers,
                         const std::string& body);

    Response makeSimpleRequest(std::string url, std::string method, const std::string& body);
    Response makeSimpleRequest(std::string url, const std::vector<Header>& headers, const std::string& body);
    Response makeSimpleRequest(std::string url, std::string method, const std::vector<Header>& headers,
                               const std::string& body);

    static const std::string EMPTY_STRING;

private:
    // Each sets the libcurl options of one concern, all of them, on every
    // transfer; nothing else sets those options.
    void setRequestOptions(const std::string& url, const std::string& method, const BodyMode& mode,
                           curl_slist* headerList);
    void setBodyOptions(const BodyMode& mode, BodySource& body);
    void setCredentialOptions();
    void setCertificateOptions();
    void setLimitOptions();
    void setRouteOptions();
    void setDecodingOptions();
    void setTextOptions();

    bool curlInitialized = false;
    CURL* curlHandle = nullptr;
    SessionSettings settings;
    // One look at the CA bundle per call, for the pool and the checks.
    ConnectionPool::FileIdentity caIdentity;
    std::string unreadableCaFile;  // the bundle when it is not a regular file
};

// Builds the request line libcurl sends for one header.
std::string headerLine(const Header& header);

}  // namespace Tarnwell

// libcurl callbacks; userdata is std::vector<Tarnwell::Header>*,
// BodySource*, BodyTarget* and BodySource* respectively.
std::size_t libcurlCallbackHeadersToHeaderVector(char* line, std::size_t size, std::size_t nitems, void* userdata);
std::size_t libcurlCallbackReadRequestBody(char* buffer, std::size_t size, std::size_t nitems, void* userdata);
std::size_t libcurlCallbackBodyToString(char* buffer, std::size_t size, std::size_t nmemb, void* userdata);
int libcurlCallbackSeekRequestBody(void* userdata, curl_off_t offset, int origin);
