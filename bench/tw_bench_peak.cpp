// Large requests through the library in a process of its own, one after
// another as a host makes them, each result given back before the next
// call; prints the process's peak resident memory in KiB.
// Usage: tw_bench_peak LIBRARY URL ENCODING EXPECTED_BODY_LENGTH CALLS
#include "HostLibrary.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <string>

namespace {

// VmHWM belongs to this program's own address space. getrusage() would
// not do: across exec it keeps the high-water mark of the parent's memory
// image, which the spawning process shares until then.
long peakResidentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s LIBRARY URL ENCODING EXPECTED_BODY_LENGTH CALLS\n", argv[0]);
        return 2;
    }
    try {
        const bench::HostLibrary library(argv[1]);
        const auto expected = std::strtoull(argv[4], nullptr, 10);
        for (int call = std::atoi(argv[5]); call > 0; --call) {
            bench::HostStrings result(library);
            const int code = library.exports.sendEncodedRequestEncodeResponse(
                argv[2], "GET", "", "", 0, std::atoi(argv[3]), 0, &result.headers, &result.body);
            if (code != 200 || std::strlen(result.body) != expected) {
                std::fprintf(stderr, "unexpected result: status %d, %zu body bytes\n", code, std::strlen(result.body));
                return 1;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("%ld\n", peakResidentKib());
    return 0;
}
