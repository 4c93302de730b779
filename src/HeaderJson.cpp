// The header JSON's shared pieces: records from a parsed value, and the
// escaping that keeps any header bytes valid JSON.
#include "HeaderJson.h"

#include "JsonInput.h"
#include "StringHelper.h"

namespace HeaderJson {

namespace {

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

bool isPlainJsonByte(unsigned char byte) {
    return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
}

}  // namespace

// Servers may send any bytes in header lines. Valid UTF-8 is kept as it
// is; any other byte from 0x80 up is written as \u00XX (its Latin-1
// reading), so the text is always JSON that a host can parse. Runs of
// plain bytes are copied whole: every request writes its headers this way.
void appendJsonString(std::string& out, const std::string& text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t end = i;
        while (end < text.size() && isPlainJsonByte(static_cast<unsigned char>(text[end]))) ++end;
        out.append(text, i, end - i);
        if (end == text.size()) break;
        i = end;
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

std::vector<Tarnwell::Header> headersFromJson(const nlohmann::json& document) {
    std::vector<Tarnwell::Header> headers;
    for (const auto& item : document.items()) {
        const auto& value = item.value();
        headers.push_back(
            Tarnwell::Header{item.key(), value.is_null() ? std::string() : JsonInput::jsonValueText(value), false});
    }
    return headers;
}

}  // namespace HeaderJson
