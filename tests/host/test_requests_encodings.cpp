// How the response body reaches the host in each of the six encodings.
#include "support/Host.h"
#include "support/ReferenceEncoding.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace tw_test;

namespace {

CallResult fetch(const HttpServer& server, const std::string& path, int encoding) {
    return callCore(server.url(path), "", "", "GET", "", "", 0, encoding, 0);
}

std::string allBytes() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    return bytes;
}

}  // namespace

TEST(ResponseEncodings, HiNewlineInEveryEncoding) {
    HttpServer server;
    const struct {
        int encoding;
        const char* text;
    } cases[] = {{0, "Hi\n"},     {1, "SGkK"}, {2, "72 105 10"}, {3, "72,105,10"},  {4, "48 69 0A"},
                 {5, "48,69,0A"}, {6, "Hi\n"}, {-1, "Hi\n"},     {INT_MIN, "Hi\n"}, {INT_MAX, "Hi\n"}};
    for (const auto& c : cases) {
        const CallResult result = fetch(server, "/hi", c.encoding);
        EXPECT_EQ(result.code, 200);
        EXPECT_EQ(result.body, c.text) << "encoding " << c.encoding;
    }
}

TEST(ResponseEncodings, EncodedBodiesCarryEveryByteWhileRawStopsAtTheFirstZero) {
    HttpServer server;
    const std::string bytes = allBytes();
    EXPECT_EQ(fetch(server, "/bytes", 0).body, "");  // byte 0 comes first
    EXPECT_EQ(fetch(server, "/bytes", 1).body, base64Encode(bytes));
    EXPECT_EQ(fetch(server, "/bytes", 2).body, referenceByteList(bytes, "%u", ' '));
    EXPECT_EQ(fetch(server, "/bytes", 3).body, referenceByteList(bytes, "%u", ','));
    EXPECT_EQ(fetch(server, "/bytes", 4).body, referenceByteList(bytes, "%02X", ' '));
    EXPECT_EQ(fetch(server, "/bytes", 5).body, referenceByteList(bytes, "%02X", ','));

    EXPECT_EQ(fetch(server, "/nul", 0).body, "A");
    EXPECT_EQ(fetch(server, "/nul", 5).body, "41,00,42");
}

TEST(ResponseEncodings, EmptyBodyIsEmptyInEveryEncoding) {
    HttpServer server;
    for (int encoding = 0; encoding <= 5; ++encoding) {
        const CallResult result = fetch(server, "/empty", encoding);
        EXPECT_EQ(result.code, 200);
        EXPECT_EQ(result.body, "") << "encoding " << encoding;
    }
}
