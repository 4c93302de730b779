// Requests against nginx, over HTTPS (HTTP/2 offered) and plain HTTP:
// uploads the server answers before reading them, a 303 after a POST,
// compressed and chunked bodies, and header names as the server spells them.
#include "support/Host.h"
#include "support/Nginx.h"
#include "support/Servers.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

using namespace tw_test;

namespace {

const char* const LOCATIONS = R"(
    location = /early { return 200 "early\n"; }
    location = /see-other { return 303 /landing; }
    location = /landing { return 200 "$request_method length=$content_length\n"; }
    location = /named { add_header X-Mixed-Case yes; return 200 "ok"; }
    location = /gzip.txt { gzip on; gzip_types text/plain; gzip_min_length 1; }
    location = /chunked.txt { ssi on; ssi_types text/plain; }
)";

std::string text(std::size_t size) {
    std::string lines;
    for (int i = 0; lines.size() < size; ++i) lines += "line " + std::to_string(i) + " of the sample text\n";
    lines.resize(size);
    return lines;
}

const std::string SAMPLE = text(100000);

std::string gunzip(const std::string& compressed) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return "<inflateInit2 failed>";
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    char chunk[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : "<corrupt gzip>";
}

std::string headerValue(const CallResult& result, const std::string& name) {
    std::string value;
    for (const auto& [key, v] : parseHeaderJson(result.headers)) {
        if (key == name) value = v;  // exact case; the last one wins
    }
    return value;
}

class Nginx : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NginxServer::available()) GTEST_SKIP() << "nginx is not installed";
        nginx_ = std::make_unique<NginxServer>(
            LOCATIONS, std::vector<std::pair<std::string, std::string>>{
                           {"sample.txt", SAMPLE}, {"gzip.txt", SAMPLE}, {"chunked.txt", SAMPLE}});
    }

    // Both listeners, HTTPS verified against the test CA.
    std::vector<std::string> urls(const std::string& path) const {
        return {nginx_->httpsUrl(path), nginx_->httpUrl(path)};
    }

    std::unique_ptr<NginxServer> nginx_;
    TempDir bundle_;
    ScopedWorkingDirectory cwd_{bundle_.path()};
    const std::string caFile_ = bundle_.write("curl-ca-bundle.crt", readFile(tlsFiles().caCert));
};

}  // namespace

TEST_F(Nginx, UploadsAnsweredBeforeTheBodyIsReadEnd) {
    for (const std::string& url : urls("/early")) {
        for (const std::size_t size : {std::size_t{3}, std::size_t{65537}, std::size_t{2} << 20}) {
            for (const char* method : {"POST", "PUT"}) {
                SCOPED_TRACE(url + " " + method + " " + std::to_string(size));
                const CallResult result = callTw("TwHttpCall", method, url, "", std::string(size, 'x'));
                EXPECT_EQ(result.code, 200) << result.body;
                EXPECT_EQ(result.body, "early\n");
            }
        }
    }
}

TEST_F(Nginx, SeeOtherAfterPostOrPutFetchesTheTargetWithGet) {
    for (const std::string& url : urls("/see-other")) {
        for (const char* method : {"POST", "PUT"}) {
            for (const char* body : {"", "a=1"}) {
                SCOPED_TRACE(url + " " + method + " '" + body + "'");
                const CallResult result = callTw("TwHttpCall", method, url, "", body);
                EXPECT_EQ(result.code, 200) << result.body;
                EXPECT_EQ(result.body, "GET length=\n");
                EXPECT_EQ(headerValue(result, "Location"), "/landing");
            }
        }
    }
}

TEST_F(Nginx, CompressedAndChunkedBodiesArriveWhole) {
    const struct {
        const char* path;
        const char* headersJson;
        const char* contentEncoding;
        const char* transferEncoding;
    } cases[] = {{"/sample.txt", "", "", ""},
                 {"/gzip.txt", "", "", ""},
                 {"/gzip.txt", R"({"Accept-Encoding":"gzip"})", "gzip", "chunked"},
                 {"/chunked.txt", "", "", "chunked"}};
    for (const auto& c : cases) {
        for (const std::string& url : urls(c.path)) {
            SCOPED_TRACE(url + " " + c.headersJson);
            const CallResult result = callTw("TwHttpCallBase64", "GET", url, c.headersJson);
            ASSERT_EQ(result.code, 200) << result.body;
            EXPECT_EQ(headerValue(result, "Content-Encoding"), c.contentEncoding);
            EXPECT_EQ(headerValue(result, "Transfer-Encoding"), c.transferEncoding);
            // The body is handed over as the server sent it, compressed or not.
            const std::string body = base64Decode(result.body);
            EXPECT_TRUE((*c.contentEncoding != '\0' ? gunzip(body) : body) == SAMPLE);
        }
    }
}

TEST_F(Nginx, HeaderNamesKeepTheServersCase) {
    for (const std::string& url : urls("/named")) {
        SCOPED_TRACE(url);
        const CallResult result = callTw("TwHttpCall", "GET", url);
        ASSERT_EQ(result.code, 200) << result.body;
        std::vector<std::string> names;
        for (const auto& member : parseHeaderJson(result.headers)) names.push_back(member.first);
        EXPECT_EQ(names, (std::vector<std::string>{"Server", "Date", "Content-Type", "Content-Length", "Connection",
                                                   "X-Mixed-Case"}))
            << result.headers;
    }
}
