#include "support/Host.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace tw_test {

Host& Host::instance() {
    static Host host;
    return host;
}

Host::Host() : handle_(dlopen(TW_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)), freemem_(nullptr) {
    if (handle_ == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", TW_LIBRARY_PATH, dlerror());
        std::abort();
    }
    freemem_ = fn<void(void*)>("freemem");
}

void* Host::symbol(const char* name) const {
    void* address = dlsym(handle_, name);
    if (address == nullptr) {
        std::fprintf(stderr, "export %s not found\n", name);
        std::abort();
    }
    return address;
}

std::string Host::take(char* text) const {
    std::string copy = text != nullptr ? std::string(text) : std::string("<null>");
    freemem_(text);
    return copy;
}

CallResult callTw(const char* exportName, const std::string& method, const std::string& url,
                  const std::string& headersJson, const std::string& body) {
    const Host& host = Host::instance();
    char* headers = nullptr;
    char* responseBody = nullptr;
    CallResult result;
    result.code = host.fn<RequestFn7>(exportName)(method.c_str(), url.c_str(), headersJson.c_str(), body.c_str(),
                                                  &headers, &responseBody);
    result.headers = host.take(headers);
    result.body = host.take(responseBody);
    return result;
}

CallResult callCore(const std::string& url, const std::string& username, const std::string& password,
                    const std::string& method, const std::string& headersJson, const std::string& body,
                    int bodyIsBase64, int responseEncoding, int skipCertificateVerification) {
    using CoreFn = int(const char*, const char*, const char*, const char*, const char*, const char*, int, int, int,
                       char**, char**);
    const Host& host = Host::instance();
    char* headers = nullptr;
    char* responseBody = nullptr;
    CallResult result;
    result.code = host.fn<CoreFn>("sendAuthEncodedRequestEncodeResponse")(
        url.c_str(), username.c_str(), password.c_str(), method.c_str(), headersJson.c_str(), body.c_str(),
        bodyIsBase64, responseEncoding, skipCertificateVerification, &headers, &responseBody);
    result.headers = host.take(headers);
    result.body = host.take(responseBody);
    return result;
}

}  // namespace tw_test
