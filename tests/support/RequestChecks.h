// Small checks shared by the request tests.
#pragma once

#include "support/Host.h"
#include "support/Messages.h"
#include "support/Servers.h"

#include <gtest/gtest.h>

#include <string>

namespace tw_test {

// Nothing listens there; a connection attempt fails at once.
inline constexpr const char* CLOSED_PORT_URL = "http://127.0.0.1:1/";

// The raw server handles connections one after another, so once a later
// request of our own has been answered, any earlier one would be logged.
inline void expectNothingArrived(const RawServer& server) {
    EXPECT_NE(callTw("TwHttpCall", "GET", server.url("/sentinel")).code, 0);
    const auto requests = server.log().all();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.size(), 1u) << "first: " << requests.front().head;
    EXPECT_EQ(requests.back().target, "/sentinel");
}

// A request body of `size` bytes with zero bytes among letters, so that
// a body cut at a zero byte or shifted by one shows.
inline std::string bodyWithZeros(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 5 == 0 ? 0 : 'a' + i % 26);
    return bytes;
}

inline void expectFailure(const CallResult& result, const std::string& message) {
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.headers, "");
    EXPECT_EQ(result.body, message);
}

// A failure reported with `prefix` and a description after it.
inline void expectFailureWithPrefix(const CallResult& result, const std::string& prefix) {
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.headers, "");
    EXPECT_TRUE(isMessageWithPrefix(result.body, prefix)) << result.body;
}

// libcurl failed the transfer; its own wording is not part of the contract.
inline void expectCurlFailure(const CallResult& result) {
    expectFailureWithPrefix(result, CURL_FAILURE_PREFIX);
}

}  // namespace tw_test
