// Bodies libcurl has already sent and must send again: an authentication
// challenge that comes after the whole body, and a 307 redirect of a PUT.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <string>

using namespace tw_test;

namespace {

// Sizes below, within and beyond libcurl's buffers.
const std::size_t SIZES[] = {3, 70000, 1500000};

void expectEveryRequestCarried(const HttpServer& server, const std::string& payload, std::size_t count) {
    const auto requests = server.log().all();
    ASSERT_EQ(requests.size(), count);
    for (const auto& request : requests) {
        EXPECT_EQ(request.body.size(), payload.size()) << request.target;
        EXPECT_TRUE(request.body == payload) << request.target;
    }
}

}  // namespace

TEST(ResentBodies, ChallengeAfterTheWholeBodyIsAnsweredWithTheBodyAgain) {
    for (const std::size_t size : SIZES) {
        for (const char* method : {"PUT", "POST"}) {
            SCOPED_TRACE(std::to_string(size) + " " + method);
            HttpServer server;
            const std::string payload = bodyWithZeros(size);
            const CallResult result =
                callCore(server.url("/basic"), BASIC_USER, BASIC_PASSWORD, method, "", base64Encode(payload), 1, 1, 0);
            EXPECT_EQ(result.code, 200) << result.body.substr(0, 200);
            EXPECT_TRUE(result.body == base64Encode(payload));
            expectEveryRequestCarried(server, payload, 2);
            EXPECT_EQ(server.log().all().back().method, method);
        }
    }
}

TEST(ResentBodies, RedirectWithStatus307RepeatsThePutWithItsBody) {
    for (const std::size_t size : SIZES) {
        for (const char* method : {"PUT", ""}) {
            SCOPED_TRACE(std::to_string(size) + " '" + method + "'");
            HttpServer server;
            const std::string payload = bodyWithZeros(size);
            const CallResult result =
                callTw("TwHttpCallBase64In64", method, server.url("/redirect307"), "", base64Encode(payload));
            EXPECT_EQ(result.code, 200) << result.body.substr(0, 200);
            EXPECT_TRUE(result.body == base64Encode(payload));
            expectEveryRequestCarried(server, payload, 2);
            EXPECT_EQ(server.log().all().back().method, "PUT");
        }
    }
}
