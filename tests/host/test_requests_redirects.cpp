// What each hop of a redirect carries: a 303 fetches the target with GET
// and no body; 301, 302, 307 and 308 repeat the verb and the whole body.
#include "support/Host.h"
#include "support/RequestChecks.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <string>

using namespace tw_test;

TEST(RedirectHops, SeeOtherFetchesWithGetOtherStatusesRepeatVerbAndBody) {
    const struct {
        int status;
        const char* method;
        const char* verb;  // of the first hop
        const char* nextVerb;
    } cases[] = {{303, "POST", "POST", "GET"},    {303, "PUT", "PUT", "GET"},    {303, "", "PUT", "GET"},
                 {301, "POST", "POST", "POST"},   {302, "POST", "POST", "POST"}, {302, "PUT", "PUT", "PUT"},
                 {307, "POST", "POST", "POST"},   {308, "POST", "POST", "POST"}, {307, "PUT", "PUT", "PUT"},
                 {308, "PATCH", "PATCH", "PATCH"}};
    for (const auto& c : cases) {
        for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{1} << 20}) {
            if (*c.method == '\0' && size == 0) continue;  // that is a GET
            SCOPED_TRACE(std::to_string(c.status) + " '" + c.method + "' " + std::to_string(size));
            HttpServer server;
            const std::string body = bodyWithZeros(size);
            const std::string url = server.url("/redirect-with/" + std::to_string(c.status));
            const CallResult result = callTw("TwHttpCallIn64", c.method, url, "", base64Encode(body));
            EXPECT_EQ(result.code, 200) << result.body.substr(0, 200);
            const auto hops = server.log().all();
            ASSERT_EQ(hops.size(), 2u);
            EXPECT_EQ(hops[0].method, c.verb);
            EXPECT_TRUE(hops[0].body == body);
            EXPECT_EQ(hops[0].header("Content-Length"), std::to_string(size));
            const bool keepsBody = c.status != 303;
            EXPECT_EQ(hops[1].method, c.nextVerb);
            EXPECT_TRUE(hops[1].body == (keepsBody ? body : ""));
            EXPECT_EQ(hops[1].header("Content-Length"), keepsBody ? std::to_string(size) : "");
        }
    }
}
