#include "BodyEncodings.h"
#include "base64.h"
#include "support/ReferenceEncoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (const int value : values) text.push_back(static_cast<char>(value));
    return text;
}

std::string encoded(const std::string& body, int encoding, KernelChoice choice = KernelChoice::Fastest) {
    return std::string(encodeResponseBody(body, responseEncodingOfFlag(encoding), encoderKernels(choice)).get());
}

TEST(BodyEncoding, EveryEncodingOfKnownBodies) {
    struct Case {
        std::string body;
        std::vector<const char*> byEncoding;  // 0 raw .. 5 hex with commas
    };
    const std::vector<Case> cases = {
        {bytes({72, 105, 10}), {"Hi\n", "SGkK", "72 105 10", "72,105,10", "48 69 0A", "48,69,0A"}},
        {bytes({0}), {"", "AA==", "0", "0", "00", "00"}},
        {bytes({255}), {"\xFF", "/w==", "255", "255", "FF", "FF"}},
        {bytes({1, 171}), {"\x01\xAB", "Aas=", "1 171", "1,171", "01 AB", "01,AB"}},
        {bytes({0, 9, 10, 99, 100, 255}),
         {"", "AAkKY2T/", "0 9 10 99 100 255", "0,9,10,99,100,255", "00 09 0A 63 64 FF", "00,09,0A,63,64,FF"}},
        {bytes({'A', 0, 'B'}), {"A", "QQBC", "65 0 66", "65,0,66", "41 00 42", "41,00,42"}},
        {bytes({0xFB, 0xFF}), {"\xFB\xFF", "+/8=", "251 255", "251,255", "FB FF", "FB,FF"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.byEncoding[3]);
        for (int encoding = 0; encoding < 6; ++encoding) EXPECT_EQ(encoded(c.body, encoding), c.byEncoding[encoding]);
        for (const int other : {-1, 6, 7, 1000}) EXPECT_EQ(encoded(c.body, other), c.byEncoding[0]);
    }
}

TEST(BodyEncoding, EmptyBodyIsEmptyInEveryEncoding) {
    for (int encoding = -2; encoding < 8; ++encoding) EXPECT_EQ(encoded("", encoding), "") << encoding;
}

// Many lengths, so that every size of the last value meets the end of the
// text, and long ones, so that the vector loops and their scalar twin both
// see more than tails.
TEST(BodyEncoding, RandomBodiesMatchTheReferenceOnEveryPath) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 1; length < 64; ++length) lengths.push_back(length);
    lengths.push_back((1u << 20) + 1);
    for (const std::size_t length : lengths) {
        std::string body(length, '\0');
        for (auto& c : body) c = static_cast<char>(byte(random));
        for (const KernelChoice choice : {KernelChoice::Fastest, KernelChoice::Scalar}) {
            SCOPED_TRACE(testing::Message() << length << " bytes, " << encoderKernels(choice).name);
            EXPECT_EQ(base64_decode(encoded(body, 1, choice)), body);
            EXPECT_EQ(encoded(body, 2, choice), tw_test::referenceByteList(body, "%u", ' '));
            EXPECT_EQ(encoded(body, 3, choice), tw_test::referenceByteList(body, "%u", ','));
            EXPECT_EQ(encoded(body, 4, choice), tw_test::referenceByteList(body, "%02X", ' '));
            EXPECT_EQ(encoded(body, 5, choice), tw_test::referenceByteList(body, "%02X", ','));
            EXPECT_EQ(encoded(body, 0, choice), body.substr(0, body.find('\0')));
        }
    }
}

}  // namespace
