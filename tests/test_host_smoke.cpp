#include "support/Host.h"

#include <gtest/gtest.h>

TEST(HostSmoke, ClosedPortFailsWithMessageAndEmptyHeaders) {
    const auto result = tw_test::callTw("TwHttpCall", "GET", "http://127.0.0.1:1/");
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.headers, "");
    EXPECT_EQ(result.body, "curl_easy_perform() failed: Couldn't connect to server");
}
