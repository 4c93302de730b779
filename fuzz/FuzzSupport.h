// Shared checks for the fuzz targets: a failed property aborts, which
// libFuzzer records as a crash together with the input that caused it.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace fuzz {

inline void check(bool condition, const char* property) {
    if (condition) return;
    std::fprintf(stderr, "property violated: %s\n", property);
    std::abort();
}

inline bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

inline int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lower-case digits are never produced, so they do not count
}

// Undoes percent-encoding; nullopt when a '%' is not followed by two
// upper-case hex digits.
inline std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) return std::nullopt;
        out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
        i += 2;
    }
    return out;
}

// Every byte of `encoded` is either in the allowed set or part of a %XX
// escape of a byte that is not in it (nothing is escaped needlessly).
inline bool onlyAllowedOrEscaped(std::string_view encoded, const bool (&allowed)[256]) {
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const auto byte = static_cast<unsigned char>(encoded[i]);
        if (byte == '%') {  // never in the sets under test
            if (i + 2 >= encoded.size()) return false;
            const int high = hexValue(encoded[i + 1]), low = hexValue(encoded[i + 2]);
            if (high < 0 || low < 0 || allowed[high * 16 + low]) return false;
            i += 2;
        } else if (!allowed[byte]) {
            return false;
        }
    }
    return true;
}

// Number of containers nested inside one another in a JSON text ("[1]" is
// 1, "[[]]" is 2); nullopt when the text is not one JSON value.
inline std::optional<int> nestingLevels(const std::string& text) {
    using Event = nlohmann::json::parse_event_t;
    int levels = 0;
    const nlohmann::json::parser_callback_t record = [&levels](int depth, Event event, nlohmann::json&) {
        if (event == Event::object_start || event == Event::array_start) levels = std::max(levels, depth + 1);
        return false;  // keep nothing: only the depth is wanted
    };
    try {
        (void)nlohmann::json::parse(text, record, true, false);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return levels;
}

// Header JSON and query JSON may nest this deep and no deeper.
constexpr int MAX_NESTING_LEVELS = 1000;

}  // namespace fuzz
