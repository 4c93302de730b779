// TwHttpRequest's request JSON up to the point where libcurl takes over: no
// pooled request that passes the checks carries a header line libcurl would
// take for the body's framing, and every string option reaches the
// transport whole, without a byte lost or cut at a zero byte.
#include "FuzzSupport.h"
#include "RequestHead.h"
#include "RequestOptions.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// libcurl leaves out its own Content-Length or Transfer-Encoding when one
// of the caller's lines starts with that name followed by ':' or ';'.
bool takenForFraming(const std::string& line) {
    for (const char* name : {"Content-Length", "Transfer-Encoding"}) {
        const std::size_t length = std::strlen(name);
        if (line.size() > length && strncasecmp(line.c_str(), name, length) == 0 &&
            (line[length] == ':' || line[length] == ';')) {
            return true;
        }
    }
    return false;
}

// Options a C string reaches libcurl as: they must hold no zero byte.
void checkWhole(const json& document, const char* name, const std::string& value) {
    if (!document.contains(name) || !document[name].is_string()) return;
    fuzz::check(document[name].get<std::string>() == value, "an option reaches the transport as given");
    fuzz::check(std::strlen(value.c_str()) == value.size(), "no option that libcurl reads as a C string holds 0");
}

// The request JSON: either the input itself, or built from its pieces
// (separated by byte 1) so that the fuzzer reaches headers and options
// without first having to find JSON syntax.
std::string requestJson(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (size == 0 || data[0] % 4 == 0) return input.substr(size == 0 ? 0 : 1);
    std::vector<std::string> pieces;
    std::size_t start = 1;
    while (start <= input.size()) {
        const std::size_t end = std::min(input.find('\1', start), input.size());
        pieces.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    pieces.resize(8);
    json document = {{"url", "http://127.0.0.1:1/" + pieces[0]}, {"reuseConnections", (data[0] & 2) != 0}};
    document["headers"] = {{pieces[1], pieces[2]}, {pieces[3], nullptr}};
    const char* const names[] = {"method", "username", "password", "proxy"};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!pieces[4 + i].empty() || (data[0] & 4) != 0) document[names[i]] = pieces[4 + i];
    }
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = requestJson(data, size);
    Tarnwell::Request request;
    json document;
    try {
        request = Tarnwell::parseRequestOptions(text.c_str());
        document = json::parse(text);
    } catch (const std::exception&) {
        return 0;  // refused with a message: nothing is sent
    }
    const Tarnwell::SessionSettings& session = request.session;
    checkWhole(document, "url", request.url);
    checkWhole(document, "username", session.username);
    checkWhole(document, "password", session.password);
    if (document.contains("proxy")) checkWhole(document, "proxy", session.proxy.value_or(""));
    checkWhole(document, "bodyFile", request.bodyFile.value_or(""));
    checkWhole(document, "outputFile", request.outputFile.value_or(""));
    if (document.contains("method")) {
        fuzz::check(document["method"].get<std::string>() == request.method, "the method reaches the pipeline whole");
    }
    try {
        RequestHead::rejectUnsafe(request.method, request.headers, session.username);
    } catch (const std::exception&) {
        return 0;
    }
    if (session.connections != Tarnwell::ConnectionSource::Pool) return 0;
    for (const auto& header : request.headers) {
        fuzz::check(!takenForFraming(Tarnwell::headerLine(header)), "no pooled request carries a framing header");
    }
    return 0;
}
