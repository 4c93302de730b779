// In-place whitespace trimming and the percent-encoder's character sets and hex digits.
#include "StringHelper.h"

#include <cctype>
#include <cwctype>

namespace StringHelper {

namespace {
// iswspace takes wint_t; the templates take a plain int classifier.
int isWideSpace(int c) {
    return std::iswspace(static_cast<wint_t>(c));
}
int isNarrowSpace(int c) {
    return std::isspace(c);
}
}  // namespace

void trimLeft(std::string& s) {
    trimLeft(s, isNarrowSpace);
}
void trimRight(std::string& s) {
    trimRight(s, isNarrowSpace);
}
void trimBoth(std::string& s) {
    trimLeft(s, isNarrowSpace);
    trimRight(s, isNarrowSpace);
}

void trimLeft(std::wstring& s) {
    trimLeft(s, isWideSpace);
}
void trimRight(std::wstring& s) {
    trimRight(s, isWideSpace);
}
void trimBoth(std::wstring& s) {
    trimLeft(s, isWideSpace);
    trimRight(s, isWideSpace);
}

const char ALLOWED_CHARACTERS_JS[] = "!'()*-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";
const char ALLOWED_CHARACTERS_INTER[] = "!\"$'()*,-./0123456789;ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";
const char ALLOWED_CHARACTERS_LAX[] =
    "!\"$'()*,-./0123456789:;<>@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
const char ALLOWED_CHARACTERS_VERYLAX[] =
    "!\"#$'()*+,-./0123456789:;<<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

static_assert(sizeof(ALLOWED_CHARACTERS_JS) - 1 == ALLOWED_COUNT_JS);
static_assert(sizeof(ALLOWED_CHARACTERS_INTER) - 1 == ALLOWED_COUNT_INTER);
static_assert(sizeof(ALLOWED_CHARACTERS_LAX) - 1 == ALLOWED_COUNT_LAX);
static_assert(sizeof(ALLOWED_CHARACTERS_VERYLAX) - 1 == ALLOWED_COUNT_VERYLAX);

const char HEX_CHARACTERS[] = "0123456789ABCDEF";

std::string charToHex(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return {HEX_CHARACTERS[byte >> 4], HEX_CHARACTERS[byte & 0x0F]};
}

}  // namespace StringHelper
