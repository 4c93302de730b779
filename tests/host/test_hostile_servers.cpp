// Broken and hostile servers on loopback: each must end in a clear failure
// or a correct result, never a crash, a hang or a leak (the ASan build runs
// these with LeakSanitizer on).
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <httplib.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <string>

using namespace tw_test;

namespace {

const std::string STATUS_LINE = "HTTP/1.1 200 OK\r\n";

std::string headerLines(int count, std::size_t valueLength) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += "X-Line-" + std::to_string(i) + ": " + std::string(valueLength, 'v') + "\r\n";
    }
    return lines;
}

// Every byte value except zero, CR and LF, a few colons among them.
std::string garbageBytes() {
    std::string bytes;
    for (int b = 1; b < 256; ++b) {
        if (b != '\r' && b != '\n') bytes.push_back(static_cast<char>(b));
        if (b % 64 == 0) bytes += ": ";
    }
    return bytes;
}

struct RawFault {
    const char* scenario;
    std::string response;
    RawServer::Ending ending;
};

}  // namespace

TEST(HostileServers, BrokenResponsesFailWithLibcurlsMessage) {
    const RawFault faults[] = {
        {"closes in the middle of a chunked body", STATUS_LINE + "Transfer-Encoding: chunked\r\n\r\n10\r\nabc",
         RawServer::Ending::Close},
        {"Content-Length larger than the body, then closes", STATUS_LINE + "Content-Length: 100000\r\n\r\nabc",
         RawServer::Ending::Close},
        {"resets without answering", "", RawServer::Ending::Reset},
        // Whether the reset overtakes the bytes before it is up to the TCP stack; either way it fails.
        {"resets after part of the body", STATUS_LINE + "Content-Length: 100\r\n\r\nabc", RawServer::Ending::Reset},
        {"closes without answering", "", RawServer::Ending::Close},
        {"zero byte in a header line", STATUS_LINE + "X-A: a" + std::string(1, '\0') + "b\r\n\r\n",
         RawServer::Ending::Close},
        {"one header line of 150 KiB", STATUS_LINE + "X-Huge: " + std::string(150 * 1024, 'h') + "\r\n\r\n",
         RawServer::Ending::Close},
        {"header block of 500 KiB", STATUS_LINE + headerLines(10000, 40) + "\r\n", RawServer::Ending::Close},
    };
    expectCurlFailure(callTw("TwHttpCall", "GET", CLOSED_PORT_URL));
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.scenario);
        RawServer server(fault.response, fault.ending);
        for (const char* exportName : {"TwHttpCall", "TwHttpCallBase64", "TwHttpCallBytes"}) {
            expectCurlFailure(callTw(exportName, "GET", server.url()));
        }
    }
}

TEST(HostileServers, StatusLineThenGarbageAndCloseIsAnEmptyResponse) {
    // libcurl takes the status line and the end of the stream as the whole
    // response; the garbage line is never complete, so it is not a header.
    for (const std::string& zero : {std::string(), std::string(1, '\0')}) {
        RawServer server(STATUS_LINE + zero + garbageBytes());
        const CallResult result = callTw("TwHttpCallBytes", "GET", server.url());
        EXPECT_EQ(result.code, 200);
        EXPECT_EQ(result.headers, "{}");
        EXPECT_EQ(result.body, "");
    }
}

TEST(HostileServers, GarbageHeaderLinesStillGiveParsableHeaderJson) {
    const std::string garbage = garbageBytes();
    RawServer server(STATUS_LINE + garbage + "\r\n" + garbage.substr(100) +
                     "\r\nX-Ok: yes\r\nContent-Length: 2\r\n\r\nok");
    const CallResult result = callTw("TwHttpCall", "GET", server.url());
    ASSERT_EQ(result.code, 200) << result.body;
    EXPECT_EQ(result.body, "ok");
    const auto headers = parseHeaderJson(result.headers);
    EXPECT_EQ(headers.size(), 4u);
    EXPECT_EQ(headers.at(2), std::make_pair(std::string("X-Ok"), std::string("yes")));
}

TEST(HostileServers, ThousandsOfHeaderLinesOverHundredKibAreAllKept) {
    const int count = 4000;  // about 140 KiB of header lines
    RawServer server(httpResponse(200, "ok", {headerLines(count, 10).substr(0, headerLines(count, 10).size() - 2)}));
    const CallResult result = callTw("TwHttpCall", "GET", server.url());
    ASSERT_EQ(result.code, 200) << result.body;
    const auto headers = parseHeaderJson(result.headers);
    ASSERT_EQ(headers.size(), count + 2u);  // plus Content-Length and Connection
    EXPECT_EQ(headers[count - 1], std::make_pair("X-Line-" + std::to_string(count - 1), std::string(10, 'v')));
}

TEST(HostileServers, SixtyFourMibInTinyChunksArriveWhole) {
    constexpr std::size_t TOTAL = 64u << 20, CHUNK = 64;
    const auto pattern = [](std::size_t offset) { return static_cast<char>('a' + offset % 26); };
    HttpServer server(Tls::Off, [&](httplib::Server& routes) {
        routes.Get("/tiny-chunks", [&](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/octet-stream",
                                                  [&](std::size_t offset, httplib::DataSink& sink) {
                                                      char chunk[CHUNK];
                                                      for (std::size_t i = 0; i < CHUNK; ++i) {
                                                          chunk[i] = pattern(offset + i);
                                                      }
                                                      sink.write(chunk, CHUNK);
                                                      if (offset + CHUNK >= TOTAL) sink.done();
                                                      return true;
                                                  });
        });
    });
    const CallResult result = callTw("TwHttpCall", "GET", server.url("/tiny-chunks"));
    ASSERT_EQ(result.code, 200) << result.body.substr(0, 200);
    ASSERT_EQ(result.body.size(), TOTAL);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < TOTAL; ++i) mismatches += result.body[i] != pattern(i);
    EXPECT_EQ(mismatches, 0u);
}

TEST(HostileServers, UntrustedCertificatesAndUnreadableCaBundleFailVerification) {
    TempDir directory;
    const ScopedWorkingDirectory inDirectory(directory.path());
    directory.write("curl-ca-bundle.crt", readFile(tlsFiles().caCert));
    for (const Tls tls : {Tls::Expired, Tls::WrongHost}) {
        HttpServer server(tls);
        expectCurlFailure(callTw("TwHttpCall", "GET", server.url("/hi")));
        EXPECT_EQ(callCore(server.url("/hi"), "", "", "GET", "", "", 0, 0, 1).code, 200);  // verification off
    }
    HttpServer server(Tls::Valid);
    EXPECT_EQ(callTw("TwHttpCall", "GET", server.url("/hi")).code, 200);
    for (const std::string& bundle : {std::string("not a certificate\n"), std::string(4096, '\xff'),
                                      std::string("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n")}) {
        directory.write("curl-ca-bundle.crt", bundle);
        expectCurlFailure(callTw("TwHttpCall", "GET", server.url("/hi")));
    }
    EXPECT_EQ(server.log().size(), 1u);
    // Opening a FIFO would block until a writer comes; it fails as a
    // missing bundle does, and plain HTTP never reads the bundle.
    const HttpServer plain;
    const std::string bundle = directory.path() + "/curl-ca-bundle.crt";
    for (const bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "FIFO" : "directory");
        std::remove(bundle.c_str());
        ASSERT_EQ(fifo ? mkfifo(bundle.c_str(), 0600) : mkdir(bundle.c_str(), 0700), 0);
        const CallResult result = callTw("TwHttpCall", "GET", server.url("/hi"));
        expectFailureWithPrefix(result, CURL_FAILURE_PREFIX + "Problem with the SSL CA cert (path? access rights?)");
        EXPECT_EQ(callTw("TwHttpCall", "GET", plain.url("/hi")).code, 200);
        rmdir(bundle.c_str());
    }
}
