#include "support/OptionRequests.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace tw_test {

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

}  // namespace

SilentListener::SilentListener(Backlog backlog) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    // Backlog 0 holds one queued connection; the second one fills it.
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, backlog == Backlog::Full ? 0 : 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot set up the silent listener");
    }
    port_ = ntohs(address.sin_port);
    for (int i = 0; backlog == Backlog::Full && i < 2; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const sockaddr_in target = loopback(port_);
        ::connect(filler, reinterpret_cast<const sockaddr*>(&target), sizeof target);  // in progress
        fillers_.push_back(filler);
    }
}

SilentListener::~SilentListener() {
    for (const int filler : fillers_) ::close(filler);
    ::close(listener_);
}

std::string SilentListener::url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

}  // namespace tw_test
