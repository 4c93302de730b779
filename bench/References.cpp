#include "References.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace bench {

namespace {

struct CurlHandle {
    CURL* handle = curl_easy_init();
    CurlHandle() {
        if (handle == nullptr) throw std::runtime_error("curl_easy_init failed");
    }
    ~CurlHandle() { curl_easy_cleanup(handle); }
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;
};

std::string trimmed(const char* begin, const char* end) {
    while (begin < end && std::strchr(" \t\r\n", *begin) != nullptr) ++begin;
    while (end > begin && std::strchr(" \t\r\n", end[-1]) != nullptr) --end;
    return std::string(begin, end);
}

std::size_t splitHeaderLine(char* line, std::size_t size, std::size_t count, void* userdata) {
    const std::size_t length = size * count;
    const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
    if (colon != nullptr && colon != line) {
        static_cast<BareResponse*>(userdata)->headers.emplace_back(trimmed(line, colon),
                                                                   trimmed(colon + 1, line + length));
    }
    return length;
}

struct Sink {
    std::string* body;
    CURL* handle;
    bool reserved = false;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto& sink = *static_cast<Sink*>(userdata);
    if (!sink.reserved) {
        sink.reserved = true;
        curl_off_t announced = -1;
        curl_easy_getinfo(sink.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > 0) sink.body->reserve(static_cast<std::size_t>(announced));
    }
    sink.body->append(data, size * count);
    return size * count;
}

std::size_t readNothing(char*, std::size_t, std::size_t, void*) {
    return 0;
}
int seekNowhere(void*, curl_off_t, int) {
    return CURL_SEEKFUNC_CANTSEEK;
}

void setLibraryOptions(CURL* curl, const std::string& url) {
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readNothing);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, splitHeaderLine);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, seekNowhere);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "GET");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
    curl_easy_setopt(curl, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, nullptr);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 1L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, "curl-ca-bundle.crt");
}

// Digits of every byte value followed by the separator, and their count.
struct DecimalDigits {
    std::array<std::array<char, 4>, 256> text{};
    std::array<unsigned char, 256> length{};
    explicit DecimalDigits(char separator) {
        for (int b = 0; b < 256; ++b) {
            const std::string digits = std::to_string(b) + separator;
            std::memcpy(text[b].data(), digits.data(), digits.size());
            length[b] = static_cast<unsigned char>(digits.size());
        }
    }
};

std::unique_ptr<char[]> fresh(std::size_t length) {
    return std::unique_ptr<char[]>(new char[length + 1]);
}

const unsigned char* bytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

BareResponse bareGet(const std::string& url) {
    BareResponse response;
    CurlHandle curl;
    setLibraryOptions(curl.handle, url);
    Sink sink{&response.body, curl.handle};
    curl_easy_setopt(curl.handle, CURLOPT_HEADERDATA, &response);
    curl_easy_setopt(curl.handle, CURLOPT_WRITEDATA, &sink);
    const CURLcode result = curl_easy_perform(curl.handle);
    if (result != CURLE_OK) throw std::runtime_error(std::string("bare GET failed: ") + curl_easy_strerror(result));
    curl_easy_getinfo(curl.handle, CURLINFO_RESPONSE_CODE, &response.code);
    return response;
}

std::unique_ptr<char[]> rawCopy(const std::string& body) {
    auto text = fresh(body.size());
    std::memcpy(text.get(), body.data(), body.size());
    text[body.size()] = '\0';
    return text;
}

std::unique_ptr<char[]> opensslBase64(const std::string& body) {
    auto text = fresh((body.size() + 2) / 3 * 4);
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.get()), bytesOf(body), static_cast<int>(body.size()));
    return text;
}

std::unique_ptr<char[]> tableDecimal(const std::string& body, char separator) {
    const DecimalDigits digits(separator);
    // Sized for the longest text; pages past the real end are never touched.
    auto text = fresh(4 * body.size());
    char* out = text.get();
    for (const unsigned char b : std::string_view(body)) {
        std::memcpy(out, digits.text[b].data(), 4);
        out += digits.length[b];
    }
    *(out == text.get() ? out : out - 1) = '\0';
    return text;
}

std::unique_ptr<char[]> tableHex(const std::string& body, char separator) {
    static const char* const HEX = "0123456789ABCDEF";
    auto text = fresh(3 * body.size());
    char* out = text.get();
    for (const unsigned char b : std::string_view(body)) {
        out[0] = HEX[b >> 4];
        out[1] = HEX[b & 0x0F];
        out[2] = separator;
        out += 3;
    }
    *(out == text.get() ? out : out - 1) = '\0';
    return text;
}

const char* const JS_KEPT = "!'()*-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~";

std::string percentEncodeJS(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        if (std::strchr(JS_KEPT, c) != nullptr && c != '\0') {
            escaped.push_back(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            escaped += hex;
        }
    }
    return escaped;
}

std::size_t curlEscapeInChunks(const std::string& text) {
    constexpr std::size_t CHUNK = std::size_t{1} << 20;
    CurlHandle curl;
    std::size_t produced = 0;
    for (std::size_t offset = 0; offset < text.size(); offset += CHUNK) {
        const auto length = static_cast<int>(std::min(CHUNK, text.size() - offset));
        char* escaped = curl_easy_escape(curl.handle, text.data() + offset, length);
        if (escaped == nullptr) throw std::runtime_error("curl_easy_escape failed");
        produced += std::strlen(escaped);
        curl_free(escaped);
    }
    return produced;
}

std::size_t opensslDecode(const std::string& text, std::unique_ptr<unsigned char[]>& out) {
    out.reset(new unsigned char[text.size() / 4 * 3 + 3]);
    const int length = EVP_DecodeBlock(out.get(), bytesOf(text), static_cast<int>(text.size()));
    if (length < 0) throw std::runtime_error("EVP_DecodeBlock rejected the text");
    return static_cast<std::size_t>(length);
}

}  // namespace bench
