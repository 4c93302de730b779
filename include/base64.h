// Base64 codec: standard or URL-safe alphabet, optional PEM/MIME line
// breaking, and a lenient decoder that accepts both alphabets and both
// padding characters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Standard alphabet pads with '=', the URL-safe one with '.'.
std::string base64_encode(const unsigned char* bytes, unsigned int length, bool url_safe = false);
std::string base64_encode(const std::string& text, bool url_safe = false);
std::string base64_encode(std::string_view text, bool url_safe = false);

// Standard alphabet, broken into lines of 64 (PEM) or 76 (MIME) characters
// separated by a single line feed.
std::string base64_encode_pem(const std::string& text);
std::string base64_encode_pem(std::string_view text);
std::string base64_encode_mime(const std::string& text);
std::string base64_encode_mime(std::string_view text);

// Throws std::runtime_error("Input is not valid base64-encoded data.") on
// any byte outside both alphabets where a value is needed. With
// strip_newlines, line feeds (and only line feeds) are removed first.
std::string base64_decode(const std::string& encoded, bool strip_newlines = false);
std::string base64_decode(std::string_view encoded, bool strip_newlines = false);

// Length of the padded encoding of `length` bytes.
constexpr std::size_t base64_encoded_length(std::size_t length) {
    return (length + 2) / 3 * 4;
}

// Writes exactly base64_encoded_length(length) characters to `out` (no
// terminator), so callers can encode straight into a buffer they own.
void base64_encode_into(const unsigned char* bytes, std::size_t length, char* out, bool url_safe);
