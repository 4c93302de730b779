// Response-header capture: arbitrary lines go through libcurl's header
// callback, and the header text built from what it captured must always
// be JSON that a host can parse, whatever bytes the server sent.
#include "FuzzSupport.h"
#include "HeaderJson.h"
#include "TarnwellDll.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdint>
#include <map>

using Tarnwell::Header;

namespace {

bool isTrimmed(const std::string& text) {
    if (text.empty()) return true;
    return std::isspace(static_cast<unsigned char>(text.front())) == 0 &&
           std::isspace(static_cast<unsigned char>(text.back())) == 0;
}

bool isValidUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();  // strict: throws on invalid UTF-8
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// Lines end after each '\n', as libcurl hands them over; the last line may
// lack one.
std::vector<Header> captureLines(const std::string& input) {
    std::vector<Header> headers;
    std::size_t start = 0;
    while (start < input.size()) {
        const std::size_t newline = input.find('\n', start);
        const std::size_t end = newline == std::string::npos ? input.size() : newline + 1;
        std::string line = input.substr(start, end - start);
        const std::size_t before = headers.size();
        const std::size_t taken = libcurlCallbackHeadersToHeaderVector(line.data(), 1, line.size(), &headers);
        fuzz::check(taken == line.size(), "the callback takes every line");
        fuzz::check(headers.size() - before <= 1, "at most one record per line");
        start = end;
    }
    return headers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<Header> headers = captureLines(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& header : headers) {
        fuzz::check(isTrimmed(header.name) && isTrimmed(header.value), "names and values are trimmed");
        fuzz::check(!header.suppress, "captured records never suppress");
    }
    const std::string text = headersToJsonString(headers);
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception&) {
        fuzz::check(false, "header text parses as JSON");
    }
    fuzz::check(parsed.is_object(), "header text is an object");
    // A repeated name keeps its last value when parsed. Names that are not
    // valid UTF-8 are written escaped and could meet a valid one, so the
    // exact comparison needs all names valid.
    std::map<std::string, std::string> lastValues;
    bool namesValid = true;
    for (const auto& header : headers) {
        lastValues[header.name] = header.value;
        namesValid = namesValid && isValidUtf8(header.name);
    }
    for (const auto& [name, value] : lastValues) {
        if (namesValid && isValidUtf8(value)) fuzz::check(parsed.at(name) == value, "valid UTF-8 arrives unchanged");
    }
    return 0;
}
