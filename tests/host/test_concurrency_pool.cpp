// Many host threads share the connection pool at once: every call still
// gets exactly its own answer. Runs under ThreadSanitizer with the other
// Concurrency tests.
#include "support/OptionRequests.h"
#include "support/Servers.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <string>
#include <thread>
#include <vector>

using namespace tw_test;
using nlohmann::json;

namespace {

constexpr int THREADS = 8;
constexpr int CALLS_PER_THREAD = 150;

// A worker per client thread, and keep-alive connections that end soon
// after the pool stops using them.
void roomForEveryThread(httplib::Server& server) {
    server.new_task_queue = [] { return new httplib::ThreadPool(THREADS + 4); };
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(1);
}

}  // namespace

TEST(Concurrency, PooledCallsFromManyThreadsGetTheirOwnAnswers) {
    const HttpServer http(Tls::Off, roomForEveryThread);
    const HttpServer https(Tls::Valid, roomForEveryThread);
    std::vector<int> failures(THREADS, 0);
    std::vector<std::thread> threads;
    for (int id = 0; id < THREADS; ++id) {
        threads.emplace_back([&, id] {
            for (int call = 0; call < CALLS_PER_THREAD; ++call) {
                const std::string tag = "thread " + std::to_string(id) + " call " + std::to_string(call);
                // Every fifth call takes a connection of its own, so pooled
                // and unpooled handles run side by side.
                const json options = {{"url", (call % 2 == 0 ? http : https).url("/echo")},
                                      {"method", "POST"},
                                      {"body", tag},
                                      {"caBundle", tlsFiles().caCert},
                                      {"reuseConnections", call % 5 != 0}};
                const CallResult result = callOptions(options);
                if (result.code != 200 || result.body != tag) {
                    ++failures[id];
                    ADD_FAILURE() << tag << ": " << result.code << " " << result.body;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int id = 0; id < THREADS; ++id) EXPECT_EQ(failures[id], 0) << "thread " << id;
    EXPECT_EQ(http.log().size() + https.log().size(), std::size_t{THREADS} * CALLS_PER_THREAD);
}
