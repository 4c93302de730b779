// The x86 SSE2 and SSSE3 versions of the encoders' inner loops; their
// byte-at-a-time twins live beside the encoders and finish the tails.
#include "VectorEncoders.h"

#ifdef TW_X86_VECTORS

#include "ScalarEncoders.h"
#include "StringHelper.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>

using PercentEncoding::encodedLengthScalar;
using PercentEncoding::encodeIntoScalar;
using PercentEncoding::EncodingTable;

namespace VectorEncoders {

// Lane counters take up to 127 steps of at most 2 before they are summed.
// SSE2 is part of every x86-64 processor.
std::size_t extraDecimalDigitsSse2(const unsigned char* bytes, std::size_t n) {
    const std::size_t whole = n & ~std::size_t{15};
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
    return total + BodyEncodings::extraDecimalDigitsScalar(bytes + whole, n - whole);
}

// Sixteen bytes at a time with SSSE3 byte shuffles, where the processor
// has them: two to two and a half times the speed of the table loop.

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

__attribute__((target("ssse3,popcnt"))) std::size_t encodedLengthSsse3(std::string_view text,
                                                                       const EncodingTable& table) {
    const std::size_t whole = text.size() & ~std::size_t{15};
    std::size_t escaped = 0;
    for (std::size_t i = 0; i < whole; i += 16) {
        escaped += static_cast<std::size_t>(
            __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(escapedLanes(load16(text.data() + i), table)))));
    }
    return whole + 2 * escaped + encodedLengthScalar(text.substr(whole), table);
}

__attribute__((target("ssse3"))) char* encodeIntoSsse3(std::string_view text, const EncodingTable& table, char* out) {
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

}  // namespace VectorEncoders

#endif  // TW_X86_VECTORS
