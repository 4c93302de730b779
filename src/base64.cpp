// The base64 codec: encoding with either alphabet and line breaking, and a lenient decoder.
#include "base64.h"

#include "Messages.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

constexpr const char* base64_chars[2] = {
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_",
};

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

// The decode table once per position in a group, each value already
// shifted to its place in the 24 decoded bits; a character outside both
// alphabets (the padding characters included) sets the BAD bit instead.
constexpr std::uint32_t BAD = std::uint32_t{1} << 24;
using ShiftedTable = std::array<std::uint32_t, 256>;
constexpr ShiftedTable makeShiftedTable(int shift) {
    ShiftedTable table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = DECODE_TABLE[c] == NO_VALUE ? BAD : std::uint32_t{DECODE_TABLE[c]} << shift;
    }
    return table;
}
constexpr std::array<ShiftedTable, 4> SHIFTED = {makeShiftedTable(18), makeShiftedTable(12), makeShiftedTable(6),
                                                 makeShiftedTable(0)};

// Two output characters for every 12-bit value, so a 3-byte group takes
// two lookups instead of four.
using PairTable = std::array<std::array<char, 2>, 4096>;
constexpr PairTable makePairTable(int alphabet) {
    PairTable table{};
    for (int v = 0; v < 4096; ++v) table[v] = {base64_chars[alphabet][v >> 6], base64_chars[alphabet][v & 0x3F]};
    return table;
}
constexpr std::array<PairTable, 2> PAIRS = {makePairTable(0), makePairTable(1)};

unsigned int pos_of_char(unsigned char c) {
    const unsigned char value = DECODE_TABLE[c];
    if (value == NO_VALUE) throw std::runtime_error(Messages::INVALID_BASE64);
    return value;
}

bool is_pad(char c) {
    return c == '=' || c == '.';
}

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

// One group of up to four characters at in[i], by the general rules: a
// padding character in the third or fourth place ends the group early.
// Returns the end of the bytes written.
char* decode_group(std::string_view in, std::size_t i, char* out) {
    const std::size_t n = in.size();
    if (i + 1 >= n) throw std::runtime_error(Messages::INVALID_BASE64);
    const unsigned int s0 = pos_of_char(static_cast<unsigned char>(in[i]));
    const unsigned int s1 = pos_of_char(static_cast<unsigned char>(in[i + 1]));
    *out++ = static_cast<char>((s0 << 2) | ((s1 >> 4) & 0x03));
    if (i + 2 >= n || is_pad(in[i + 2])) return out;
    const unsigned int s2 = pos_of_char(static_cast<unsigned char>(in[i + 2]));
    *out++ = static_cast<char>(((s1 & 0x0F) << 4) | ((s2 >> 2) & 0x0F));
    if (i + 3 >= n || is_pad(in[i + 3])) return out;
    const unsigned int s3 = pos_of_char(static_cast<unsigned char>(in[i + 3]));
    *out++ = static_cast<char>(((s2 & 0x03) << 6) | s3);
    return out;
}

// Decodes whole groups of four alphabet characters from in[i] on until
// one is incomplete or holds anything else; advances `i` and `out` past
// what it decoded.
void decode_plain_groups(std::string_view in, std::size_t& i, char*& out) {
    const auto* text = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t end = in.size() & ~std::size_t{3};
    for (; i < end; i += 4, out += 3) {
        const std::uint32_t bits =
            SHIFTED[0][text[i]] | SHIFTED[1][text[i + 1]] | SHIFTED[2][text[i + 2]] | SHIFTED[3][text[i + 3]];
        if ((bits & BAD) != 0) return;
        out[0] = static_cast<char>(bits >> 16);
        out[1] = static_cast<char>(bits >> 8);
        out[2] = static_cast<char>(bits);
    }
}

std::string decode_groups(std::string_view in) {
    const std::size_t n = in.size();
    std::string decoded((n + 3) / 4 * 3, '\0');  // at most three bytes per group
    char* out = decoded.data();
    for (std::size_t i = 0; i < n; i += 4) {
        decode_plain_groups(in, i, out);
        if (i < n) out = decode_group(in, i, out);
    }
    decoded.resize(static_cast<std::size_t>(out - decoded.data()));
    return decoded;
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
    const PairTable& pairs = PAIRS[url_safe ? 1 : 0];
    const char* alphabet = base64_chars[url_safe ? 1 : 0];
    const char pad = url_safe ? '.' : '=';
    std::size_t i = 0;
    // Two groups (48 bits) per step: four 12-bit halves, four lookups.
    for (; i + 6 <= length; i += 6, out += 8) {
        const std::uint64_t bits = (std::uint64_t{bytes[i]} << 40) | (std::uint64_t{bytes[i + 1]} << 32) |
                                   (std::uint64_t{bytes[i + 2]} << 24) | (std::uint64_t{bytes[i + 3]} << 16) |
                                   (std::uint64_t{bytes[i + 4]} << 8) | std::uint64_t{bytes[i + 5]};
        // All four looked up before the first store, which as far as the
        // compiler knows might change the table.
        const std::array<char, 2> first = pairs[bits >> 36], second = pairs[(bits >> 24) & 0xFFF],
                                  third = pairs[(bits >> 12) & 0xFFF], fourth = pairs[bits & 0xFFF];
        std::memcpy(out, first.data(), 2);
        std::memcpy(out + 2, second.data(), 2);
        std::memcpy(out + 4, third.data(), 2);
        std::memcpy(out + 6, fourth.data(), 2);
    }
    if (i + 3 <= length) {
        const std::uint32_t bits = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        std::memcpy(out, pairs[bits >> 12].data(), 2);
        std::memcpy(out + 2, pairs[bits & 0xFFF].data(), 2);
        i += 3;
        out += 4;
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
