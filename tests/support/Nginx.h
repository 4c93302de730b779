// nginx from the system as a real peer: started by a test on 127.0.0.1 with
// a configuration of its own, and stopped when the test ends.
#pragma once

#include "support/Servers.h"

#include <string>

namespace tw_test {

// One nginx master process with an HTTPS listener (HTTP/2 offered through
// ALPN, the test PKI's server certificate) and a plain HTTP listener. The
// listening sockets are opened here and handed to nginx, so connections
// queue from the start and no port can be lost to another program.
class NginxServer {
public:
    // `locations` goes into the server block as it is; `files` are written
    // into the document root first (name, content).
    explicit NginxServer(const std::string& locations,
                         const std::vector<std::pair<std::string, std::string>>& files = {});
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // False when no nginx binary can be found; tests then skip.
    static bool available();

    std::string httpsUrl(const std::string& path) const;
    std::string httpUrl(const std::string& path) const;

private:
    TempDir prefix_;
    int httpsSocket_ = -1;
    int httpSocket_ = -1;
    int httpsPort_ = 0;
    int httpPort_ = 0;
    int pid_ = -1;
};

}  // namespace tw_test
