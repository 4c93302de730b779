// TwHttpRequest against peers that misbehave or stand in between: servers
// that never answer (time-outs) and a forward proxy.
#include "support/OptionRequests.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

using namespace tw_test;
using nlohmann::json;

namespace {

// Sets or unsets environment variables; the destructor restores them.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        saved_.push_back({name, std::getenv(name) != nullptr ? std::optional<std::string>(std::getenv(name))
                                                             : std::nullopt});
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(HttpRequest, TimeoutsEndCallsThatWouldHang) {
    const struct {
        SilentListener::Backlog backlog;
        const char* option;
    } cases[] = {
        {SilentListener::Backlog::Room, "timeoutMs"},        // connected, never answered
        {SilentListener::Backlog::Full, "connectTimeoutMs"},  // the connect never completes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        const SilentListener listener(c.backlog);
        const auto start = std::chrono::steady_clock::now();
        const CallResult result = callOptions(json{{"url", listener.url()}, {c.option, 300}});
        // A hang guard, not a timing check.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        expectCurlFailureWith(result, CURL_TIMEOUT);
    }
}

TEST(HttpRequest, ProxyOptionOverridesTheEnvironment) {
    const HttpServer origin;
    const RawServer proxy(httpResponse(200, "via proxy"));
    ScopedEnvironment environment;
    for (const char* name : {"no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"}) environment.set(name, nullptr);
    environment.set("http_proxy", proxy.url().c_str());
    const struct {
        json proxy;  // null: not given
        std::string body;
    } cases[] = {
        {nullptr, "via proxy"},  // the environment applies
        {proxy.url(), "via proxy"},
        {"", "Hi\n"},  // no proxy at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.proxy.dump());
        json options = {{"url", origin.url("/hi")}};
        if (!c.proxy.is_null()) options["proxy"] = c.proxy;
        const std::size_t before = proxy.log().size();
        const CallResult result = callOptions(options);
        EXPECT_EQ(result.code, 200) << result.body;
        EXPECT_EQ(result.body, c.body);
        const bool proxied = c.body == "via proxy";
        ASSERT_EQ(proxy.log().size(), before + (proxied ? 1 : 0));
        if (proxied) {
            EXPECT_EQ(proxy.log().all().back().target, origin.url("/hi"));
        }
    }
}
