// The library as a host sees it: loaded by path, exports found by plain name, every handed-out string given back to
// freemem.
#pragma once

#include "Exports.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tw_test {

class Host {
public:
    // The shared library built alongside the tests (loaded once, kept).
    static Host& instance();

    // Every export, typed: Host::instance().api().TwUrlEncodeJS("a b").
    const tw::Exports& api() const { return library_->exports; }

    // An export's address, for calls bound at run time (tw::exportTable()).
    void* symbol(const char* name) const { return library_->symbol(name); }

    template <typename Fn>
    Fn* fn(const char* name) const {
        return reinterpret_cast<Fn*>(symbol(name));
    }

    // Copies a handed-out string (NULL gives "<null>") and frees it.
    std::string take(char* text) const;

private:
    Host();
    std::unique_ptr<tw::Library> library_;
};

// What a request export returned, copied out of the two handed-out
// strings (both already given back to freemem).
struct CallResult {
    int code = -1;
    std::string headers;
    std::string body;
};

// Copies both handed-out strings into a CallResult and frees them.
CallResult takeResult(int code, char* headers, char* body);

// The response header JSON as (name, value) pairs in text order, duplicates
// kept. Throws std::invalid_argument unless the text is one JSON object
// whose values are all strings.
std::vector<std::pair<std::string, std::string>> parseHeaderJson(const std::string& text);

// Arguments by parameter name for calls through tw::exportTable(); each
// export takes the ones it has. Missing texts are "", missing numbers 0.
struct NamedArgs {
    std::map<std::string, const char*> texts;
    std::map<std::string, int> numbers;
    bool headersGiven = true;  // false passes NULL as responseHeaders
    bool bodyGiven = true;     // false passes NULL as responseBody
};

// The sixteen request exports, in the host header's order.
std::vector<const tw::Export*> requestExports();

// Calls a request export; an out-parameter passed as NULL reads "<null>".
CallResult call(const tw::Export& requestExport, const NamedArgs& args);

// Calls a Tw-family export (method, url, headersJson, requestBody).
CallResult callTw(const char* exportName, const std::string& method, const std::string& url,
                  const std::string& headersJson = "", const std::string& body = "");

// Calls the core with every argument.
CallResult callCore(const std::string& url, const std::string& username, const std::string& password,
                    const std::string& method, const std::string& headersJson, const std::string& body,
                    int bodyIsBase64, int responseEncoding, int skipCertificateVerification);

}  // namespace tw_test
