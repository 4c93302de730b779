// The DLL as a Windows host uses it: loaded with LoadLibraryA, every export
// family called by plain name against loopback servers that tw_wine_driver
// starts on the Linux side (their addresses come in the environment), CA
// bundles read from the current directory.
#include "LibraryLoader.h"
#include "TarnwellDll.h"

#include <direct.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// ------------------------------------------------------------ the host

const tw::LibraryLoader& library() {
    static const tw::LibraryLoader loaded("TarnwellFunctions.dll");
    return loaded;
}

template <typename Fn>
Fn* fn(const char* name) {
    return library().function<Fn>(name);
}

std::string take(char* text) {
    std::string copy = text != nullptr ? text : "<null>";
    fn<decltype(freemem)>("freemem")(text);
    return copy;
}

struct Result {
    int code;
    std::string headers;
    std::string body;
};

Result takeResult(int code, char* headers, char* body) {
    return {code, take(headers), take(body)};
}

using TwCall = decltype(TwHttpCall);
using TwAuthCall = decltype(TwAuthHttpCall);
using Core = decltype(sendAuthEncodedRequestEncodeResponse);

Result callTw(const char* name, const std::string& method, const std::string& url, const std::string& headersJson = "",
              const std::string& body = "") {
    char* headers = nullptr;
    char* out = nullptr;
    const int code = fn<TwCall>(name)(method.c_str(), url.c_str(), headersJson.c_str(), body.c_str(), &headers, &out);
    return takeResult(code, headers, out);
}

Result callCore(const std::string& url, const std::string& user, const std::string& password, const std::string& method,
                const std::string& body, int bodyIsBase64, int encoding, int skipVerification) {
    char* headers = nullptr;
    char* out = nullptr;
    const int code = fn<Core>("sendAuthEncodedRequestEncodeResponse")(url.c_str(), user.c_str(), password.c_str(),
                                                                       method.c_str(), "", body.c_str(), bodyIsBase64,
                                                                       encoding, skipVerification, &headers, &out);
    return takeResult(code, headers, out);
}

// ------------------------------------------------- the Linux side

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) throw std::runtime_error(std::string(name) + " is not set; run under tw_wine_driver");
    return value;
}

std::string http(const std::string& path) {
    return environment("TW_HTTP") + path;
}

std::string https(const char* host, const char* portVariable, const std::string& path = "/hi") {
    return std::string("https://") + host + ":" + environment(portVariable) + path;
}

// Makes one of the driver's directories (trusted, other, none) the current
// one for a scope.
class InDirectory {
public:
    explicit InDirectory(const char* name) {
        EXPECT_EQ(_chdir(name), 0) << name;
    }
    ~InDirectory() { _chdir(".."); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;
};

std::string curlFailure(const char* text) {
    return std::string("curl_easy_perform() failed: ") + text;
}
const std::string NO_CA_FILE = curlFailure("Problem with the SSL CA cert (path? access rights?)");
const std::string UNTRUSTED = curlFailure("SSL peer certificate or SSH remote key was not OK");

// libcurl's failures may add the detail of its error buffer: " (...)".
void expectFailure(const Result& result, const std::string& message) {
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.headers, "");
    const bool fromCurl = message.rfind(curlFailure(""), 0) == 0;
    EXPECT_TRUE(result.body == message || (fromCurl && result.body.rfind(message + " (", 0) == 0))
        << result.body << "\nwanted: " << message;
}

// --------------------------------------------------------- references

std::string allBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    return bytes;
}

std::string base64(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) out.push_back(i + k <= bytes.size() ? digits[(value >> (18 - 6 * k)) & 63] : '=');
    }
    return out;
}

std::string byteList(const std::string& bytes, bool hex, char separator) {
    std::string out;
    char digits[4];
    for (const char c : bytes) {
        if (!out.empty()) out.push_back(separator);
        std::snprintf(digits, sizeof digits, hex ? "%02X" : "%u", static_cast<unsigned>(static_cast<unsigned char>(c)));
        out += digits;
    }
    return out;
}

// The response header JSON as an object; fails the test when it is not one.
nlohmann::json headerJson(const Result& result) {
    return nlohmann::json::parse(result.headers);
}

}  // namespace

// --------------------------------------------------------------- tests

TEST(Responses, EveryEncodingOfTheCore) {
    const std::string bytes = allBytes();
    const struct {
        int encoding;
        std::string path, expected;
    } cases[] = {
        {0, "/hi", "Hi\n"},
        {0, "/bytes", ""},  // raw text ends at the first zero byte
        {1, "/bytes", base64(bytes)},
        {2, "/bytes", byteList(bytes, false, ' ')},
        {3, "/bytes", byteList(bytes, false, ',')},
        {4, "/bytes", byteList(bytes, true, ' ')},
        {5, "/bytes", byteList(bytes, true, ',')},
        {6, "/hi", "Hi\n"},
        {-1, "/hi", "Hi\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        const Result result = callCore(http(c.path), "", "", "GET", "", 0, c.encoding, 0);
        EXPECT_EQ(result.code, 200) << result.body;
        EXPECT_EQ(result.body, c.expected);
    }
}

// Every request export once: In64 exports get "SGk=" ("Hi"), the others
// "Hi"; /echo and /basic send it back in the export's encoding.
TEST(Responses, EveryRequestExport) {
    const struct {
        const char* name;
        bool auth, in64;
        const char* expected;
    } cases[] = {
        {"TwHttpCall", false, false, "Hi"},          {"TwHttpCallBase64", false, false, "SGk="},
        {"TwHttpCallBytes", false, false, "72,105"}, {"TwHttpCallIn64", false, true, "Hi"},
        {"TwHttpCallBase64In64", false, true, "SGk="}, {"TwHttpCallBytesIn64", false, true, "72,105"},
        {"TwAuthHttpCall", true, false, "Hi"},       {"TwAuthHttpCallBase64", true, false, "SGk="},
        {"TwAuthHttpCallBytes", true, false, "72,105"}, {"TwAuthHttpCallIn64", true, true, "Hi"},
        {"TwAuthHttpCallBase64In64", true, true, "SGk="}, {"TwAuthHttpCallBytesIn64", true, true, "72,105"},
    };
    const std::string echo = http("/echo"), basic = http("/basic");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char* headers = nullptr;
        char* body = nullptr;
        const char* sent = c.in64 ? "SGk=" : "Hi";
        const int code = c.auth ? fn<TwAuthCall>(c.name)("POST", basic.c_str(), "user", "secret", "", sent, &headers, &body)
                                : fn<TwCall>(c.name)("POST", echo.c_str(), "", sent, &headers, &body);
        const Result result = takeResult(code, headers, body);
        EXPECT_EQ(result.code, 200) << result.body;
        EXPECT_EQ(result.body, c.expected);
        EXPECT_EQ(headerJson(result).value("X-Echo-Method", ""), "POST");
    }
    char* headers = nullptr;
    char* body = nullptr;
    int code = fn<decltype(sendRequest)>("sendRequest")(echo.c_str(), "PUT", "", "Hi", 0, &headers, &body);
    EXPECT_EQ(takeResult(code, headers, body).body, "Hi");
    code = fn<decltype(sendAuthRequest)>("sendAuthRequest")(basic.c_str(), "user", "secret", "PUT", "", "Hi", 0,
                                                             &headers, &body);
    EXPECT_EQ(takeResult(code, headers, body).body, "Hi");
    code = fn<decltype(sendEncodedRequestEncodeResponse)>("sendEncodedRequestEncodeResponse")(
        echo.c_str(), "PUT", "", "SGk=", 1, 4, 0, &headers, &body);
    EXPECT_EQ(takeResult(code, headers, body).body, "48 69");
}

TEST(Requests, BodiesWithZeroBytesGoOutWhole) {
    const std::string bytes = allBytes() + std::string("\0\0", 2);
    const struct {
        const char* name;
        std::string expected;
    } exports[] = {{"TwHttpCallBase64In64", base64(bytes)}, {"TwHttpCallBytesIn64", byteList(bytes, false, ',')}};
    for (const char* method : {"POST", "PUT"}) {
        for (const auto& e : exports) {
            SCOPED_TRACE(std::string(method) + " " + e.name);
            const Result result = callTw(e.name, method, http("/echo"), "", base64(bytes));
            EXPECT_EQ(result.code, 200) << result.body;
            EXPECT_EQ(result.body, e.expected);
            EXPECT_EQ(headerJson(result).value("X-Echo-Method", ""), method);
        }
    }
}

TEST(Requests, HeaderJsonBothWays) {
    const struct {
        const char* json;
        const char* expectedLine;
    } cases[] = {
        {R"({"X-One":"a b"})", "X-One: a b\n"},
        {R"({"X-Number":5})", "X-Number: 5\n"},
        {R"({"X-Flag":true,"X-Two":"2"})", "X-Flag: true\n"},
        {R"(["zero"])", "0: zero\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const Result result = callTw("TwHttpCall", "GET", http("/request-headers"), c.json);
        ASSERT_EQ(result.code, 200) << result.body;
        EXPECT_NE(result.body.find(c.expectedLine), std::string::npos) << result.body;
    }
    // A null value keeps libcurl's own header out.
    EXPECT_EQ(callTw("TwHttpCall", "GET", http("/request-headers"), R"({"User-Agent":null})").body.find("User-Agent"),
              std::string::npos);
    const Result result = callTw("TwHttpCall", "GET", http("/status/200"));
    const nlohmann::json headers = headerJson(result);
    EXPECT_EQ(headers.value("X-Status", ""), "200");
    EXPECT_EQ(headers.value("Content-Length", ""), "10");
}

TEST(Requests, RedirectsStatusesAndBasicAuth) {
    const struct {
        const char* what;
        const char* method;
        std::string url, user, password, body;
        int code;
        std::string expectedBody;
    } cases[] = {
        {"three redirects", "GET", http("/redirect/3"), "", "", "", 200, "end"},
        {"307 keeps method and body", "POST", http("/redirect307"), "", "", "Hi", 200, "Hi"},
        {"404", "GET", http("/status/404"), "", "", "", 404, "status 404"},
        {"500", "GET", http("/status/500"), "", "", "", 500, "status 500"},
        {"basic without credentials", "GET", http("/basic"), "", "", "", 401, ""},
        {"basic, wrong password", "GET", http("/basic"), "user", "wrong", "", 401, ""},
        {"basic, user alone sends nothing", "GET", http("/basic"), "user", "", "", 401, ""},
        {"basic", "POST", http("/basic"), "user", "secret", "ok", 200, "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = callCore(c.url, c.user, c.password, c.method, c.body, 0, 0, 0);
        EXPECT_EQ(result.code, c.code) << result.body;
        if (c.code != 401) {
            EXPECT_EQ(result.body, c.expectedBody);
        }
    }
}

TEST(Failures, EveryMessage) {
    const std::string badJson = [] {
        try {
            const auto unreachable = nlohmann::json::parse("{");
            return unreachable.dump();
        } catch (const std::exception& error) {
            return std::string("Error parsing the header JSON: ") + error.what();
        }
        return std::string();
    }();
    const char* const unsafe = "Line breaks and zero bytes are not allowed in the method or request headers.";
    const struct {
        const char* what;
        std::string method, url, headersJson, body;
        std::string message;
    } cases[] = {
        {"bad base64", "POST", http("/echo"), "", "SG k=", "Input is not valid base64-encoded data."},
        {"bad header JSON", "GET", http("/echo"), "{", "", badJson},
        {"line break in a header", "GET", http("/echo"), R"({"X":"a\r\nY: 1"})", "", unsafe},
        {"line break in the method", "GET\r\nX: 1", http("/echo"), "", "", unsafe},
        {"closed port", "GET", "http://127.0.0.1:1/", "", "", curlFailure("Couldn't connect to server")},
        {"ftp", "GET", "ftp://127.0.0.1:1/", "", "", curlFailure("Unsupported protocol")},
        {"redirect to ftp", "GET", http("/to?url=ftp://127.0.0.1:1/"), "", "", curlFailure("Unsupported protocol")},
        // libcurl's Windows build calls this redirect a malformed URL rather
        // than an unsupported protocol; either way nothing is fetched.
        {"redirect to file", "GET", http("/to?url=file:///etc/hostname"), "", "",
         curlFailure("URL using bad/illegal format or missing URL")},
        {"redirect loop", "GET", http("/loop"), "", "", curlFailure("Number of redirects hit maximum amount")},
        {"connection closed mid-body", "GET", environment("TW_PARTIAL"), "", "",
         curlFailure("Transferred a partial file")},
        {"bad URL", "GET", "http://", "", "", curlFailure("URL using bad/illegal format or missing URL")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectFailure(callTw("TwHttpCallIn64", c.method, c.url, c.headersJson, c.body), c.message);
    }
}

TEST(Failures, NullArgumentsAreNamedAndNullOutputsAreSkipped) {
    const std::string url = http("/hi");
    const char* const names[] = {"url", "username", "password", "method", "headersJson", "requestBody"};
    for (int missing = 0; missing < 6; ++missing) {
        const char* args[6] = {url.c_str(), "u", "p", "GET", "", ""};
        args[missing] = nullptr;
        char* headers = nullptr;
        char* body = nullptr;
        const int code = fn<Core>("sendAuthEncodedRequestEncodeResponse")(args[0], args[1], args[2], args[3], args[4],
                                                                           args[5], 0, 0, 0, &headers, &body);
        expectFailure(takeResult(code, headers, body), std::string("Argument must not be null: ") + names[missing] + ".");
    }
    auto* const twHttpCall = fn<TwCall>("TwHttpCall");
    char* body = nullptr;
    EXPECT_EQ(twHttpCall("GET", url.c_str(), "", "", nullptr, &body), 0);
    EXPECT_EQ(take(body), "Argument must not be null: responseHeaders.");
    char* headers = nullptr;
    EXPECT_EQ(twHttpCall("GET", url.c_str(), "", "", &headers, nullptr), 0);
    EXPECT_EQ(take(headers), "");
    EXPECT_EQ(twHttpCall("GET", url.c_str(), "", "", nullptr, nullptr), 0);
}

// Schannel reads the bundle from the current directory, as on Linux; a
// missing bundle, an unrelated CA, an expired certificate or a wrong name
// fail, and only bit 0 of the flag turns the check off.
TEST(Certificates, BundleInTheCurrentDirectory) {
    const struct {
        const char* directory;
        std::string url;
        std::string messageWhenVerifying;  // "" when verification passes
    } cases[] = {
        {"trusted", https("localhost", "TW_HTTPS_PORT"), ""},
        {"none", https("localhost", "TW_HTTPS_PORT"), NO_CA_FILE},
        {"other", https("localhost", "TW_HTTPS_PORT"), UNTRUSTED},
        {"trusted", https("localhost", "TW_EXPIRED_PORT"), UNTRUSTED},
        {"trusted", https("localhost", "TW_WRONG_HOST_PORT"), UNTRUSTED},
        // libcurl's Schannel code matches DNS names only, so a certificate
        // naming the address 127.0.0.1 does not pass for https://127.0.0.1.
        {"trusted", https("127.0.0.1", "TW_HTTPS_PORT"), UNTRUSTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.directory) + " " + c.url);
        const InDirectory cwd(c.directory);
        for (const int flag : {0, 1, 2, 3, -1, 4}) {
            SCOPED_TRACE(flag);
            const Result result = callCore(c.url, "", "", "GET", "", 0, 0, flag);
            if ((flag & 1) != 0 || c.messageWhenVerifying.empty()) {
                EXPECT_EQ(result.code, 200) << result.body;
                EXPECT_EQ(result.body, "Hi\n");
            } else {
                expectFailure(result, c.messageWhenVerifying);
            }
        }
        // The Tw family always verifies.
        const Result tw = callTw("TwHttpCall", "GET", c.url);
        if (c.messageWhenVerifying.empty()) {
            EXPECT_EQ(tw.body, "Hi\n");
        } else {
            expectFailure(tw, c.messageWhenVerifying);
        }
    }
}

TEST(Encoders, PercentEncodingAndQueryStrings) {
    using Text = decltype(TwUrlEncodeJS);
    using Styled = decltype(escapeUrlStyle);
    using WithSet = decltype(escapeUrlStyleAllowedCharacters);
    const std::string text = "a b&c=d/\xC3\xA9~*'()!";
    const struct {
        const char* name;
        std::string expected;
    } texts[] = {
        {"TwUrlEncodeJS", "a%20b%26c%3Dd%2F%C3%A9~*'()!"},
        {"TwUrlEncodeInter", "a%20b%26c%3Dd/%C3%A9~*'()!"},
        {"TwUrlEncodeLax", "a%20b%26c%3Dd/%C3%A9~*'()!"},
        {"TwUrlEncodeVeryLax", "a%20b%26c=d/%C3%A9~*'()!"},
    };
    const std::string json = R"({"b":[1,"x y"],"a":"\u00e9&"})";
    const struct {
        const char* name;
        std::string expected;
    } queries[] = {
        {"TwUrlEncodeQueryJS", "a=%C3%A9%26&b=%5B1%2C%22x%20y%22%5D"},
        {"TwUrlEncodeQueryInter", R"(a=%C3%A9%26&b=%5B1,"x%20y"%5D)"},
        {"TwUrlEncodeQueryLax", R"(a=%C3%A9%26&b=[1,"x%20y"])"},
        {"TwUrlEncodeQueryVeryLax", R"(a=%C3%A9%26&b=[1,"x%20y"])"},
    };
    for (int style = 0; style < 4; ++style) {
        SCOPED_TRACE(texts[style].name);
        EXPECT_EQ(take(fn<Text>(texts[style].name)(text.c_str())), texts[style].expected);
        EXPECT_EQ(take(fn<Styled>("escapeUrlStyle")(text.c_str(), style)), texts[style].expected);
        EXPECT_EQ(take(fn<Text>(queries[style].name)(json.c_str())), queries[style].expected);
        EXPECT_EQ(take(fn<Styled>("toQueryString")(json.c_str(), style)), queries[style].expected);
    }
    EXPECT_EQ(take(fn<Styled>("escapeUrlStyle")(text.c_str(), 9)), texts[1].expected);
    EXPECT_EQ(take(fn<WithSet>("escapeUrlStyleAllowedCharacters")("a\0b c", "a\0", 2)), "a");
    EXPECT_EQ(take(fn<WithSet>("escapeUrlStyleAllowedCharacters")("ab c", "a ", 2)), "a%62 %63");
    EXPECT_EQ(take(fn<WithSet>("escapeUrlStyleAllowedCharacters")(nullptr, "a", 1)), "");
    EXPECT_EQ(take(fn<WithSet>("toQueryStringAllowedCharacters")(R"({"k":"a b"})", "ak", 2)), "k=a%20%62");
    EXPECT_EQ(take(fn<WithSet>("toQueryStringAllowedCharacters")("not json", "a", 1)), "");
    EXPECT_EQ(take(fn<Text>("TwUrlEncodeQueryJS")(nullptr)), "");
    fn<decltype(freemem)>("freemem")(nullptr);
}

// Calls share nothing, so four threads may call at once.
TEST(Threads, FourThreadsOfAHundredCalls) {
    const std::string url = http("/hi");
    std::vector<int> good(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                const Result result = t % 2 == 0 ? callTw("TwHttpCall", "GET", url)
                                                 : callCore(url, "", "", "GET", "", 0, 1, 0);
                good[t] += result.code == 200 && result.body == (t % 2 == 0 ? "Hi\n" : "SGkK") ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good, std::vector<int>(4, 100));
}

// ------------------------------------------- TwHttpRequest and TwVersion

Result callRequest(const tw::LibraryLoader& loaded, const nlohmann::json& request) {
    char* headers = nullptr;
    char* body = nullptr;
    const int code = loaded.function<decltype(TwHttpRequest)>("TwHttpRequest")(request.dump().c_str(), &headers, &body);
    auto* const release = loaded.function<decltype(freemem)>("freemem");
    Result result{code, headers != nullptr ? headers : "<null>", body != nullptr ? body : "<null>"};
    release(headers);
    release(body);
    return result;
}

std::string readLocalFile(const char* name) {
    std::string text;
    if (FILE* file = std::fopen(name, "rb")) {
        char chunk[4096];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
        std::fclose(file);
    }
    return text;
}

// zlib is linked into libcurl here too: TwVersion says so, and nginx's gzip
// body comes back decoded with decompress, as it was sent without.
TEST(Decompress, GzipBodyFromNginx) {
    const std::string version = take(fn<decltype(TwVersion)>("TwVersion")());
    EXPECT_NE(version.find(R"("decompress":["deflate","gzip"])"), std::string::npos) << version;

    const std::string sample = readLocalFile("gzip-sample.txt");
    ASSERT_GT(sample.size(), 1000u) << "tw_wine_driver writes gzip-sample.txt";
    const std::string url = environment("TW_NGINX_HTTP") + "gzip-sample.txt";
    const struct {
        const char* what;
        nlohmann::json request;
        bool decoded;
    } cases[] = {
        {"decompress", {{"url", url}, {"decompress", true}}, true},
        {"decompress, pooled", {{"url", url}, {"decompress", true}, {"reuseConnections", true}}, true},
        {"gzip asked for, not decoded", {{"url", url}, {"headers", {{"Accept-Encoding", "gzip"}}}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = callRequest(library(), c.request);
        EXPECT_EQ(result.code, 200) << result.body;
        EXPECT_NE(result.headers.find(R"("Content-Encoding":"gzip")"), std::string::npos) << result.headers;
        if (c.decoded) {
            EXPECT_EQ(result.body, sample);
        } else {
            EXPECT_EQ(result.body.substr(0, 2), "\x1f\x8b");  // the gzip magic, as sent
        }
    }
}

// ----------------------------------------------------------- unloading

// Runs alone (ctest's Windows.UnloadUnderWine), so that the library is not
// loaded when it starts and FreeLibrary really unloads it. Each round loads
// the DLL, makes pooled calls over HTTP and HTTPS from this thread and
// another one (the pool then holds open connections, TLS sessions and
// libcurl's global state), and unloads it; a hang ends in ctest's time-out.
TEST(Unload, TwentyRoundsOfPooledCallsThenFreeLibrary) {
    ASSERT_EQ(GetModuleHandleA("TarnwellFunctions.dll"), nullptr) << "run this test in a process of its own";
    const InDirectory cwd("trusted");
    const nlohmann::json requests[] = {
        {{"url", http("/hi")}, {"reuseConnections", true}},
        {{"url", https("localhost", "TW_HTTPS_PORT")}, {"reuseConnections", true}},
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        {
            const tw::LibraryLoader loaded("TarnwellFunctions.dll");
            int good = 0;
            const auto calls = [&](int& count) {
                for (int i = 0; i < 3; ++i) {
                    for (const auto& request : requests) {
                        const Result result = callRequest(loaded, request);
                        count += result.code == 200 && result.body == "Hi\n" ? 1 : 0;
                    }
                }
            };
            int goodOnThread = 0;
            std::thread other(calls, std::ref(goodOnThread));
            calls(good);
            other.join();
            EXPECT_EQ(good + goodOnThread, 12);
        }
        EXPECT_EQ(GetModuleHandleA("TarnwellFunctions.dll"), nullptr) << "FreeLibrary left the DLL loaded";
    }
}
