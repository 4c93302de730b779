// HTTP transport: one libcurl easy session per LibcurlWrapper, the header
// record, and the callbacks that move request and response bytes.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CharDataReader;

namespace Tarnwell {

// The CA bundle every verifying request reads unless told otherwise,
// relative to the process's current directory.
constexpr const char* CA_BUNDLE_FILE = "curl-ca-bundle.crt";

// Throws std::runtime_error "libcurl refused the value of <name>: <text>"
// unless code is CURLE_OK; for the results of curl_easy_setopt.
void requireAccepted(CURLcode code, const char* name);

// True when path names a regular file (or a link to one), the only kind
// of file that is ever opened as a CA bundle: reading a FIFO or a device
// could block for ever.
bool isRegularFile(const char* path);
// True when path names anything that stat can see.
bool pathExists(const char* path);

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

// How one request hands its body to libcurl, derived from method and size.
struct BodyMode {
    std::size_t size = 0;
    bool post = false;        // libcurl's POST mode
    bool announced = false;   // a body (maybe empty) goes out with its length
    bool customVerb = false;  // the method is sent through CURLOPT_CUSTOMREQUEST
};

BodyMode bodyMode(const std::string& method, std::size_t bodySize);

// Lets a caller supply the easy handle and add its own options on top of
// the wrapper's, so the wrapper's logic stays the same for every caller.
class SessionSetup {
public:
    // A handle with no options of an earlier caller left on it; nullptr
    // when libcurl cannot make one.
    virtual CURL* acquireHandle() = 0;
    // Takes back a handle from acquireHandle (nullptr included).
    virtual void releaseHandle(CURL* handle) noexcept = 0;
    // Runs right before each transfer, after the wrapper's own options.
    virtual void configure(CURL* handle) const = 0;

protected:
    ~SessionSetup() = default;
};

class LibcurlWrapper {
public:
    LibcurlWrapper();
    // setup may be null: then the wrapper makes and cleans up its own handle.
    explicit LibcurlWrapper(SessionSetup* setup);
    ~LibcurlWrapper();
    LibcurlWrapper(const LibcurlWrapper&) = delete;
    LibcurlWrapper& operator=(const LibcurlWrapper&) = delete;

    bool initialize();
    bool isInitialized() const { return curlInitialized; }

    std::uint8_t getVerifyCertificates() const { return verifyCertificates; }
    void setVerifyCertificates(std::uint8_t verify) { verifyCertificates = verify; }
    void setUsername(std::string name) { username = std::move(name); }
    void setPassword(std::string secret) { password = std::move(secret); }
    // The transfer fails with "The response body exceeds maxBodyBytes." as
    // soon as the body (decoded, when libcurl decodes it) would grow past this.
    void setMaxBodyBytes(std::size_t limit) { maxBodyBytes = limit; }
    // The CA bundle file and, if not empty, a directory of CA files to trust
    // with certificate verification on. Default: CA_BUNDLE_FILE alone.
    void setCaBundle(std::string file, std::string directory) {
        caFile = std::move(file);
        caDirectory = std::move(directory);
    }

    // Performs one blocking transfer. Throws std::runtime_error
    // "curl_easy_perform() failed: <libcurl text>" when libcurl fails; an
    // HTTP error status is a normal Response.
    Response makeRequest(std::string url, std::string method, const std::vector<Header>& headers,
                         const std::string& body);

    Response makeSimpleRequest(std::string url, std::string method, const std::string& body);
    Response makeSimpleRequest(std::string url, const std::vector<Header>& headers, const std::string& body);
    Response makeSimpleRequest(std::string url, std::string method, const std::vector<Header>& headers,
                               const std::string& body);

    static const std::string EMPTY_STRING;

private:
    void setRequestOptions(const std::string& url, const std::string& method, const BodyMode& mode,
                           curl_slist* headerList);
    void setBodyOptions(const BodyMode& mode, CharDataReader& reader);
    void setCredentialOptions();
    void setCertificateOptions();

    bool curlInitialized = false;
    CURL* curlHandle = nullptr;
    SessionSetup* setup = nullptr;
    std::uint8_t verifyCertificates = 1;
    std::string username;
    std::string password;
    std::size_t maxBodyBytes = SIZE_MAX;
    std::string caFile = CA_BUNDLE_FILE;
    std::string caDirectory;
    std::string unreadableCaFile;  // the bundle when it is not a regular file
};

// Builds the request line libcurl sends for one header.
std::string headerLine(const Header& header);

}  // namespace Tarnwell

// Read cursor over a request body. begin/size let libcurl rewind it when
// it has to send the body again (authentication, 307/308 redirects).
struct CharDataReader {
    const char* data;
    std::size_t remaining;
    const char* begin;
    std::size_t size;
};

// The write callback's target: the response body, and the handle so that
// the first chunk can reserve the announced Content-Length at once.
struct BodySink {
    std::string* body;
    CURL* handle;
    std::size_t limit = SIZE_MAX;
    bool reserved = false;  // set by the first chunk of the transfer
    bool exceeded = false;  // the transfer was stopped at the limit
};

// libcurl callbacks; userdata is std::vector<Tarnwell::Header>*,
// CharDataReader*, BodySink* and CharDataReader* respectively.
std::size_t libcurlCallbackHeadersToHeaderVector(char* line, std::size_t size, std::size_t nitems, void* userdata);
std::size_t libcurlCallbackReadRequestBody(char* buffer, std::size_t size, std::size_t nitems, void* userdata);
std::size_t libcurlCallbackBodyToString(char* buffer, std::size_t size, std::size_t nmemb, void* userdata);
int libcurlCallbackSeekRequestBody(void* userdata, curl_off_t offset, int origin);
