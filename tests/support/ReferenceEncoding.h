// Response body encodings computed the slow, obvious way (one printf per
// byte), for comparing with what the library hands to the host.
#pragma once

#include "support/Servers.h"

#include <cstdio>
#include <string>

namespace tw_test {

// Byte values joined by `separator`, each printed with `format`.
inline std::string referenceByteList(const std::string& bytes, const char* format, char separator) {
    std::string text;
    for (const char c : bytes) {
        char value[8];
        std::snprintf(value, sizeof value, format, static_cast<unsigned int>(static_cast<unsigned char>(c)));
        if (!text.empty()) text.push_back(separator);
        text += value;
    }
    return text;
}

// Percent-encoding the plain way: each byte looked up in the allowed set
// and escaped if absent.
inline std::string referencePercentEncode(const std::string& text, const std::string& allowed) {
    std::string out;
    for (const char c : text) {
        // Byte 0 is escaped even when the set holds it.
        if (c != '\0' && allowed.find(c) != std::string::npos) {
            out += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned int>(static_cast<unsigned char>(c)));
            out += escape;
        }
    }
    return out;
}

// The body as the host receives it with `encoding` (0 raw .. 5 hex commas;
// other values act as raw, which ends at the first zero byte).
inline std::string referenceEncoding(const std::string& body, int encoding) {
    switch (encoding) {
        case 1: return base64Encode(body);
        case 2: return referenceByteList(body, "%u", ' ');
        case 3: return referenceByteList(body, "%u", ',');
        case 4: return referenceByteList(body, "%02X", ' ');
        case 5: return referenceByteList(body, "%02X", ',');
        default: return body.substr(0, body.find('\0'));
    }
}

}  // namespace tw_test
