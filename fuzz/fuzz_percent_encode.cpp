// Percent-encoding: the output holds only bytes of the allowed set and %XX
// escapes of bytes outside it, and decodes back to the input, on the
// vector path and on its scalar twin. The first
// input byte picks a built-in style, an out-of-range style, or a set of
// the caller's own taken from the input.
#include "FuzzSupport.h"
#include "StringHelper.h"
#include "PercentEncoding.h"
#include "TarnwellDll.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

struct Case {
    bool builtIn = true;  // encode through the style selector
    int style = 0;
    std::string set;  // the allowed bytes, zero bytes included
    std::string text;
};

std::string builtInSet(int style) {
    switch (style) {
        case 0: return StringHelper::ALLOWED_CHARACTERS_JS;
        case 2: return StringHelper::ALLOWED_CHARACTERS_LAX;
        case 3: return StringHelper::ALLOWED_CHARACTERS_VERYLAX;
        default: return StringHelper::ALLOWED_CHARACTERS_INTER;  // every other value acts as Inter
    }
}

Case readCase(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    Case c;
    std::size_t textStart = 1;
    const unsigned selector = size > 0 ? data[0] % 6 : 0;
    if (selector == 4 && size >= 5) {
        std::int32_t style;  // any int, far out of range included
        std::memcpy(&style, data + 1, sizeof style);
        c.style = style;
        textStart = 5;
    } else if (selector == 5 && size >= 2) {
        const std::size_t setLength = std::min<std::size_t>(data[1], size - 2);
        c.builtIn = false;
        c.set = input.substr(2, setLength);
        // With '%' in the set a literal '%' could not be told from an escape.
        c.set.erase(std::remove(c.set.begin(), c.set.end(), '%'), c.set.end());
        textStart = 2 + setLength;
    } else {
        c.style = static_cast<int>(selector);
    }
    if (c.builtIn) c.set = builtInSet(c.style);
    c.text = input.substr(std::min(textStart, input.size()));
    return c;
}

void checkEncoding(const std::string& text, const std::string& encoded, const std::string& set) {
    bool allowed[256] = {};
    for (const char c : set) allowed[static_cast<unsigned char>(c)] = true;
    allowed[0] = false;  // byte 0 is escaped whatever the set holds
    fuzz::check(fuzz::onlyAllowedOrEscaped(encoded, allowed), "only allowed bytes and %XX of the others");
    fuzz::check(fuzz::percentDecode(encoded) == text, "the output decodes to the input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Case c = readCase(data, size);
    // The export reads a zero-terminated text; the internal encoder takes
    // every byte, zero bytes included.
    const std::string hostText = c.text.substr(0, c.text.find('\0'));
    char* encoded =
        c.builtIn ? escapeUrlStyle(hostText.c_str(), c.style)
                  : escapeUrlStyleAllowedCharacters(hostText.c_str(), c.set.data(), static_cast<int>(c.set.size()));
    fuzz::check(encoded != nullptr, "a result is always returned");
    checkEncoding(hostText, encoded, c.set);
    freemem(encoded);
    // Both paths over every byte: the vector loops and their scalar twin.
    for (const KernelChoice choice : {KernelChoice::Fastest, KernelChoice::Scalar}) {
        checkEncoding(
            c.text, percentEncode(c.text, c.set.data(), static_cast<int>(c.set.size()), encoderKernels(choice)), c.set);
    }
    return 0;
}
