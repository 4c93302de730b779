// The library as the benchmarks load it, and the owner of a request's two handed-out strings.
#pragma once

#include "Exports.h"

namespace bench {

using HostLibrary = tw::Library;

// One request's two handed-out strings, released when the call is done.
class HostStrings {
public:
    explicit HostStrings(const HostLibrary& library) : library_(library) {}
    ~HostStrings() {
        library_.exports.freemem(headers);
        library_.exports.freemem(body);
    }
    HostStrings(const HostStrings&) = delete;
    HostStrings& operator=(const HostStrings&) = delete;

    char* headers = nullptr;
    char* body = nullptr;

private:
    const HostLibrary& library_;
};

}  // namespace bench
