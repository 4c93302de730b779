#include "TarnwellDll.h"

#include "StringHelper.h"
#include "base64.h"

#include <nlohmann/json.hpp>

// SSE2 is part of every x86-64 processor; the SSSE3 paths check for it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TW_X86_VECTORS 1
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

using Tarnwell::Header;

namespace {

constexpr const char* UNKNOWN_ERROR = "An unknown error occurred.";
constexpr const char* UNSAFE_HEADER = "Line breaks and zero bytes are not allowed in the method or request headers.";
// Deeper JSON would make serialising a value recurse that deep on the
// host's stack; no real header or query needs anything close to this.
constexpr std::size_t MAX_JSON_DEPTH = 1000;

// ---------------------------------------------------------------- JSON

nlohmann::json parseJson(const std::string& text) {
    using Event = nlohmann::json::parse_event_t;
    // `depth` counts the containers around the event, so an opening
    // bracket at depth MAX_JSON_DEPTH would start one level too many.
    const nlohmann::json::parser_callback_t limitDepth = [](int depth, Event event, nlohmann::json&) {
        const bool opensLevel = event == Event::object_start || event == Event::array_start;
        if (opensLevel && static_cast<std::size_t>(depth) >= MAX_JSON_DEPTH) {
            throw std::runtime_error("nesting deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels");
        }
        return true;
    };
    return nlohmann::json::parse(text, limitDepth, true, false);
}

// Strings give their content; everything else its compact JSON text.
std::string jsonValueText(const nlohmann::json& value) {
    return value.is_string() ? value.get_ref<const std::string&>() : value.dump();
}

// Length of the well-formed UTF-8 sequence that starts at text[i], or 0.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byteAt = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byteAt(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size() || byteAt(i + 1) < low || byteAt(i + 1) > high) return 0;
    for (std::size_t k = i + 2; k < i + length; ++k) {
        if (byteAt(k) < 0x80 || byteAt(k) > 0xBF) return 0;
    }
    return length;
}

void appendEscapedByte(std::string& out, unsigned char byte) {
    out += "\\u00";
    out.push_back(StringHelper::HEX_CHARACTERS[byte >> 4]);
    out.push_back(StringHelper::HEX_CHARACTERS[byte & 0x0F]);
}

// Servers may send any bytes in header lines. Valid UTF-8 is kept as it
// is; any other byte from 0x80 up is written as \u00XX (its Latin-1
// reading), so the text is always JSON that a host can parse.
void appendJsonString(std::string& out, const std::string& text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    appendEscapedByte(out, byte);
                } else if (byte < 0x80) {
                    out.push_back(c);
                } else if (const std::size_t length = utf8SequenceLength(text, i); length > 0) {
                    out.append(text, i, length);
                    i += length - 1;
                } else {
                    appendEscapedByte(out, byte);
                }
        }
    }
    out.push_back('"');
}

// ------------------------------------------------------- host strings

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

// `slack` extra bytes let a writer store a few bytes past the end before
// the terminator is set.
std::unique_ptr<char[]> newHostString(std::size_t length, std::size_t slack = 0) {
    auto text = std::unique_ptr<char[]>(new char[length + 1 + slack]);
    text[length] = '\0';
    return text;
}

// Never throws: if even the message cannot be allocated, the host gets NULL.
char* newHostStringOrNull(const char* text) noexcept {
    const std::size_t length = std::strlen(text);
    char* copy = new (std::nothrow) char[length + 1];
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

// ---------------------------------------------------- body encodings

// What one byte becomes in an encoded text. Writers copy all four bytes
// of an entry and move on by its length (a fixed-size copy is much faster
// than a variable one), so they need a few writable bytes of slack after
// the end of the text. They copy the entry into a local first: the
// compiler cannot tell that the store does not change the table, and
// would read the length again after it.
struct EncodedByte {
    std::array<char, 4> text;
    std::uint32_t length;
};
using ByteTexts = std::array<EncodedByte, 256>;

// Every byte value as a separator followed by its digits.
constexpr ByteTexts makeDecimalTexts(char separator) {
    ByteTexts table{};
    for (int b = 0; b < 256; ++b) {
        const int digits = b >= 100 ? 3 : b >= 10 ? 2 : 1;
        table[b].text[0] = separator;
        int v = b;
        for (int i = digits; i >= 1; --i, v /= 10) table[b].text[i] = static_cast<char>('0' + v % 10);
        table[b].length = static_cast<std::uint32_t>(1 + digits);
    }
    return table;
}

constexpr ByteTexts makeHexTexts(char separator) {
    ByteTexts table{};
    for (int b = 0; b < 256; ++b) {
        table[b] = {{separator, "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 0x0F], 0}, 3};
    }
    return table;
}

constexpr ByteTexts DECIMAL_SPACES = makeDecimalTexts(' ');
constexpr ByteTexts DECIMAL_COMMAS = makeDecimalTexts(',');
constexpr ByteTexts HEX_SPACES = makeHexTexts(' ');
constexpr ByteTexts HEX_COMMAS = makeHexTexts(',');

#ifdef TW_X86_VECTORS
// How many of the first `whole` bytes (a multiple of 16) are at least 10,
// plus how many are at least 100. Lane counters take up to 127 steps of
// at most 2 before they are summed.
std::size_t countLongDecimals(const unsigned char* bytes, std::size_t whole) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < whole;) {
        __m128i counts = _mm_setzero_si128();
        const std::size_t end = std::min(whole, i + 127 * 16);
        for (; i < end; i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            // All ones where max(x, k) == x, that is x >= k; subtracting adds one.
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(10)), x));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(100)), x));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        total += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
    return total;
}
#endif

// One digit and one separator per byte, no separator after the last, plus
// the second and third digits.
std::size_t decimalLength(const unsigned char* bytes, std::size_t n) {
    std::size_t length = 2 * n - 1;
    std::size_t i = 0;
#ifdef TW_X86_VECTORS
    i = n & ~std::size_t{15};
    length += countLongDecimals(bytes, i);
#endif
    for (; i < n; ++i) length += (bytes[i] >= 10 ? 1U : 0U) + (bytes[i] >= 100 ? 1U : 0U);
    return length;
}

// n > 0. The first byte is written without its separator.
std::unique_ptr<char[]> encodeByteList(const unsigned char* bytes, std::size_t n, std::size_t length,
                                       const ByteTexts& table) {
    auto text = newHostString(length, 3);
    char* out = text.get();
    const EncodedByte first = table[bytes[0]];
    std::memcpy(out, first.text.data() + 1, 3);
    out += first.length - 1;
    for (std::size_t i = 1; i < n; ++i) {
        const EncodedByte entry = table[bytes[i]];
        std::memcpy(out, entry.text.data(), 4);
        out += entry.length;
    }
    text[length] = '\0';
    return text;
}

std::unique_ptr<char[]> encodeBase64(const unsigned char* bytes, std::size_t n) {
    auto text = newHostString(base64_encoded_length(n));
    base64_encode_into(bytes, n, text.get(), false);
    return text;
}

// ---------------------------------------------------- request pipeline

struct RequestArgs {
    const char* url;
    const char* username;
    const char* password;
    const char* method;
    const char* headersJson;
    const char* requestBody;
    int bodyIsBase64;
    int responseEncoding;
    int skipCertificateVerification;
};

void requireText(const char* value, const char* name) {
    if (value == nullptr) throw std::invalid_argument(std::string("Argument must not be null: ") + name + ".");
}

void requireTexts(const RequestArgs& args) {
    requireText(args.url, "url");
    requireText(args.username, "username");
    requireText(args.password, "password");
    requireText(args.method, "method");
    requireText(args.headersJson, "headersJson");
    requireText(args.requestBody, "requestBody");
}

bool isUnsafeForHeaderLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void rejectHeaderInjection(const std::string& method, const std::vector<Header>& headers) {
    bool unsafe = isUnsafeForHeaderLine(method);
    for (const auto& header : headers) {
        unsafe = unsafe || isUnsafeForHeaderLine(header.name) || isUnsafeForHeaderLine(header.value);
    }
    if (unsafe) throw std::invalid_argument(UNSAFE_HEADER);
}

struct HostResult {
    std::unique_ptr<char[]> headers;
    std::unique_ptr<char[]> body;
    long code = 0;
};

HostResult performRequest(const RequestArgs& args) {
    requireTexts(args);
    Tarnwell::LibcurlWrapper session;
    if (!session.isInitialized()) {
        throw std::runtime_error("Initialization of LibcurlWrapper has failed for unknown reason.");
    }
    session.setUsername(args.username);
    session.setPassword(args.password);
    const std::string body =
        args.bodyIsBase64 == 1 ? base64_decode(std::string(args.requestBody), false) : std::string(args.requestBody);
    session.setVerifyCertificates((args.skipCertificateVerification & 1) != 0 ? 0 : 1);

    Tarnwell::Response response;
    {
        const std::vector<Header> headers = jsonToHeaders(args.headersJson);
        std::string method(args.method);
        rejectHeaderInjection(method, headers);
        response = session.makeSimpleRequest(args.url, std::move(method), headers, body);
    }
    HostResult result;
    result.headers = copyForHost(headersToJsonString(std::move(response.headers)));
    result.body = encodeResponseBody(response.body, args.responseEncoding);
    result.code = response.responseCode;
    return result;
}

int failWith(const char* message, char** responseHeaders, char** responseBody) noexcept {
    if (responseHeaders != nullptr) *responseHeaders = newHostStringOrNull("");
    if (responseBody != nullptr) *responseBody = newHostStringOrNull(message);
    return 0;
}

int runRequest(const RequestArgs& args, char** responseHeaders, char** responseBody) noexcept {
    if (responseHeaders == nullptr) {
        return failWith("Argument must not be null: responseHeaders.", responseHeaders, responseBody);
    }
    if (responseBody == nullptr) {
        return failWith("Argument must not be null: responseBody.", responseHeaders, responseBody);
    }
    try {
        HostResult result = performRequest(args);
        *responseHeaders = result.headers.release();
        *responseBody = result.body.release();
        return static_cast<int>(result.code);
    } catch (const std::exception& error) {
        return failWith(error.what(), responseHeaders, responseBody);
    } catch (...) {
        return failWith(UNKNOWN_ERROR, responseHeaders, responseBody);
    }
}

// ------------------------------------------------- percent-encoding

// What each byte becomes: itself, or '%' and two hex digits.
struct EncodingTable {
    ByteTexts bytes;
    // The allowed set as a bitmap for the vector path: bit (b >> 4) & 7 of
    // rows[b >> 7][b & 15] is set when byte b stays.
    std::array<std::array<std::uint8_t, 16>, 2> rows;
};

// Writable bytes needed after the end of the text: the vector path stores
// sixteen bytes for a group of four that may need only four.
constexpr std::size_t ENCODE_SLACK = 16;

EncodingTable makeEncodingTable(const char* allowedCharacters, int allowedCount) {
    std::array<bool, 256> allowed{};
    for (int i = 0; allowedCharacters != nullptr && i < allowedCount; ++i) {
        allowed[static_cast<unsigned char>(allowedCharacters[i])] = true;
    }
    static const char* const HEX = StringHelper::HEX_CHARACTERS;
    EncodingTable table{};
    for (int b = 0; b < 256; ++b) {
        table.bytes[b] = allowed[b] ? EncodedByte{{static_cast<char>(b), 0, 0, 0}, 1}
                                    : EncodedByte{{'%', HEX[b >> 4], HEX[b & 0x0F], 0}, 3};
        if (allowed[b]) table.rows[b >> 7][b & 15] |= static_cast<std::uint8_t>(1U << ((b >> 4) & 7));
    }
    return table;
}

std::size_t encodedLengthScalar(std::string_view text, const EncodingTable& table) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const auto& entries = table.bytes;
    // Eight bytes per load, split by shifts: a plain loop over bytes gets
    // vectorised into emulated gathers that run at half the speed.
    std::size_t low = 0, high = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        low += entries[word & 0xFF].length + entries[(word >> 8) & 0xFF].length + entries[(word >> 16) & 0xFF].length +
               entries[(word >> 24) & 0xFF].length;
        high += entries[(word >> 32) & 0xFF].length + entries[(word >> 40) & 0xFF].length +
                entries[(word >> 48) & 0xFF].length + entries[word >> 56].length;
    }
    for (; i < n; ++i) low += entries[bytes[i]].length;
    return low + high;
}

char* encodeIntoScalar(std::string_view text, const EncodingTable& table, char* out) {
    for (const char c : text) {
        const EncodedByte encoded = table.bytes[static_cast<unsigned char>(c)];
        std::memcpy(out, encoded.text.data(), 4);
        out += encoded.length;
    }
    return out;
}

#ifdef TW_X86_VECTORS
// Sixteen bytes at a time with SSSE3 byte shuffles, where the processor
// has them: about three times the speed of the table loop.

bool hasByteShuffles() {
    return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
}

// For the escape flags of four bytes: which bytes of a block laid out as
// [4 bytes | their 4 high hex digits | 4 low hex digits | "%%%%"] make
// up their encoded text, and how long it is.
struct GroupShuffles {
    std::array<std::array<std::uint8_t, 16>, 16> order{};
    std::array<std::uint8_t, 16> length{};
};

constexpr GroupShuffles makeGroupShuffles() {
    GroupShuffles shuffles{};
    for (int flags = 0; flags < 16; ++flags) {
        int k = 0;  // bytes of encoded text
        for (int j = 0; j < 4; ++j) {
            if ((flags >> j & 1) != 0) {
                shuffles.order[flags][k++] = 12;
                shuffles.order[flags][k++] = static_cast<std::uint8_t>(4 + j);
                shuffles.order[flags][k++] = static_cast<std::uint8_t>(8 + j);
            } else {
                shuffles.order[flags][k++] = static_cast<std::uint8_t>(j);
            }
        }
        shuffles.length[flags] = static_cast<std::uint8_t>(k);
        for (; k < 16; ++k) shuffles.order[flags][k] = 0x80;  // a zero byte
    }
    return shuffles;
}
constexpr GroupShuffles GROUP_SHUFFLES = makeGroupShuffles();

__attribute__((target("ssse3"))) __m128i load16(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// 0xFF in each lane whose byte is escaped. The row lookup takes the low
// nibble; a set top bit makes the shuffle give zero, which picks the row
// for bytes below 0x80 or from 0x80 up.
__attribute__((target("ssse3"))) __m128i escapedLanes(__m128i bytes, const EncodingTable& table) {
    const __m128i index = _mm_and_si128(bytes, _mm_set1_epi8(static_cast<char>(0x8F)));
    const __m128i row = _mm_or_si128(
        _mm_shuffle_epi8(load16(table.rows[0].data()), index),
        _mm_shuffle_epi8(load16(table.rows[1].data()), _mm_xor_si128(index, _mm_set1_epi8(static_cast<char>(0x80)))));
    const __m128i highNibble = _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
    const __m128i bit = _mm_shuffle_epi8(
        _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, static_cast<char>(0x80), 1, 2, 4, 8, 16, 32, 64, static_cast<char>(0x80)),
        highNibble);
    return _mm_cmpeq_epi8(_mm_and_si128(row, bit), _mm_setzero_si128());
}

__attribute__((target("ssse3,popcnt"))) std::size_t encodedLengthVector(std::string_view text,
                                                                        const EncodingTable& table) {
    const std::size_t whole = text.size() & ~std::size_t{15};
    std::size_t escaped = 0;
    for (std::size_t i = 0; i < whole; i += 16) {
        escaped += static_cast<std::size_t>(
            __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(escapedLanes(load16(text.data() + i), table)))));
    }
    return whole + 2 * escaped + encodedLengthScalar(text.substr(whole), table);
}

__attribute__((target("ssse3"))) char* encodeIntoVector(std::string_view text, const EncodingTable& table, char* out) {
    const __m128i hexDigits = load16(StringHelper::HEX_CHARACTERS);
    const __m128i percent = _mm_set1_epi8('%');
    const std::size_t whole = text.size() & ~std::size_t{15};
    for (std::size_t i = 0; i < whole; i += 16) {
        const __m128i bytes = load16(text.data() + i);
        const auto flags = static_cast<unsigned>(_mm_movemask_epi8(escapedLanes(bytes, table)));
        const __m128i high = _mm_shuffle_epi8(hexDigits, _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F)));
        const __m128i low = _mm_shuffle_epi8(hexDigits, _mm_and_si128(bytes, _mm_set1_epi8(0x0F)));
        // Transpose so that block g holds bytes 4g..4g+3, their digits and '%'.
        const __m128i a = _mm_unpacklo_epi32(bytes, high), b = _mm_unpacklo_epi32(low, percent);
        const __m128i c = _mm_unpackhi_epi32(bytes, high), d = _mm_unpackhi_epi32(low, percent);
        const __m128i blocks[4] = {_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b), _mm_unpacklo_epi64(c, d),
                                   _mm_unpackhi_epi64(c, d)};
        for (unsigned g = 0; g < 4; ++g) {
            const unsigned group = (flags >> (4 * g)) & 15;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                             _mm_shuffle_epi8(blocks[g], load16(GROUP_SHUFFLES.order[group].data())));
            out += GROUP_SHUFFLES.length[group];
        }
    }
    return encodeIntoScalar(text.substr(whole), table, out);
}
#endif

std::size_t encodedLength(std::string_view text, const EncodingTable& table) {
#ifdef TW_X86_VECTORS
    if (hasByteShuffles()) return encodedLengthVector(text, table);
#endif
    return encodedLengthScalar(text, table);
}

char* encodeInto(std::string_view text, const EncodingTable& table, char* out) {
#ifdef TW_X86_VECTORS
    if (hasByteShuffles()) return encodeIntoVector(text, table, out);
#endif
    return encodeIntoScalar(text, table, out);
}

void appendEncoded(std::string& out, std::string_view text, const EncodingTable& table) {
    const std::size_t start = out.size();
    const std::size_t length = encodedLength(text, table);
    out.resize(start + length + ENCODE_SLACK);
    encodeInto(text, table, out.data() + start);
    out.resize(start + length);
}

struct BuiltInSet {
    const char* characters;
    int count;
};

BuiltInSet builtInSet(int style) {
    switch (static_cast<UrlStyle>(style)) {
        case UrlStyle::JS: return {StringHelper::ALLOWED_CHARACTERS_JS, StringHelper::ALLOWED_COUNT_JS};
        case UrlStyle::Lax: return {StringHelper::ALLOWED_CHARACTERS_LAX, StringHelper::ALLOWED_COUNT_LAX};
        case UrlStyle::VeryLax: return {StringHelper::ALLOWED_CHARACTERS_VERYLAX, StringHelper::ALLOWED_COUNT_VERYLAX};
        default: return {StringHelper::ALLOWED_CHARACTERS_INTER, StringHelper::ALLOWED_COUNT_INTER};
    }
}

std::string buildQueryString(const char* jsonText, const EncodingTable& table) {
    std::string query;
    if (jsonText == nullptr || *jsonText == '\0') return query;
    nlohmann::json document;
    try {
        document = parseJson(jsonText);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return query;  // unusable JSON gives an empty query
    }
    for (const auto& item : document.items()) {
        if (!query.empty()) query.push_back('&');
        appendEncoded(query, item.key(), table);
        query.push_back('=');
        appendEncoded(query, jsonValueText(item.value()), table);
    }
    return query;
}

}  // namespace

// ------------------------------------------------------------ internals

std::vector<Header> jsonToHeaders(std::string text) {
    std::vector<Header> headers;
    if (text.empty()) return headers;
    nlohmann::json document;
    try {
        document = parseJson(text);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("Error parsing the header JSON: ") + error.what());
    }
    for (const auto& item : document.items()) {
        const auto& value = item.value();
        headers.push_back(Header{item.key(), value.is_null() ? std::string() : jsonValueText(value), false});
    }
    return headers;
}

std::string headersToJsonString(std::vector<Header> headers) {
    std::string text = "{";
    for (const auto& header : headers) {
        if (text.size() > 1) text.push_back(',');
        appendJsonString(text, header.name);
        text.push_back(':');
        appendJsonString(text, header.value);
    }
    text.push_back('}');
    return text;
}

std::unique_ptr<char[]> encodeResponseBody(const std::string& body, int responseEncoding) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(body.data());
    const std::size_t n = body.size();
    if (n == 0) return newHostString(0);
    switch (static_cast<ResponseEncoding>(responseEncoding)) {
        case ResponseEncoding::Base64: return encodeBase64(bytes, n);
        case ResponseEncoding::DecimalSpaces: return encodeByteList(bytes, n, decimalLength(bytes, n), DECIMAL_SPACES);
        case ResponseEncoding::DecimalCommas: return encodeByteList(bytes, n, decimalLength(bytes, n), DECIMAL_COMMAS);
        case ResponseEncoding::HexSpaces: return encodeByteList(bytes, n, 3 * n - 1, HEX_SPACES);
        case ResponseEncoding::HexCommas: return encodeByteList(bytes, n, 3 * n - 1, HEX_COMMAS);
        default: return copyForHost(body);
    }
}

std::string percentEncode(std::string_view text, const char* allowedCharacters, int allowedCount) {
    std::string out;
    appendEncoded(out, text, makeEncodingTable(allowedCharacters, allowedCount));
    return out;
}

// ------------------------------------------------------------- exports

extern "C" {

TW_API int sendAuthEncodedRequestEncodeResponse(const char* url, const char* username, const char* password,
                                                const char* method, const char* headersJson, const char* requestBody,
                                                int bodyIsBase64, int responseEncoding, int skipCertificateVerification,
                                                char** responseHeaders, char** responseBody) {
    const RequestArgs args{url,          username,         password,
                           method,       headersJson,      requestBody,
                           bodyIsBase64, responseEncoding, skipCertificateVerification};
    return runRequest(args, responseHeaders, responseBody);
}

TW_API int sendEncodedRequestEncodeResponse(const char* url, const char* method, const char* headersJson,
                                            const char* requestBody, int bodyIsBase64, int responseEncoding,
                                            int skipCertificateVerification, char** responseHeaders,
                                            char** responseBody) {
    return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, bodyIsBase64,
                                                responseEncoding, skipCertificateVerification, responseHeaders,
                                                responseBody);
}

TW_API int sendAuthRequest(const char* url, const char* username, const char* password, const char* method,
                           const char* headersJson, const char* requestBody, int skipCertificateVerification,
                           char** responseHeaders, char** responseBody) {
    return sendAuthEncodedRequestEncodeResponse(url, username, password, method, headersJson, requestBody, 0, 0,
                                                skipCertificateVerification, responseHeaders, responseBody);
}

TW_API int sendRequest(const char* url, const char* method, const char* headersJson, const char* requestBody,
                       int skipCertificateVerification, char** responseHeaders, char** responseBody) {
    return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, 0, 0,
                                                skipCertificateVerification, responseHeaders, responseBody);
}

// The Tw family: method first, certificates always verified.
#define TW_DEFINE_HTTP_CALL(NAME, IN64, ENCODING)                                                                     \
    TW_API int NAME(const char* method, const char* url, const char* headersJson, const char* requestBody,            \
                    char** responseHeaders, char** responseBody) {                                                    \
        return sendAuthEncodedRequestEncodeResponse(url, "", "", method, headersJson, requestBody, IN64, ENCODING, 0, \
                                                    responseHeaders, responseBody);                                   \
    }
#define TW_DEFINE_AUTH_HTTP_CALL(NAME, IN64, ENCODING)                                                               \
    TW_API int NAME(const char* method, const char* url, const char* username, const char* password,                 \
                    const char* headersJson, const char* requestBody, char** responseHeaders, char** responseBody) { \
        return sendAuthEncodedRequestEncodeResponse(url, username, password, method, headersJson, requestBody, IN64, \
                                                    ENCODING, 0, responseHeaders, responseBody);                     \
    }

TW_DEFINE_HTTP_CALL(TwHttpCall, 0, 0)
TW_DEFINE_HTTP_CALL(TwHttpCallBase64, 0, 1)
TW_DEFINE_HTTP_CALL(TwHttpCallBytes, 0, 3)
TW_DEFINE_HTTP_CALL(TwHttpCallIn64, 1, 0)
TW_DEFINE_HTTP_CALL(TwHttpCallBase64In64, 1, 1)
TW_DEFINE_HTTP_CALL(TwHttpCallBytesIn64, 1, 3)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCall, 0, 0)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBase64, 0, 1)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBytes, 0, 3)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallIn64, 1, 0)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBase64In64, 1, 1)
TW_DEFINE_AUTH_HTTP_CALL(TwAuthHttpCallBytesIn64, 1, 3)

TW_API void freemem(void* p) {
    delete[] static_cast<char*>(p);
}

TW_API char* escapeUrlStyleAllowedCharacters(const char* text, const char* allowedCharacters, int allowedCount) {
    const std::string_view input = text != nullptr ? std::string_view(text) : std::string_view();
    const EncodingTable table = makeEncodingTable(allowedCharacters, allowedCount);
    const std::size_t length = encodedLength(input, table);
    char* result = new (std::nothrow) char[length + ENCODE_SLACK];
    if (result != nullptr) {
        encodeInto(input, table, result);
        result[length] = '\0';
    }
    return result;
}

TW_API char* escapeUrlStyle(const char* text, int style) {
    const BuiltInSet set = builtInSet(style);
    return escapeUrlStyleAllowedCharacters(text, set.characters, set.count);
}

TW_API char* TwUrlEncodeJS(const char* text) {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::JS));
}
TW_API char* TwUrlEncodeInter(const char* text) {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::Inter));
}
TW_API char* TwUrlEncodeLax(const char* text) {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::Lax));
}
TW_API char* TwUrlEncodeVeryLax(const char* text) {
    return escapeUrlStyle(text, static_cast<int>(UrlStyle::VeryLax));
}

TW_API char* toQueryStringAllowedCharacters(const char* jsonText, const char* allowedCharacters, int allowedCount) {
    try {
        const std::string query = buildQueryString(jsonText, makeEncodingTable(allowedCharacters, allowedCount));
        return copyForHost(query).release();
    } catch (...) {
        return nullptr;  // only memory exhaustion gets here
    }
}

TW_API char* toQueryString(const char* jsonText, int style) {
    const BuiltInSet set = builtInSet(style);
    return toQueryStringAllowedCharacters(jsonText, set.characters, set.count);
}

TW_API char* TwUrlEncodeQueryJS(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::JS));
}
TW_API char* TwUrlEncodeQueryInter(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::Inter));
}
TW_API char* TwUrlEncodeQueryLax(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::Lax));
}
TW_API char* TwUrlEncodeQueryVeryLax(const char* jsonText) {
    return toQueryString(jsonText, static_cast<int>(UrlStyle::VeryLax));
}

}  // extern "C"
