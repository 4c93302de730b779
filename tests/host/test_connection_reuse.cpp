// reuseConnections: calls share one process-wide pool of connections, over
// HTTP and HTTPS, from one thread or many. The server tells each client the
// port it came from, so distinct ports are distinct TCP connections.
#include "support/OptionRequests.h"
#include "support/Servers.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace tw_test;
using nlohmann::json;

namespace {

// Enough workers that no keep-alive connection waits for one, and no limit
// on requests per connection. The server's stop waits for idle keep-alive
// connections (the pool keeps them open) to time out, so that is short.
void addPortRoute(httplib::Server& server) {
    server.new_task_queue = [] { return new httplib::ThreadPool(12); };
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(1);
    server.Get("/port", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(std::to_string(request.remote_port) + "\n" + std::string(1024, 'x'), "text/plain");
    });
}

// Runs threads × calls GETs of /port and returns how many connections the
// server saw; every call must succeed.
std::size_t connectionsFor(const HttpServer& server, bool reuse, int threads, int calls) {
    const json options = {{"url", server.url("/port")}, {"reuseConnections", reuse}, {"caBundle", tlsFiles().caCert}};
    const std::string requestJson = options.dump();
    std::mutex mutex;
    std::set<std::string> ports;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < calls; ++i) {
                const CallResult result = callOptions(requestJson.c_str());
                EXPECT_EQ(result.code, 200) << result.body;
                const std::lock_guard<std::mutex> lock(mutex);
                ports.insert(result.body.substr(0, result.body.find('\n')));
            }
        });
    }
    for (auto& worker : workers) worker.join();
    return ports.size();
}

}  // namespace

TEST(ConnectionReuse, PooledCallsShareConnections) {
    for (const Tls tls : {Tls::Off, Tls::Valid}) {
        SCOPED_TRACE(tls == Tls::Off ? "http" : "https");
        const HttpServer server(tls, addPortRoute);
        EXPECT_EQ(connectionsFor(server, true, 1, 20), 1u);
        EXPECT_EQ(connectionsFor(server, false, 1, 20), 20u);
        EXPECT_LE(connectionsFor(server, true, 4, 50), 4u + 2u);
    }
}
