// An HTTP server on 127.0.0.1 (ephemeral port) in this process, serving
// fixed bodies straight from memory.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace bench {

class LoopbackServer {
public:
    // `bodies` maps a path such as "/1k" to its body; they must outlive the server.
    explicit LoopbackServer(const std::map<std::string, const std::string*>& bodies);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string url(const std::string& path) const;

private:
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace bench
