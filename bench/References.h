// The yardsticks the library is measured against: a bare libcurl client
// doing what a request does, and the best straightforward encoders.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct BareResponse {
    long code = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

// One GET on a new easy handle with the options the library sets, a header
// callback that splits and trims each line, and a write callback that
// appends to a string (reserving an announced Content-Length once).
BareResponse bareGet(const std::string& url);

// Each writes the whole text once into one fresh zero-terminated buffer.
std::unique_ptr<char[]> rawCopy(const std::string& body);
std::unique_ptr<char[]> opensslBase64(const std::string& body);
std::unique_ptr<char[]> tableDecimal(const std::string& body, char separator);
std::unique_ptr<char[]> tableHex(const std::string& body, char separator);

// The bytes TwUrlEncodeJS leaves as they are.
extern const char* const JS_KEPT;

// `text` with every byte outside JS_KEPT as '%' and two hex digits,
// one byte at a time; checks the library's result.
std::string percentEncodeJS(const std::string& text);

// libcurl's escaping of `text`, 1 MiB at a time (it refuses results over
// 8 MB); returns the number of output bytes.
std::size_t curlEscapeInChunks(const std::string& text);

// OpenSSL's base64 decoding into one fresh buffer; returns its length
// (padding bytes included, as OpenSSL counts them).
std::size_t opensslDecode(const std::string& text, std::unique_ptr<unsigned char[]>& out);

}  // namespace bench
