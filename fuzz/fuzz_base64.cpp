// Base64: every encoder's output decodes back to its input, and arbitrary
// text either decodes or fails with the one documented message.
#include "FuzzSupport.h"
#include "base64.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {

constexpr const char* INVALID_INPUT = "Input is not valid base64-encoded data.";

void checkRoundTrips(const std::string& bytes) {
    for (const bool urlSafe : {false, true}) {
        const std::string encoded = base64_encode(bytes, urlSafe);
        fuzz::check(encoded.size() == base64_encoded_length(bytes.size()), "encoded length is 4*ceil(n/3)");
        fuzz::check(base64_encode(std::string_view(bytes), urlSafe) == encoded, "string and view overloads agree");
        for (const bool strip : {false, true}) {
            fuzz::check(base64_decode(encoded, strip) == bytes, "decode(encode(x)) == x");
        }
    }
    fuzz::check(base64_decode(base64_encode_pem(bytes), true) == bytes, "PEM output decodes with strip_newlines");
    fuzz::check(base64_decode(base64_encode_mime(bytes), true) == bytes, "MIME output decodes with strip_newlines");
}

void checkArbitraryText(const std::string& text, bool strip) {
    std::string decoded;
    try {
        decoded = base64_decode(text, strip);
    } catch (const std::runtime_error& error) {
        fuzz::check(std::strcmp(error.what(), INVALID_INPUT) == 0, "the only failure is the documented one");
        return;
    }
    fuzz::check(decoded.size() <= (text.size() + 3) / 4 * 3, "at most three bytes per group of four");
    fuzz::check(base64_decode(std::string_view(text), strip) == decoded, "string and view overloads agree");
    fuzz::check(base64_decode(base64_encode(decoded, false), false) == decoded, "decoded bytes round-trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    checkRoundTrips(bytes);
    checkArbitraryText(bytes, false);
    checkArbitraryText(bytes, true);
    return 0;
}
