#include "support/Servers.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tw_test {

// ------------------------------------------------------------ requests

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string ReceivedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name)) return value;
    }
    return "";
}

bool ReceivedRequest::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& entry) { return equalsIgnoringCase(entry.first, name); });
}

void RequestLog::add(ReceivedRequest request) {
    const std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(std::move(request));
}

std::vector<ReceivedRequest> RequestLog::all() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::size_t RequestLog::size() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

// ------------------------------------------------------------ files

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tw-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    owner_ = ::getpid();
}

// A child process that exits (fork in a test) leaves its parent's files.
TempDir::~TempDir() {
    if (::getpid() != owner_) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    const std::string path = (fs::path(path_) / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::string& path) : previous_(fs::current_path().string()) {
    fs::current_path(path);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

// ------------------------------------------------------------ TLS

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long DAY = 24L * 60 * 60;

KeyPtr newKey() {
    KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key) throw std::runtime_error("EC key generation failed");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr) throw std::runtime_error(std::string("bad extension ") + value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

struct CertProfile {
    const char* commonName;
    const char* subjectAltName;  // nullptr for a CA
    long notBeforeOffset;        // seconds from now
    long notAfterOffset;
    long serial;
};

// Self-signed when issuer is null.
CertPtr newCert(const CertProfile& profile, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey) {
    CertPtr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), profile.serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), profile.notBeforeOffset);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), profile.notAfterOffset);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(profile.commonName), -1,
                               -1, 0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    if (profile.subjectAltName == nullptr) {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
        addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        addExtension(cert.get(), signer, NID_subject_alt_name, profile.subjectAltName);
    }
    if (X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) {
        throw std::runtime_error("certificate signing failed");
    }
    return cert;
}

void writePem(const std::string& path, X509* cert) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(path.c_str(), "w"), BIO_free);
    if (!out || PEM_write_bio_X509(out.get(), cert) != 1) throw std::runtime_error("cannot write " + path);
}

void writePem(const std::string& path, EVP_PKEY* key) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(path.c_str(), "w"), BIO_free);
    if (!out || PEM_write_bio_PrivateKey(out.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        throw std::runtime_error("cannot write " + path);
    }
}

// Owns the directory so that it is removed at process exit.
struct TlsMaterial {
    TempDir directory;
    TlsFiles files;

    TlsMaterial() {
        const auto path = [this](const char* name) { return (fs::path(directory.path()) / name).string(); };
        files.directory = directory.path();
        const KeyPtr caKey = newKey();
        const CertPtr ca = newCert({"Tarnwell Test CA", nullptr, -DAY, 30 * DAY, 1}, caKey.get(), nullptr, nullptr);
        const KeyPtr otherKey = newKey();
        const CertPtr other =
            newCert({"Unrelated Test CA", nullptr, -DAY, 30 * DAY, 2}, otherKey.get(), nullptr, nullptr);
        writePem(files.caCert = path("ca.pem"), ca.get());
        writePem(files.otherCaCert = path("other-ca.pem"), other.get());

        const KeyPtr hiddenKey = newKey();
        const std::string hiddenName =
            "Tarnwell Hidden Test CA " + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}());
        const CertPtr hidden =
            newCert({hiddenName.c_str(), nullptr, -DAY, 30 * DAY, 6}, hiddenKey.get(), nullptr, nullptr);
        writePem(files.hiddenCaCert = path("hidden-ca.pem"), hidden.get());

        const auto leaf = [&](const CertProfile& profile, const char* stem, std::string& certPath, std::string& keyPath,
                              X509* issuer = nullptr, EVP_PKEY* issuerKey = nullptr) {
            const KeyPtr key = newKey();
            const CertPtr cert = newCert(profile, key.get(), issuer != nullptr ? issuer : ca.get(),
                                         issuerKey != nullptr ? issuerKey : caKey.get());
            writePem(certPath = path((std::string(stem) + ".pem").c_str()), cert.get());
            writePem(keyPath = path((std::string(stem) + "-key.pem").c_str()), key.get());
        };
        const char* loopback = "DNS:localhost,IP:127.0.0.1";
        leaf({"localhost", loopback, -DAY, 30 * DAY, 3}, "server", files.serverCert, files.serverKey);
        leaf({"localhost", loopback, -10 * DAY, -5 * DAY, 4}, "expired", files.expiredCert, files.expiredKey);
        leaf({"wrong-host.invalid", "DNS:wrong-host.invalid", -DAY, 30 * DAY, 5}, "wrong-host", files.wrongHostCert,
             files.wrongHostKey);
        leaf({"localhost", loopback, -DAY, 30 * DAY, 7}, "hidden-server", files.hiddenCaServerCert,
             files.hiddenCaServerKey, hidden.get(), hiddenKey.get());
    }
};

}  // namespace

const TlsFiles& tlsFiles() {
    static const TlsMaterial material;
    return material.files;
}

// ------------------------------------------------------------ httplib

namespace {

using httplib::Request;
using httplib::Response;

ReceivedRequest received(const Request& request) {
    ReceivedRequest copy;
    copy.method = request.method;
    copy.target = request.target;
    copy.headers.assign(request.headers.begin(), request.headers.end());
    copy.body = request.body;
    return copy;
}

void onEveryMethod(httplib::Server& server, const std::string& pattern, const httplib::Server::Handler& handler) {
    server.Get(pattern, handler);
    server.Post(pattern, handler);
    server.Put(pattern, handler);
    server.Patch(pattern, handler);
    server.Delete(pattern, handler);
    server.Options(pattern, handler);
}

void echo(const Request& request, Response& response) {
    response.set_header("X-Echo-Method", request.method);
    response.set_content(request.body, "application/octet-stream");
}

void redirect(Response& response, int status, const std::string& location) {
    response.status = status;
    response.set_header("Location", location);
}

std::string allBytes() {
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
    return bytes;
}

void addStandardRoutes(httplib::Server& server) {
    onEveryMethod(server, "/echo", echo);
    onEveryMethod(server, "/hi", [](const Request&, Response& r) { r.set_content("Hi\n", "text/plain"); });
    onEveryMethod(server, "/bytes", [](const Request&, Response& r) { r.set_content(allBytes(), "x/bytes"); });
    onEveryMethod(server, "/nul", [](const Request&, Response& r) { r.set_content(std::string("A\0B", 3), "x/y"); });
    onEveryMethod(server, "/empty", [](const Request&, Response&) {});
    onEveryMethod(server, R"(/status/(\d+))", [](const Request& request, Response& response) {
        response.status = std::stoi(request.matches[1]);
        response.set_header("X-Status", request.matches[1]);
        response.set_content("status " + std::string(request.matches[1]), "text/plain");
    });
    onEveryMethod(server, R"(/redirect/(\d+))", [](const Request& request, Response& response) {
        const int hops = std::stoi(request.matches[1]);
        response.set_header("X-Hop", std::to_string(hops));
        if (hops > 0) return redirect(response, 302, "/redirect/" + std::to_string(hops - 1));
        response.set_content("end", "text/plain");
    });
    onEveryMethod(server, "/redirect307", [](const Request&, Response& r) { redirect(r, 307, "/echo"); });
    onEveryMethod(server, R"(/redirect-with/(\d+))", [](const Request& request, Response& response) {
        redirect(response, std::stoi(request.matches[1]), "/echo");
    });
    onEveryMethod(server, "/loop", [](const Request&, Response& r) { redirect(r, 302, "/loop"); });
    onEveryMethod(server, "/to", [](const Request& request, Response& response) {
        redirect(response, 302, request.get_param_value("url"));
    });
    onEveryMethod(server, "/basic", [](const Request& request, Response& response) {
        const std::string expected = "Basic " + base64Encode(std::string(BASIC_USER) + ":" + BASIC_PASSWORD);
        if (request.get_header_value("Authorization") != expected) {
            response.status = 401;
            response.set_header("WWW-Authenticate", "Basic realm=\"tw-test\"");
            response.set_header("X-Challenge", "1");
            return;
        }
        response.set_header("X-Authorized", "yes");
        echo(request, response);
    });
}

std::unique_ptr<httplib::Server> newServer(Tls tls) {
    if (tls == Tls::Off) return std::make_unique<httplib::Server>();
    const TlsFiles& files = tlsFiles();
    const std::string& cert = tls == Tls::Valid      ? files.serverCert
                              : tls == Tls::Expired  ? files.expiredCert
                              : tls == Tls::HiddenCa ? files.hiddenCaServerCert
                                                     : files.wrongHostCert;
    const std::string& key = tls == Tls::Valid      ? files.serverKey
                             : tls == Tls::Expired  ? files.expiredKey
                             : tls == Tls::HiddenCa ? files.hiddenCaServerKey
                                                    : files.wrongHostKey;
    return std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
}

}  // namespace

HttpServer::HttpServer(Tls tls, const Routes& extraRoutes) : server_(newServer(tls)), tls_(tls != Tls::Off) {
    if (!server_->is_valid()) throw std::runtime_error("cannot set up the test server");
    server_->new_task_queue = [] { return new httplib::ThreadPool(4); };
    // Headers and body go out in separate writes; without this, Nagle holds
    // the body back until the client's delayed ACK, some 40 ms a request.
    server_->set_tcp_nodelay(true);
    // Runs after the handler, when the whole body has been read, and before
    // the response goes out: a client that has its answer finds it logged.
    server_->set_post_routing_handler([this](const Request& request, Response&) { log_.add(received(request)); });
    addStandardRoutes(*server_);
    if (extraRoutes) extraRoutes(*server_);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind the test server");
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        ended_ = true;
    });
    // stop() is only safe once the accept loop runs.
    while (!server_->is_running() && !ended_) std::this_thread::yield();
    if (ended_) {
        thread_.join();
        throw std::runtime_error("the test server stopped at once");
    }
}

HttpServer::~HttpServer() {
    server_->stop();
    thread_.join();
}

std::string HttpServer::url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

// ------------------------------------------------------------ raw TCP

namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Appends what arrives to `buffer`; false on end of stream or error.
bool readMore(int fd, std::string& buffer) {
    char chunk[16384];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
}

void parseHead(const std::string& head, ReceivedRequest& request) {
    std::istringstream lines(head);
    std::string line;
    std::getline(lines, line);
    std::istringstream requestLine(line);
    requestLine >> request.method >> request.target;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            request.headers.emplace_back(line, "");
        } else {
            request.headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
        }
    }
}

}  // namespace

RawServer::RawServer(Responder responder, Ending ending) : responder_(std::move(responder)), ending_(ending) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener_ >= 0) ::close(listener_);
        throw std::runtime_error("cannot set up the raw test server");
    }
    // Listening already: connections queue up until the thread accepts them.
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawServer::RawServer(std::string cannedResponse, Ending ending)
    : RawServer([response = std::move(cannedResponse)](const ReceivedRequest&) { return response; }, ending) {}

RawServer::~RawServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);  // wakes the blocked accept()
    thread_.join();
    ::close(listener_);
}

std::string RawServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RawServer::serve() {
    while (!stopping_) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR) continue;
            return;
        }
        // A client that never finishes its request must not hang the suite.
        timeval timeout{5, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        handle(connection);
        ::close(connection);
    }
}

void RawServer::handle(int connection) {
    std::string buffer;
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (!readMore(connection, buffer)) return;
    }
    ReceivedRequest request;
    request.head = buffer.substr(0, headEnd + 4);
    parseHead(request.head, request);
    request.body = buffer.substr(headEnd + 4);
    const std::string lengthText = request.header("Content-Length");
    const std::size_t length = lengthText.empty() ? 0 : std::stoul(lengthText);
    if (equalsIgnoringCase(request.header("Expect"), "100-continue") && request.body.size() < length) {
        writeAll(connection, "HTTP/1.1 100 Continue\r\n\r\n");
    }
    while (request.body.size() < length) {
        if (!readMore(connection, request.body)) break;
    }
    const std::string response = responder_(request);
    log_.add(std::move(request));
    writeAll(connection, response);
    if (ending_ == Ending::Reset) {
        const linger abort{1, 0};  // close() then sends RST
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return;
    }
    ::shutdown(connection, SHUT_WR);
    // Let the client read everything before the socket goes away, so that it
    // sees an orderly close rather than a reset.
    std::string rest;
    while (readMore(connection, rest)) rest.clear();
}

std::string base64Encode(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string base64Decode(const std::string& text) {
    std::string bytes(text.size() / 4 * 3, '\0');
    const int length =
        EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                        reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0) return "<not base64>";
    const std::size_t padding = text.size() - std::min(text.size(), text.find_last_not_of('=') + 1);
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

std::string httpResponse(int status, const std::string& body, const std::vector<std::string>& extraHeaderLines) {
    std::string response = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Test") + "\r\n";
    for (const auto& line : extraHeaderLines) response += line + "\r\n";
    response += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return response + body;
}

}  // namespace tw_test
