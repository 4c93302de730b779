#include "base64.h"

#include <array>
#include <stdexcept>

namespace {

const char* const base64_chars[2] = {
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_",
};

constexpr const char* INVALID_INPUT = "Input is not valid base64-encoded data.";
constexpr unsigned char NO_VALUE = 0xFF;

// Both alphabets decode: '+'/'-' are 62 and '/'/'_' are 63.
constexpr std::array<unsigned char, 256> makeDecodeTable() {
    std::array<unsigned char, 256> table{};
    for (auto& entry : table) entry = NO_VALUE;
    for (int i = 0; i < 26; ++i) {
        table['A' + i] = static_cast<unsigned char>(i);
        table['a' + i] = static_cast<unsigned char>(26 + i);
    }
    for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<unsigned char>(52 + i);
    table['+'] = table['-'] = 62;
    table['/'] = table['_'] = 63;
    return table;
}

constexpr std::array<unsigned char, 256> DECODE_TABLE = makeDecodeTable();

unsigned int pos_of_char(unsigned char c) {
    const unsigned char value = DECODE_TABLE[c];
    if (value == NO_VALUE) throw std::runtime_error(INVALID_INPUT);
    return value;
}

bool is_pad(char c) { return c == '=' || c == '.'; }

// Builds the broken text in one pass: copying line by line is linear,
// inserting line feeds into the middle of the same string is not.
std::string insert_linebreaks(const std::string& text, unsigned int line_length) {
    if (text.size() <= line_length) return text;
    const std::size_t lines = (text.size() + line_length - 1) / line_length;
    std::string broken;
    broken.reserve(text.size() + lines - 1);
    for (std::size_t pos = 0; pos < text.size(); pos += line_length) {
        if (pos != 0) broken.push_back('\n');
        broken.append(text, pos, line_length);
    }
    return broken;
}

std::string encode_all(const unsigned char* bytes, std::size_t length, bool url_safe) {
    std::string encoded(base64_encoded_length(length), '\0');
    base64_encode_into(bytes, length, encoded.data(), url_safe);
    return encoded;
}

std::string encode_view(std::string_view text, bool url_safe) {
    return encode_all(reinterpret_cast<const unsigned char*>(text.data()), text.size(), url_safe);
}

std::string decode_groups(std::string_view in) {
    const std::size_t n = in.size();
    std::string out;
    out.reserve(n / 4 * 3 + 2);
    for (std::size_t i = 0; i < n; i += 4) {
        if (i + 1 >= n) throw std::runtime_error(INVALID_INPUT);
        const unsigned int s0 = pos_of_char(static_cast<unsigned char>(in[i]));
        const unsigned int s1 = pos_of_char(static_cast<unsigned char>(in[i + 1]));
        out.push_back(static_cast<char>((s0 << 2) | ((s1 >> 4) & 0x03)));
        if (i + 2 >= n || is_pad(in[i + 2])) continue;
        const unsigned int s2 = pos_of_char(static_cast<unsigned char>(in[i + 2]));
        out.push_back(static_cast<char>(((s1 & 0x0F) << 4) | ((s2 >> 2) & 0x0F)));
        if (i + 3 >= n || is_pad(in[i + 3])) continue;
        const unsigned int s3 = pos_of_char(static_cast<unsigned char>(in[i + 3]));
        out.push_back(static_cast<char>(((s2 & 0x03) << 6) | s3));
    }
    return out;
}

std::string decode_view(std::string_view encoded, bool strip_newlines) {
    if (encoded.empty()) return {};
    if (!strip_newlines) return decode_groups(encoded);
    std::string stripped;
    stripped.reserve(encoded.size());
    for (char c : encoded) {
        if (c != '\n') stripped.push_back(c);
    }
    return decode_groups(stripped);
}

}  // namespace

void base64_encode_into(const unsigned char* bytes, std::size_t length, char* out, bool url_safe) {
    const char* alphabet = base64_chars[url_safe ? 1 : 0];
    const char pad = url_safe ? '.' : '=';
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned int b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
        *out++ = alphabet[b0 >> 2];
        *out++ = alphabet[((b0 << 4) & 0x30) | (b1 >> 4)];
        *out++ = alphabet[((b1 << 2) & 0x3C) | (b2 >> 6)];
        *out++ = alphabet[b2 & 0x3F];
    }
    if (i == length) return;
    const unsigned int b0 = bytes[i];
    *out++ = alphabet[b0 >> 2];
    if (i + 1 < length) {
        const unsigned int b1 = bytes[i + 1];
        *out++ = alphabet[((b0 << 4) & 0x30) | (b1 >> 4)];
        *out++ = alphabet[(b1 << 2) & 0x3C];
    } else {
        *out++ = alphabet[(b0 << 4) & 0x30];
        *out++ = pad;
    }
    *out = pad;
}

std::string base64_encode(const unsigned char* bytes, unsigned int length, bool url_safe) {
    return encode_all(bytes, length, url_safe);
}

std::string base64_encode(const std::string& text, bool url_safe) {
    return encode_view(text, url_safe);
}

std::string base64_encode(std::string_view text, bool url_safe) {
    return encode_view(text, url_safe);
}

std::string base64_encode_pem(const std::string& text) {
    return insert_linebreaks(encode_view(text, false), 64);
}

std::string base64_encode_pem(std::string_view text) {
    return insert_linebreaks(encode_view(text, false), 64);
}

std::string base64_encode_mime(const std::string& text) {
    return insert_linebreaks(encode_view(text, false), 76);
}

std::string base64_encode_mime(std::string_view text) {
    return insert_linebreaks(encode_view(text, false), 76);
}

std::string base64_decode(const std::string& encoded, bool strip_newlines) {
    return decode_view(encoded, strip_newlines);
}

std::string base64_decode(std::string_view encoded, bool strip_newlines) {
    return decode_view(encoded, strip_newlines);
}
