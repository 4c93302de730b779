// Header JSON: the parser either fails with the documented prefix or gives
// one record per item of the document; the records survive the trip back
// to JSON text; and the request export refuses any record that would break
// the request's header block, before anything reaches the network.
#include "FuzzSupport.h"
#include "HeaderJson.h"
#include "Messages.h"
#include "RequestHead.h"
#include "TarnwellDll.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

using Tarnwell::Header;

namespace {

constexpr const char* PARSE_ERROR = "Error parsing the header JSON: ";
constexpr const char* UNSAFE_HEADER = "Line breaks and zero bytes are not allowed in the method or request headers.";
// No network: libcurl refuses the scheme once the headers have passed.
constexpr const char* NOWHERE = "unsupported://fuzz/";

std::size_t itemCount(const nlohmann::json& document) {
    if (document.is_null()) return 0;
    return document.is_object() || document.is_array() ? document.size() : 1;
}

std::string expectedValue(const nlohmann::json& value) {
    if (value.is_null()) return "";
    return value.is_string() ? value.get<std::string>() : value.dump();
}

void checkAgainstDocument(const std::string& text, const std::vector<Header>& headers) {
    const nlohmann::json document = nlohmann::json::parse(text);  // accepted by us, so valid
    fuzz::check(headers.size() == itemCount(document), "one record per item");
    std::size_t i = 0;
    for (const auto& item : document.items()) {
        fuzz::check(headers[i].name == item.key(), "record name is the item key");
        fuzz::check(headers[i].value == expectedValue(item.value()), "record value is the item text");
        fuzz::check(!headers[i].suppress, "records from JSON never suppress");
        ++i;
    }
}

// Names are unique here (object members, array indexes or one scalar), so
// the text must parse back to exactly the records.
void checkJsonRoundTrip(const std::vector<Header>& headers) {
    const nlohmann::json parsed = nlohmann::json::parse(headersToJsonString(headers));
    fuzz::check(parsed.is_object() && parsed.size() == headers.size(), "header text is an object of all records");
    for (const auto& header : headers) {
        fuzz::check(parsed.at(header.name) == header.value, "header text keeps names and values");
    }
}

bool breaksHeaderBlock(const std::vector<Header>& headers) {
    const std::string_view unsafe("\r\n\0", 3);
    for (const auto& header : headers) {
        if (header.name.find_first_of(unsafe) != std::string::npos) return true;
        if (header.value.find_first_of(unsafe) != std::string::npos) return true;
    }
    return false;
}

void checkExportValidation(const std::string& text, const std::vector<Header>& headers) {
    char* responseHeaders = nullptr;
    char* responseBody = nullptr;
    const int code = sendAuthEncodedRequestEncodeResponse(NOWHERE, "", "", "GET", text.c_str(), "", 0, 0, 0,
                                                          &responseHeaders, &responseBody);
    fuzz::check(code == 0 && std::string(responseHeaders).empty(), "a refused request fails cleanly");
    const bool tokenNames = std::all_of(headers.begin(), headers.end(),
                                        [](const Header& header) { return RequestHead::isHttpToken(header.name); });
    if (breaksHeaderBlock(headers)) {
        fuzz::check(std::string(responseBody) == UNSAFE_HEADER, "unsafe headers are refused");
    } else if (!tokenNames) {
        fuzz::check(std::string(responseBody) == Messages::BAD_HEADER_NAME, "header names that are no tokens are refused");
    } else {
        fuzz::check(fuzz::startsWith(responseBody, "curl_easy_perform() failed: "), "safe headers reach libcurl");
    }
    freemem(responseHeaders);
    freemem(responseBody);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Header> headers;
    const std::optional<int> levels = fuzz::nestingLevels(text);
    const bool acceptable = text.empty() || (levels && *levels <= fuzz::MAX_NESTING_LEVELS);
    try {
        headers = jsonToHeaders(text);
    } catch (const std::runtime_error& error) {
        fuzz::check(fuzz::startsWith(error.what(), PARSE_ERROR), "parse failures carry the documented prefix");
        fuzz::check(!acceptable, "valid JSON within the nesting limit is accepted");
        return 0;
    }
    fuzz::check(acceptable, "invalid or too deeply nested JSON is refused");
    if (text.empty()) {
        fuzz::check(headers.empty(), "empty text gives no headers");
        return 0;
    }
    checkAgainstDocument(text, headers);
    checkJsonRoundTrip(headers);
    // The export sees the text only up to its first zero byte.
    if (text.find('\0') == std::string::npos) checkExportValidation(text, headers);
    return 0;
}
