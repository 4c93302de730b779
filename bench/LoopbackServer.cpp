#include "LoopbackServer.h"

#include <httplib.h>

#include <algorithm>
#include <stdexcept>

namespace bench {

namespace {
// Large bodies go out in slices so that the socket, not a copy of the
// body, sets the pace.
constexpr std::size_t SLICE = std::size_t{1} << 20;
}  // namespace

LoopbackServer::LoopbackServer(const std::map<std::string, const std::string*>& bodies)
    : server_(std::make_unique<httplib::Server>()) {
    // Without this, Nagle's algorithm can hold back the last small segment.
    server_->set_tcp_nodelay(true);
    for (const auto& [path, body] : bodies) {
        server_->Get(path, [body](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(body->size(), "application/octet-stream",
                                          [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                              return sink.write(body->data() + offset, std::min(length, SLICE));
                                          });
        });
    }
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind the loopback server");
    // The socket listens from here on, so clients may connect at once.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

LoopbackServer::~LoopbackServer() {
    server_->stop();
    thread_.join();
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace bench
