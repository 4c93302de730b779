// The query-string builder: a JSON value as percent-encoded key=value pairs.
#include "QueryString.h"

#include "JsonInput.h"

#include <new>

namespace QueryString {

std::string buildQueryString(const char* jsonText, const PercentEncoding::EncodingTable& table,
                             const EncoderKernels& kernels) {
    std::string query;
    if (jsonText == nullptr || *jsonText == '\0') return query;
    nlohmann::json document;
    try {
        document = JsonInput::parseJson(jsonText);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return query;  // unusable JSON gives an empty query
    }
    for (const auto& item : document.items()) {
        if (!query.empty()) query.push_back('&');
        PercentEncoding::appendEncoded(query, item.key(), table, kernels);
        query.push_back('=');
        PercentEncoding::appendEncoded(query, JsonInput::jsonValueText(item.value()), table, kernels);
    }
    return query;
}

}  // namespace QueryString
