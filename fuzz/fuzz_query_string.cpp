// Query-string builder: the first input byte picks a built-in style, the
// rest is the JSON text. Invalid JSON gives ""; valid JSON gives one
// key=value pair per item that decodes back to the item's key and text.
#include "FuzzSupport.h"
#include "StringHelper.h"
#include "TarnwellDll.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <vector>

namespace {

const char* builtInSet(int style) {
    switch (style) {
        case 0: return StringHelper::ALLOWED_CHARACTERS_JS;
        case 2: return StringHelper::ALLOWED_CHARACTERS_LAX;
        case 3: return StringHelper::ALLOWED_CHARACTERS_VERYLAX;
        default: return StringHelper::ALLOWED_CHARACTERS_INTER;
    }
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
        parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

// No built-in set holds '&' or '%', so '&' only separates pairs and every
// '%' starts an escape. Only VeryLax holds '=', so there the pair is
// checked as a whole.
void checkPairs(const std::string& query, const nlohmann::json& document, int style) {
    const std::vector<std::string> pairs = split(query, '&');
    fuzz::check(pairs.size() == (document.is_structured() ? document.size() : 1), "one pair per item");
    std::size_t i = 0;
    for (const auto& item : document.items()) {
        const std::string value = item.value().is_string() ? item.value().get<std::string>() : item.value().dump();
        const std::string key = document.is_structured() ? item.key() : "";
        if (style == 3) {
            fuzz::check(fuzz::percentDecode(pairs[i]) == key + "=" + value, "pair decodes to key=value");
        } else {
            const std::size_t equals = pairs[i].find('=');
            fuzz::check(equals != std::string::npos, "pair has '='");
            fuzz::check(fuzz::percentDecode(pairs[i].substr(0, equals)) == key, "key decodes back");
            fuzz::check(fuzz::percentDecode(pairs[i].substr(equals + 1)) == value, "value decodes back");
        }
        ++i;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int style = data[0] % 4;
    const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string text = raw.substr(0, raw.find('\0'));  // what a host can pass
    char* result = toQueryString(text.c_str(), style);
    fuzz::check(result != nullptr, "a result is always returned");
    const std::string query(result);
    freemem(result);

    bool allowed[256] = {};
    for (const char* c = builtInSet(style); *c != '\0'; ++c) allowed[static_cast<unsigned char>(*c)] = true;
    std::string withoutSeparators;  // the builder's own '&' and '=' are never escaped
    for (const char c : query) {
        if (c != '&' && c != '=') withoutSeparators.push_back(c);
    }
    fuzz::check(fuzz::onlyAllowedOrEscaped(withoutSeparators, allowed), "only allowed bytes, '&', '=' and %XX");

    const std::optional<int> levels = text.empty() ? std::nullopt : fuzz::nestingLevels(text);
    if (!levels || *levels > fuzz::MAX_NESTING_LEVELS) {
        fuzz::check(query.empty(), "invalid or too deeply nested JSON gives an empty query");
        return 0;
    }
    const nlohmann::json document = nlohmann::json::parse(text);
    if (document.is_null() || (document.is_structured() && document.empty())) {
        fuzz::check(query.empty(), "null, {} and [] give an empty query");
        return 0;
    }
    checkPairs(query, document, style);
    return 0;
}
