// One round of the connection-reuse benchmark: GETs of one small file
// through TwHttpRequest, with and without reuseConnections, over HTTP and
// HTTPS, against servers in other processes, and through a bare libcurl
// handle kept alive, the floor for any pool: its calls alternate with the
// pooled ones. Prints one line of JSON with the mean microseconds per call
// of each case; bench/reuse.py runs rounds of it interleaved with Python's
// requests and takes the medians.
//
//   tw_bench_reuse LIBRARY HTTP_URL HTTPS_URL CA_FILE CALLS
#include "HostLibrary.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using bench::HostLibrary;
using bench::HostStrings;

// One call; the whole run fails on anything but a 200 with a body.
void call(const HostLibrary& library, const std::string& requestJson) {
    HostStrings result(library);
    const int code = library.exports.TwHttpRequest(requestJson.c_str(), &result.headers, &result.body);
    if (code != 200 || result.body == nullptr || result.body[0] == '\0') {
        std::fprintf(stderr, "request failed (%d): %s\n", code, result.body != nullptr ? result.body : "");
        std::exit(1);
    }
}

// Mean microseconds per call after one untimed call, which opens the
// pooled connection (or warms the caches of the unpooled path).
double perCall(const HostLibrary& library, const std::string& requestJson, int calls) {
    call(library, requestJson);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) call(library, requestJson);
    const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / calls;
}

std::size_t appendBody(char* bytes, std::size_t size, std::size_t count, void* body) {
    static_cast<std::string*>(body)->append(bytes, size * count);
    return size * count;
}

// libcurl alone: one easy handle, its options set once, kept alive.
class BareHandle {
public:
    BareHandle(const std::string& url, const std::string& caFile) : handle_(curl_easy_init()) {
        curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle_, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(handle_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, appendBody);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &body_);
    }
    ~BareHandle() { curl_easy_cleanup(handle_); }
    BareHandle(const BareHandle&) = delete;
    BareHandle& operator=(const BareHandle&) = delete;

    void call() {
        body_.clear();
        long code = 0;
        if (curl_easy_perform(handle_) != CURLE_OK ||
            curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code != 200 || body_.empty()) {
            std::fprintf(stderr, "bare libcurl request failed (%ld)\n", code);
            std::exit(1);
        }
    }

private:
    CURL* handle_;
    std::string body_;
};

struct PooledAndBare {
    double pooled = 0;
    double bare = 0;
};

// Mean microseconds per call of each, one call of each in turn, so that
// both meet the same state of the machine.
PooledAndBare alternating(const HostLibrary& library, const std::string& requestJson, BareHandle& bare, int calls) {
    using Clock = std::chrono::steady_clock;
    call(library, requestJson);
    bare.call();
    std::chrono::duration<double, std::micro> pooled{}, alone{};
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        call(library, requestJson);
        const auto middle = Clock::now();
        bare.call();
        pooled += middle - start;
        alone += Clock::now() - middle;
    }
    return {pooled.count() / calls, alone.count() / calls};
}

std::string requestJson(const std::string& url, const std::string& caFile, bool reuse) {
    return R"({"url":")" + url + R"(","caBundle":")" + caFile + R"(","reuseConnections":)" +
           (reuse ? "true" : "false") + "}";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s LIBRARY HTTP_URL HTTPS_URL CA_FILE CALLS\n", argv[0]);
        return 2;
    }
    const HostLibrary library(argv[1]);
    const std::string http = argv[2], https = argv[3], ca = argv[4];
    const int calls = std::atoi(argv[5]);
    // A handshake per call makes the unpooled HTTPS case some 30 times
    // slower; it runs fewer calls so that a round stays short.
    const int fewer = calls / 10 > 0 ? calls / 10 : 1;
    BareHandle bareHttp(http, ca), bareHttps(https, ca);
    const PooledAndBare overHttp = alternating(library, requestJson(http, ca, true), bareHttp, calls);
    const PooledAndBare overHttps = alternating(library, requestJson(https, ca, true), bareHttps, calls);
    std::printf(R"({"http_reuse":%.2f,"http_bare":%.2f,"http_new":%.2f,"https_reuse":%.2f,"https_bare":%.2f,)"
                R"("https_new":%.2f})"
                "\n",
                overHttp.pooled, overHttp.bare, perCall(library, requestJson(http, ca, false), calls), overHttps.pooled,
                overHttps.bare, perCall(library, requestJson(https, ca, false), fewer));
    return 0;
}
