// HEAD responses announce a Content-Length but carry no body; the call must
// not wait for one.
#include "support/Host.h"
#include "support/Servers.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

TEST(HeadRequests, CompleteWithHeadersAndEmptyBody) {
    tw_test::HttpServer server;
    for (const char* exportName : {"TwHttpCall", "TwHttpCallBase64", "TwHttpCallBytes"}) {
        const auto result = tw_test::callTw(exportName, "HEAD", server.url("/hi"));
        EXPECT_EQ(result.code, 200) << exportName << ": " << result.body;
        EXPECT_EQ(result.body, "") << exportName;
        EXPECT_EQ(nlohmann::json::parse(result.headers).value("Content-Length", ""), "3") << exportName;
    }
}

TEST(HeadRequests, LaterGetOnTheSameServerStillGetsTheBody) {
    tw_test::HttpServer server;
    ASSERT_EQ(tw_test::callTw("TwHttpCall", "HEAD", server.url("/hi")).code, 200);
    const auto result = tw_test::callTw("TwHttpCall", "GET", server.url("/hi"));
    EXPECT_EQ(result.code, 200);
    EXPECT_EQ(result.body, "Hi\n");
}

}  // namespace
