// The hand-over of strings to the host: copies that end at the first zero byte.
#include "HostStrings.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace HostStrings {

// The host's strings end at the first zero byte, so that is where the copy
// ends; the array is sized for the whole text. Each block is searched and
// then copied while it is still in the cache, so a large body is read
// from memory once.
std::unique_ptr<char[]> copyForHost(const std::string& text) {
    constexpr std::size_t BLOCK = std::size_t{1} << 20;
    auto copy = std::unique_ptr<char[]>(new char[text.size() + 1]);
    std::size_t length = 0;
    while (length < text.size()) {
        const std::size_t block = std::min(BLOCK, text.size() - length);
        const void* zero = std::memchr(text.data() + length, '\0', block);
        const std::size_t kept =
            zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - (text.data() + length)) : block;
        std::memcpy(copy.get() + length, text.data() + length, kept);
        length += kept;
        if (kept < block) break;
    }
    copy[length] = '\0';
    return copy;
}

std::unique_ptr<char[]> newHostString(std::size_t length, std::size_t slack) {
    auto text = std::unique_ptr<char[]>(new char[length + 1 + slack]);
    text[length] = '\0';
    return text;
}

char* newHostStringOrNull(const char* text) noexcept {
    const std::size_t length = std::strlen(text);
    char* copy = new (std::nothrow) char[length + 1];
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

}  // namespace HostStrings
