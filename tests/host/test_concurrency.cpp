// Many host threads at once: every call gets exactly its own answer. Each
// request carries a body unique to its thread and call, so a result that
// reached the wrong call cannot pass. The sanitizer stage runs this test
// under ThreadSanitizer.
#include "support/Host.h"
#include "support/ReferenceEncoding.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace tw_test;

namespace {

constexpr int THREADS = 8;
constexpr int CALLS_PER_THREAD = 400;
const char* const METHODS[] = {"POST", "PUT", "PATCH", "DELETE"};

struct Servers {
    HttpServer http;
    HttpServer https{Tls::Valid};
};

class Worker {
public:
    Worker(const Servers& servers, int id) : servers_(servers), id_(id), random_(static_cast<unsigned>(id)) {}

    // Runs the calls; returns how many results were wrong.
    int run() {
        for (int call = 0; call < CALLS_PER_THREAD; ++call) {
            tag_ = "thread " + std::to_string(id_) + " call " + std::to_string(call) + " \xc3\xa9 " +
                   std::to_string(random_());
            oneCall(call % 8);
        }
        return failures_;
    }

private:
    void check(bool ok, const std::string& what, const std::string& got) {
        if (ok) return;
        ++failures_;
        ADD_FAILURE() << what << " [" << tag_ << "] got: " << got.substr(0, 300);
    }

    void expectEcho(const CallResult& result, const char* method, const std::string& body) {
        check(result.code == 200, "status", result.body);
        check(result.body == body, "body", result.body);
        const auto headers = parseHeaderJson(result.headers);
        const bool methodEchoed = std::count(headers.begin(), headers.end(),
                                             std::make_pair(std::string("X-Echo-Method"), std::string(method))) == 1;
        check(methodEchoed, "echoed method", result.headers);
    }

    void oneCall(int kind) {
        const char* method = METHODS[random_() % 4];
        const int encoding = static_cast<int>(random_() % 6);
        switch (kind) {
            case 0:  // every response encoding through the core
                expectEcho(callCore(servers_.http.url("/echo"), "", "", method, "", tag_, 0, encoding, 0), method,
                           referenceEncoding(tag_, encoding));
                break;
            case 1:  // base64 request body, Tw family
                expectEcho(callTw("TwHttpCallBase64In64", method, servers_.http.url("/echo"), "", base64Encode(tag_)),
                           method, base64Encode(tag_));
                break;
            case 2:
                expectEcho(callTw("TwHttpCallBytes", method, servers_.http.url("/echo"), R"({"X-A":"1"})", tag_),
                           method, referenceEncoding(tag_, 3));
                break;
            case 3:  // HTTPS, verification off
                expectEcho(callCore(servers_.https.url("/echo"), "", "", method, "", tag_, 0, encoding, 1), method,
                           referenceEncoding(tag_, encoding));
                break;
            case 4:  // credentials answering a challenge
                expectEcho(callCore(servers_.http.url("/basic"), BASIC_USER, BASIC_PASSWORD, method, "", tag_, 0, 0, 0),
                           method, tag_);
                break;
            case 5: failures(method); break;
            case 6: encoders(); break;
            default: queries();
        }
    }

    void failures(const char* method) {
        const CallResult refused = callTw("TwHttpCall", method, CLOSED_PORT_URL, "", tag_);
        check(refused.code == 0 && refused.headers.empty() && isMessageWithPrefix(refused.body, CURL_FAILURE_PREFIX),
              "refused connection", refused.body);
        const CallResult badBase64 = callTw("TwHttpCallIn64", method, servers_.http.url("/echo"), "", tag_);
        check(badBase64.code == 0 && badBase64.body == BAD_BASE64, "bad base64", badBase64.body);
        const CallResult badJson = callTw("TwHttpCall", method, servers_.http.url("/echo"), "{\"" + tag_, "");
        check(badJson.code == 0 && isMessageWithPrefix(badJson.body, JSON_ERROR_PREFIX), "bad JSON", badJson.body);
    }

    // The tag percent-encoded: spaces written as `space`, letters and digits
    // kept when keepAlnum, every other byte escaped.
    std::string escapedTag(const std::string& space, bool keepAlnum) const {
        std::string text;
        for (const char c : tag_) {
            if (c == ' ') {
                text += space;
            } else if (keepAlnum && std::isalnum(static_cast<unsigned char>(c))) {
                text.push_back(c);
            } else {
                text += "%" + referenceByteList(std::string(1, c), "%02X", ',');
            }
        }
        return text;
    }

    void encoders() {
        const Host& host = Host::instance();
        const std::string js = host.take(host.api().TwUrlEncodeJS(tag_.c_str()));
        check(js == escapedTag("%20", true), "TwUrlEncodeJS", js);
        const std::string own = host.take(host.api().escapeUrlStyleAllowedCharacters(tag_.c_str(), " ", 1));
        check(own == escapedTag(" ", false), "escapeUrlStyleAllowedCharacters", own);
    }

    void queries() {
        const Host& host = Host::instance();
        const std::string json = R"({"tag":")" + tag_ + R"(","n":[1,2]})";
        const std::string query = host.take(host.api().TwUrlEncodeQueryLax(json.c_str()));
        check(query == "n=[1,2]&tag=" + escapedTag("%20", true), "TwUrlEncodeQueryLax", query);
    }

    const Servers& servers_;
    const int id_;
    std::mt19937 random_;
    std::string tag_;
    int failures_ = 0;
};

}  // namespace

TEST(Concurrency, ManyThreadsEachGetTheirOwnResults) {
    const Servers servers;
    std::vector<int> failures(THREADS, 0);
    std::vector<std::thread> threads;
    for (int id = 0; id < THREADS; ++id) {
        threads.emplace_back([&servers, &failures, id] { failures[id] = Worker(servers, id).run(); });
    }
    for (auto& thread : threads) thread.join();
    for (int id = 0; id < THREADS; ++id) EXPECT_EQ(failures[id], 0) << "thread " << id;
    // Requests that reach a server, by call kind (/basic is asked twice:
    // the challenge, then the answer).
    const int httpRequests[8] = {1, 1, 1, 0, 2, 0, 0, 0};
    std::size_t http = 0, https = 0;
    for (int call = 0; call < CALLS_PER_THREAD; ++call) {
        http += httpRequests[call % 8];
        https += call % 8 == 3;
    }
    EXPECT_EQ(servers.http.log().size(), THREADS * http);
    EXPECT_EQ(servers.https.log().size(), THREADS * https);
}
