// Runs the encoders of an aarch64 build under qemu-user against the plain
// algorithms: only the scalar loops exist there, and they must be chosen.
#include "StringHelper.h"
#include "BodyEncodings.h"
#include "PercentEncoding.h"
#include "base64.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

int failures = 0;

void expect(bool condition, const char* what, std::size_t length) {
    if (condition) return;
    std::fprintf(stderr, "FAILED: %s (%zu bytes)\n", what, length);
    ++failures;
}

std::string percentEncoded(const std::string& text, const char* allowed) {
    std::string out;
    for (const char c : text) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += std::strchr(allowed, c) != nullptr && c != '\0' ? std::string(1, c) : std::string(escape);
    }
    return out;
}

std::string byteList(const std::string& bytes, const char* format, char separator) {
    std::string text;
    for (const char c : bytes) {
        char value[8];
        std::snprintf(value, sizeof value, format, static_cast<unsigned>(static_cast<unsigned char>(c)));
        if (!text.empty()) text.push_back(separator);
        text += value;
    }
    return text;
}

}  // namespace

int main() {
    expect(std::strcmp(encoderKernels().name, "scalar") == 0, "the scalar loops are chosen", 0);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const std::size_t length : {std::size_t{1}, std::size_t{15}, std::size_t{17}, std::size_t{100000}}) {
        std::string text(length, '\0');
        for (auto& c : text) c = static_cast<char>(byte(random));
        for (const char* set : {StringHelper::ALLOWED_CHARACTERS_JS, StringHelper::ALLOWED_CHARACTERS_VERYLAX}) {
            const int count = static_cast<int>(std::strlen(set));
            expect(percentEncode(text, set, count) == percentEncoded(text, set), "percent-encoding", length);
        }
        const auto encoded = [&](int encoding) { return std::string(encodeResponseBody(text, responseEncodingOfFlag(encoding)).get()); };
        expect(base64_decode(encoded(1)) == text, "base64", length);
        expect(encoded(2) == byteList(text, "%u", ' '), "decimal with spaces", length);
        expect(encoded(3) == byteList(text, "%u", ','), "decimal with commas", length);
        expect(encoded(4) == byteList(text, "%02X", ' '), "hex with spaces", length);
        expect(encoded(5) == byteList(text, "%02X", ','), "hex with commas", length);
    }
    std::printf("aarch64 scalar encoders: %s\n", failures == 0 ? "all match" : "MISMATCH");
    return failures == 0 ? 0 : 1;
}
