// The hand-over of strings to the host: zero-terminated new[] arrays that
// the host gives back to freemem.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace HostStrings {

// The text up to its first zero byte, in an array sized for the whole text.
std::unique_ptr<char[]> copyForHost(const std::string& text);

// An array for `length` characters with its terminator already set.
// `slack` extra bytes let a writer store a few bytes past the end before
// the terminator is set.
std::unique_ptr<char[]> newHostString(std::size_t length, std::size_t slack = 0);

// A copy of `text`, or NULL when even that cannot be allocated.
char* newHostStringOrNull(const char* text) noexcept;

}  // namespace HostStrings
