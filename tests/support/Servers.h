// Loopback servers the request tests talk to: cpp-httplib for HTTP and
// HTTPS with a fixed set of routes, and a raw TCP responder for replies no
// well-behaved server would send. Every server binds 127.0.0.1 on an
// ephemeral port, accepts connections once its constructor has returned and
// is stopped and joined by its destructor. Each records what arrived.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace tw_test {

// One request as a server received it.
struct ReceivedRequest {
    std::string method;
    std::string target;  // path and query, as sent
    // RawServer: in wire order. HttpServer: in cpp-httplib's order (sorted
    // by name, case-insensitively).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // exact bytes
    std::string head;  // RawServer only: request line and header lines as received, CR LF included

    // First value of the named header (case-insensitive); "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

// Thread-safe list of received requests, shared by both server kinds.
class RequestLog {
public:
    void add(ReceivedRequest request);
    std::vector<ReceivedRequest> all() const;
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
};

// Test PKI, generated once per process into a temporary directory that is
// removed at exit: a CA, an unrelated second CA and three server
// certificates signed by the first CA.
struct TlsFiles {
    std::string directory;
    std::string caCert;       // the CA that signed the server certificates
    std::string otherCaCert;  // a CA that signed nothing used here
    std::string serverCert;   // 127.0.0.1 and localhost, currently valid
    std::string serverKey;
    std::string expiredCert;  // 127.0.0.1 and localhost, expired days ago
    std::string expiredKey;
    std::string wrongHostCert;  // valid, but only for wrong-host.invalid
    std::string wrongHostKey;
    std::string hiddenCaCert;        // a CA with a name unique to this process
    std::string hiddenCaServerCert;  // 127.0.0.1 and localhost, signed by hiddenCaCert
    std::string hiddenCaServerKey;
};
const TlsFiles& tlsFiles();

// Basic-auth credentials the /basic route accepts.
inline constexpr const char* BASIC_USER = "user";
inline constexpr const char* BASIC_PASSWORD = "secret";

enum class Tls { Off, Valid, Expired, WrongHost, HiddenCa };

// cpp-httplib server. Routes (every method unless noted; each request is
// recorded before it is answered, after its whole body has been read):
//   /echo            200, body = request body, "X-Echo-Method: <method>"
//   /hi              200, body "Hi\n" (bytes 72 105 10)
//   /bytes           200, body = the bytes 0..255 in order
//   /nul             200, body "A", zero byte, "B"
//   /empty           200, empty body
//   /status/<n>      status n, body "status <n>", "X-Status: <n>"
//   /redirect/<n>    n > 0: 302 to /redirect/<n-1>; n = 0: 200 "end"; "X-Hop: <n>"
//   /redirect307     307 to /echo
//   /redirect-with/<n>  status n to /echo
//   /loop            302 to /loop, for ever
//   /to?url=<u>      302 to u (any scheme)
//   /basic           401 with a Basic challenge and "X-Challenge: 1" unless
//                    the request carries BASIC_USER:BASIC_PASSWORD; then as /echo
//                    plus "X-Authorized: yes"
// extraRoutes may add more routes before the server starts.
class HttpServer {
public:
    using Routes = std::function<void(httplib::Server&)>;

    explicit HttpServer(Tls tls = Tls::Off, const Routes& extraRoutes = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port><path>" (https with TLS).
    std::string url(const std::string& path) const;
    const RequestLog& log() const { return log_; }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    bool tls_ = false;
    std::atomic<bool> ended_{false};
    RequestLog log_;
};

// Raw TCP responder: handles one connection at a time. It reads the request
// head, answers "Expect: 100-continue", reads a Content-Length body, records
// the request, writes the bytes the responder returns and closes.
class RawServer {
public:
    using Responder = std::function<std::string(const ReceivedRequest&)>;
    // Reset: after writing, abort the connection (the client sees a TCP
    // reset) instead of closing it in order.
    enum class Ending { Close, Reset };

    explicit RawServer(Responder responder, Ending ending = Ending::Close);
    // Always answers with the same bytes.
    explicit RawServer(std::string cannedResponse, Ending ending = Ending::Close);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const;
    const RequestLog& log() const { return log_; }

private:
    void serve();
    void handle(int connection);

    Responder responder_;
    Ending ending_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    RequestLog log_;
    std::thread thread_;
};

// A complete HTTP/1.1 response with Content-Length and "Connection: close";
// extraHeaderLines are full lines without their CR LF.
std::string httpResponse(int status, const std::string& body, const std::vector<std::string>& extraHeaderLines = {});

// A fresh empty directory, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file in the directory and returns its full path.
    std::string write(const std::string& name, const std::string& content) const;
    // The names of its entries, sorted.
    std::vector<std::string> names() const;

private:
    std::string path_;
    int owner_ = 0;  // the process that made it, and alone removes it
};

// Changes the working directory; the destructor changes it back.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::string& path);
    ~ScopedWorkingDirectory();
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

private:
    std::string previous_;
};

std::string readFile(const std::string& path);

// Standard alphabet, "=" padding, no line breaks.
std::string base64Encode(const std::string& bytes);
std::string base64Decode(const std::string& text);

}  // namespace tw_test
