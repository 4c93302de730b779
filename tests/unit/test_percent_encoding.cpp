#include "StringHelper.h"
#include "PercentEncoding.h"
#include "support/ReferenceEncoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Every set, every byte value (zero included) and lengths from short tails
// to a mebibyte, through the vector loops and through their scalar twin.
TEST(PercentEncoding, RandomTextsMatchTheReferenceOnEveryPath) {
    const std::vector<std::string> sets = {
        StringHelper::ALLOWED_CHARACTERS_JS,  StringHelper::ALLOWED_CHARACTERS_INTER,
        StringHelper::ALLOWED_CHARACTERS_LAX, StringHelper::ALLOWED_CHARACTERS_VERYLAX,
        std::string("\0\x7F\x80\xFF z", 6),   "",
    };
    std::mt19937 random(5);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length < 70; ++length) lengths.push_back(length);
    lengths.push_back((1u << 20) + 7);
    for (const std::size_t length : lengths) {
        std::string text(length, '\0');
        for (auto& c : text) c = static_cast<char>(byte(random));
        for (const std::string& set : sets) {
            const std::string expected = tw_test::referencePercentEncode(text, set);
            for (const KernelChoice choice : {KernelChoice::Fastest, KernelChoice::Scalar}) {
                SCOPED_TRACE(testing::Message() << length << " bytes, " << encoderKernels(choice).name);
                EXPECT_TRUE(percentEncode(text, set.data(), static_cast<int>(set.size()), encoderKernels(choice)) ==
                            expected);
            }
        }
    }
}

}  // namespace
