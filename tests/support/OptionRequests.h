// Calls TwHttpRequest the way a host does, with the request JSON built by
// the test, plus loopback listeners that never answer.
#pragma once

#include "support/Host.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tw_test {

// requestJson NULL when json is null.
inline CallResult callOptions(const char* json) {
    char* headers = nullptr;
    char* body = nullptr;
    const int code = Host::instance().fn<int(const char*, char**, char**)>("TwHttpRequest")(json, &headers, &body);
    return takeResult(code, headers, body);
}

inline CallResult callOptions(const nlohmann::json& options) {
    return callOptions(options.dump().c_str());
}

// A socket on 127.0.0.1 that listens but never accepts. With room in its
// backlog the kernel completes connections that then hear nothing; with
// the backlog full the kernel ignores new connection attempts, so a
// connect never ends.
class SilentListener {
public:
    enum class Backlog { Room, Full };
    explicit SilentListener(Backlog backlog);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::string url() const;

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

}  // namespace tw_test
