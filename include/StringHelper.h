// Small text utilities: in-place whitespace trimming and the character sets
// and hex digits used by the percent-encoder.
#pragma once

#include <string>

namespace StringHelper {

// Removes leading characters for which isWhitespace returns non-zero.
// Characters are passed as their unsigned value so that bytes 0x80-0xFF
// never reach isspace() as negative numbers.
template <typename CharT>
void trimLeft(std::basic_string<CharT>& s, int (*isWhitespace)(int)) {
    std::size_t first = 0;
    while (first < s.size() && isWhitespace(static_cast<std::make_unsigned_t<CharT>>(s[first])) != 0) {
        ++first;
    }
    s.erase(0, first);
}

template <typename CharT>
void trimRight(std::basic_string<CharT>& s, int (*isWhitespace)(int)) {
    std::size_t end = s.size();
    while (end > 0 && isWhitespace(static_cast<std::make_unsigned_t<CharT>>(s[end - 1])) != 0) {
        --end;
    }
    s.erase(end);
}

void trimLeft(std::string& s);
void trimRight(std::string& s);
void trimBoth(std::string& s);
void trimLeft(std::wstring& s);
void trimRight(std::wstring& s);
void trimBoth(std::wstring& s);

// Bytes that stay unescaped in the four built-in percent-encoding styles,
// in ascending order. VERYLAX holds '<' twice; its count is 93.
extern const char ALLOWED_CHARACTERS_JS[];
extern const char ALLOWED_CHARACTERS_INTER[];
extern const char ALLOWED_CHARACTERS_LAX[];
extern const char ALLOWED_CHARACTERS_VERYLAX[];
constexpr int ALLOWED_COUNT_JS = 71;
constexpr int ALLOWED_COUNT_INTER = 76;
constexpr int ALLOWED_COUNT_LAX = 88;
constexpr int ALLOWED_COUNT_VERYLAX = 93;

extern const char HEX_CHARACTERS[];

// The two upper-case hex digits of the byte, high nibble first.
std::string charToHex(char c);

}  // namespace StringHelper
