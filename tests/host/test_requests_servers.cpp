// The loopback servers themselves, checked through the library: if these
// fail, every request test after them is meaningless.
#include "support/Host.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

using namespace tw_test;

TEST(LoopbackServers, HttpAndHttpsAnswerAndRecord) {
    HttpServer http;
    HttpServer https(Tls::Valid);
    const auto plain = callCore(http.url("/echo"), "", "", "PUT", "", "abc", 0, 0, 0);
    EXPECT_EQ(plain.code, 200) << plain.body;
    EXPECT_EQ(plain.body, "abc");
    const auto secure = callCore(https.url("/hi"), "", "", "GET", "", "", 0, 0, 1);
    EXPECT_EQ(secure.code, 200) << secure.body;
    EXPECT_EQ(secure.body, "Hi\n");
    ASSERT_EQ(http.log().size(), 1u);
    EXPECT_EQ(http.log().all()[0].method, "PUT");
    EXPECT_EQ(http.log().all()[0].body, "abc");
}

TEST(LoopbackServers, RawServerRecordsTheHeadAsSent) {
    RawServer raw(httpResponse(200, "ok", {"X-A: 1"}));
    const auto result = callCore(raw.url("/p?q=1"), "", "", "POST", R"({"B":"2","A":"1"})", "xyz", 0, 0, 0);
    EXPECT_EQ(result.code, 200) << result.body;
    EXPECT_EQ(result.body, "ok");
    ASSERT_EQ(raw.log().size(), 1u);
    const auto request = raw.log().all()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/p?q=1");
    EXPECT_EQ(request.body, "xyz");
    EXPECT_NE(request.head.find("\r\nA: 1\r\nB: 2\r\n"), std::string::npos) << request.head;
}

TEST(LoopbackServers, TestCaVerifiesOnlyTheValidServerCertificate) {
    TempDir dir;
    dir.write("curl-ca-bundle.crt", readFile(tlsFiles().caCert));
    const ScopedWorkingDirectory cwd(dir.path());
    HttpServer valid(Tls::Valid);
    HttpServer expired(Tls::Expired);
    HttpServer wrongHost(Tls::WrongHost);
    EXPECT_EQ(callTw("TwHttpCall", "GET", valid.url("/hi")).code, 200);
    EXPECT_EQ(callTw("TwHttpCall", "GET", expired.url("/hi")).code, 0);
    EXPECT_EQ(callTw("TwHttpCall", "GET", wrongHost.url("/hi")).code, 0);
}
