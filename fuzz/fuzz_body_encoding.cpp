// Response body encodings: every byte list reads back as the body's bytes,
// base64 decodes to the body, raw ends at the first zero byte, and the
// vector path and its scalar twin give the same text.
#include "FuzzSupport.h"
#include "BodyEncodings.h"
#include "base64.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The byte values of a list joined by `separator`, read back with `base`;
// nullopt when the text is not such a list.
std::optional<std::string> readByteList(const std::string& text, char separator, int base) {
    std::string bytes;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        const std::string value = text.substr(start, end - start);
        const bool digits =
            !value.empty() && value.size() <= (base == 10 ? 3u : 2u) &&
            value.find_first_not_of(base == 10 ? "0123456789" : "0123456789ABCDEF") == std::string::npos;
        if (!digits || (base == 16 && value.size() != 2) || (value.size() > 1 && value[0] == '0' && base == 10)) {
            return std::nullopt;
        }
        const long byte = std::strtol(value.c_str(), nullptr, base);
        if (byte > 255) return std::nullopt;
        bytes.push_back(static_cast<char>(byte));
        start = end + 1;
    }
    return bytes;
}

std::string encoded(const std::string& body, int encoding, KernelChoice choice) {
    return std::string(encodeResponseBody(body, responseEncodingOfFlag(encoding), encoderKernels(choice)).get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    for (int encoding = 0; encoding < 6; ++encoding) {
        const std::string fastest = encoded(body, encoding, KernelChoice::Fastest);
        fuzz::check(encoded(body, encoding, KernelChoice::Scalar) == fastest, "both paths give the same text");
        if (body.empty()) {
            fuzz::check(fastest.empty(), "an empty body is empty in every encoding");
            continue;
        }
        switch (encoding) {
            case 1: fuzz::check(base64_decode(fastest) == body, "base64 decodes to the body"); break;
            case 2: fuzz::check(readByteList(fastest, ' ', 10) == body, "decimal with spaces reads back"); break;
            case 3: fuzz::check(readByteList(fastest, ',', 10) == body, "decimal with commas reads back"); break;
            case 4: fuzz::check(readByteList(fastest, ' ', 16) == body, "hex with spaces reads back"); break;
            case 5: fuzz::check(readByteList(fastest, ',', 16) == body, "hex with commas reads back"); break;
            default: fuzz::check(fastest == body.substr(0, body.find('\0')), "raw ends at the first zero byte");
        }
    }
    return 0;
}
