// One round of the connection-reuse benchmark: GETs of one small file
// through TwHttpRequest, with and without reuseConnections, over HTTP and
// HTTPS, against servers in other processes. Prints one line of JSON with
// the mean microseconds per call of each case; bench/reuse.py runs rounds
// of it interleaved with Python's requests and takes the medians.
//
//   tw_bench_reuse LIBRARY HTTP_URL HTTPS_URL CA_FILE CALLS
#include "HostLibrary.h"

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
    std::printf(R"({"http_reuse":%.2f,"http_new":%.2f,"https_reuse":%.2f,"https_new":%.2f})"
                "\n",
                perCall(library, requestJson(http, ca, true), calls), perCall(library, requestJson(http, ca, false), calls),
                perCall(library, requestJson(https, ca, true), calls),
                perCall(library, requestJson(https, ca, false), fewer));
    return 0;
}
