// Many host threads share the connection pool at once: every call still
// gets exactly its own answer. Runs under ThreadSanitizer with the other
// Concurrency tests.
#include "support/Nginx.h"
#include "support/OptionRequests.h"
#include "support/Servers.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
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

// A host that exits while other threads are inside pooled calls: the
// library's teardown at exit must leave alone what those calls use. Each
// round runs in a child process whose exit status tells; under
// AddressSanitizer a use after free ends it with a failure status.
TEST(PoolTeardown, ExitWhilePooledCallsRunFreesNothingInUse) {
    if (!NginxServer::available()) GTEST_SKIP() << "nginx not found";
    const NginxServer nginx("", {{"hi.txt", "hi\n"}});
    const std::string requestJson = json{{"url", nginx.httpUrl("/hi.txt")}, {"reuseConnections", true}}.dump();
    // The exports by address, and the library held open past exit, so that
    // the calling threads touch nothing of the test's own that exit destroys.
    Dl_info library{};
    ASSERT_NE(dladdr(Host::instance().symbol("TwHttpRequest"), &library), 0);
    ASSERT_NE(dlopen(library.dli_fname, RTLD_NOW | RTLD_NODELETE), nullptr);
    const auto request = Host::instance().api().TwHttpRequest;
    const auto release = Host::instance().api().freemem;
    for (int round = 0; round < 8; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            static std::atomic<int> done{0};
            for (int t = 0; t < 6; ++t) {
                std::thread([&] {
                    for (;;) {
                        char* headers = nullptr;
                        char* body = nullptr;
                        request(requestJson.c_str(), &headers, &body);
                        release(headers);
                        release(body);
                        ++done;
                    }
                }).detach();
            }
            while (done < 60) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round << ", status " << status;
    }
}
