// TwHttpRequest with bodies in files: outputFile receives the final
// response's body only when the transfer succeeded, bodyFile is sent whole
// on every request libcurl makes.
#include "support/OptionRequests.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

using namespace tw_test;
using nlohmann::json;

namespace {

const std::string CHALLENGE = "Basic " + base64Encode("ann:pw");

// Hop bodies that must never reach the file, and the answers around them.
std::string respond(const ReceivedRequest& request, const std::string& bytes) {
    const std::string& target = request.target;
    if (target == "/bytes") return httpResponse(200, bytes);
    if (target == "/empty") return httpResponse(200, "");
    if (target == "/missing") return httpResponse(404, "not here");
    if (target == "/hop") return httpResponse(302, "hop body", {"Location: /final"});
    if (target == "/final") return httpResponse(200, "final");
    if (target == "/auth") {
        return request.header("Authorization") == CHALLENGE
                   ? httpResponse(200, "granted")
                   : httpResponse(401, "challenge body", {R"(WWW-Authenticate: Basic realm="x")"});
    }
    if (target == "/taken") return httpResponse(200, "taken");
    if (target == "/chunked") {
        static const char chunked[] =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
            "3\r\nab\0\r\n4\r\ncdef\r\n0\r\n\r\n";
        return std::string(chunked, sizeof chunked - 1);
    }
    // Announces more than it sends: libcurl fails the transfer.
    return "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\npartial";
}

}  // namespace

TEST(HttpRequestFiles, OutputFileHoldsTheFinalBodyOnlyWhenTheTransferSucceeded) {
    const std::string bytes = bodyWithZeros(300000);
    const RawServer server([&](const ReceivedRequest& request) {
        // This one turns the file's place into a folder while the body arrives.
        if (request.target == "/taken") std::filesystem::create_directory(request.header("X-Path"));
        return respond(request, bytes);
    });
    const struct {
        std::string path;
        json extra;
        int code;                            // 0: the call fails
        std::optional<std::string> written;  // absent: the file is left as it was
        std::string failure;                 // a prefix when it is libcurl's
    } cases[] = {
        {"/bytes", json::object(), 200, bytes, ""},
        {"/chunked", json::object(), 200, std::string("ab\0cdef", 7), ""},
        {"/empty", json::object(), 200, "", ""},
        {"/missing", json::object(), 404, "not here", ""},
        {"/hop", json::object(), 200, "final", ""},
        {"/auth", {{"username", "ann"}, {"password", "pw"}}, 200, "granted", ""},
        {"/short", json::object(), 0, std::nullopt, CURL_FAILURE_PREFIX},
        {"/bytes", {{"maxBodyBytes", 1000}}, 0, std::nullopt, "The response body exceeds maxBodyBytes."},
        {"/bytes", {{"responseEncoding", "raw"}}, 200, bytes, ""},
    };
    for (const auto& c : cases) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(c.path + " " + c.extra.dump() + (existing ? " over a file" : " fresh"));
            const TempDir directory;
            const std::string path = directory.path() + "/download.bin";
            if (existing) directory.write("download.bin", "old");
            json options = c.extra;
            options["url"] = server.url(c.path);
            options["outputFile"] = path;
            const CallResult result = callOptions(options);
            EXPECT_EQ(result.code, c.code) << result.body;
            if (c.code != 0) {
                EXPECT_EQ(result.body, "");
                EXPECT_NE(result.headers, "");
            } else if (c.failure == CURL_FAILURE_PREFIX) {
                expectCurlFailure(result);
            } else {
                expectFailure(result, c.failure);
            }
            const bool file = c.written || existing;
            EXPECT_EQ(directory.names(), file ? std::vector<std::string>{"download.bin"} : std::vector<std::string>{});
            if (file) {
                EXPECT_TRUE(readFile(path) == c.written.value_or("old"));
            }
        }
    }
    // The rename fails at the end: nothing is left but what took the place.
    const TempDir directory;
    const std::string path = directory.path() + "/download.bin";
    const CallResult result =
        callOptions(json{{"url", server.url("/taken")}, {"outputFile", path}, {"headers", {{"X-Path", path}}}});
    expectFailure(result, OUTPUT_FILE_NOT_WRITTEN);
    EXPECT_EQ(directory.names(), std::vector<std::string>{"download.bin"});
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(HttpRequestFiles, BodyFileIsSentWholeOnEveryRequest) {
    std::string bodyPath;  // the routes below change the file between the hops
    const HttpServer server(Tls::Off, [&](httplib::Server& routes) {
        routes.Put("/shrink307", [&](const httplib::Request&, httplib::Response& response) {
            std::filesystem::resize_file(bodyPath, 10);
            response.status = 307;
            response.set_header("Location", "/echo");
        });
        routes.Put("/grow307", [&](const httplib::Request&, httplib::Response& response) {
            std::ofstream(bodyPath, std::ios::binary | std::ios::app) << "more";
            response.status = 307;
            response.set_header("Location", "/echo");
        });
    });
    const struct {
        const char* method;
        const char* path;
        std::size_t requests;  // each carrying the whole body; 0: the call fails
        std::string sentMethod;
    } cases[] = {
        {"PUT", "/echo", 1, "PUT"},        {"", "/echo", 1, "PUT"},       {"POST", "/echo", 1, "POST"},
        {"PUT", "/redirect307", 2, "PUT"}, {"POST", "/basic", 2, "POST"}, {"PUT", "/grow307", 2, "PUT"},
        {"PUT", "/shrink307", 0, ""},
    };
    for (const std::size_t size : {std::size_t{0}, std::size_t{3}, std::size_t{70000}, std::size_t{1500000}}) {
        for (const auto& c : cases) {
            if (c.requests == 0 && size <= 10) continue;   // nothing to shrink
            if (*c.method == '\0' && size == 0) continue;  // a GET without a body
            SCOPED_TRACE(std::to_string(size) + " " + c.method + " " + c.path);
            const TempDir directory;
            const std::string payload = bodyWithZeros(size);
            bodyPath = directory.write("body.bin", payload);
            const std::size_t before = server.log().size();
            const CallResult result = callOptions(json{{"url", server.url(c.path)},
                                                       {"method", c.method},
                                                       {"bodyFile", bodyPath},
                                                       {"username", BASIC_USER},
                                                       {"password", BASIC_PASSWORD},
                                                       {"responseEncoding", "base64"}});
            const auto requests = server.log().all();
            if (c.requests == 0) {
                // The announced length can no longer be kept.
                expectCurlFailureWith(result, "Operation was aborted by an application callback");
                continue;
            }
            EXPECT_EQ(result.code, 200) << result.body.substr(0, 200);
            EXPECT_TRUE(result.body == base64Encode(payload));
            ASSERT_EQ(requests.size() - before, c.requests);
            for (std::size_t i = before; i < requests.size(); ++i) {
                EXPECT_EQ(requests[i].method, c.sentMethod);
                EXPECT_EQ(requests[i].header("Content-Length"), std::to_string(size));
                EXPECT_TRUE(requests[i].body == payload) << requests[i].target;
            }
        }
    }
}
