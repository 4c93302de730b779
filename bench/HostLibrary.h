// The library as a host loads it: dlopen by path, exports looked up by
// plain name, every handed-out string given back to freemem.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace bench {

class HostLibrary {
public:
    using RequestFn = int(const char*, const char*, const char*, const char*, char**, char**);
    using EncodedRequestFn = int(const char*, const char*, const char*, const char*, int, int, int, char**, char**);
    using EscapeFn = char*(const char*);
    using FreeFn = void(void*);

    explicit HostLibrary(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load the library: ") + dlerror());
        twHttpCall = lookup<RequestFn>("TwHttpCall");
        sendEncodedRequestEncodeResponse = lookup<EncodedRequestFn>("sendEncodedRequestEncodeResponse");
        twUrlEncodeJS = lookup<EscapeFn>("TwUrlEncodeJS");
        freemem = lookup<FreeFn>("freemem");
    }
    ~HostLibrary() { dlclose(handle_); }
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;

    RequestFn* twHttpCall;
    EncodedRequestFn* sendEncodedRequestEncodeResponse;
    EscapeFn* twUrlEncodeJS;
    FreeFn* freemem;

private:
    template <typename Fn>
    Fn* lookup(const char* name) const {
        void* address = dlsym(handle_, name);
        if (address == nullptr) throw std::runtime_error(std::string("export not found: ") + name);
        return reinterpret_cast<Fn*>(address);
    }

    void* handle_;
};

// One request's two handed-out strings, released when the call is done.
class HostStrings {
public:
    explicit HostStrings(const HostLibrary& library) : library_(library) {}
    ~HostStrings() {
        library_.freemem(headers);
        library_.freemem(body);
    }
    HostStrings(const HostStrings&) = delete;
    HostStrings& operator=(const HostStrings&) = delete;

    char* headers = nullptr;
    char* body = nullptr;

private:
    const HostLibrary& library_;
};

}  // namespace bench
