#include "server/catalogue.h"

#include <gtest/gtest.h>

#include <vector>
#include <zlib.h>

namespace {

std::vector<uint8_t> Inflate(const uint8_t* data, size_t length, size_t expected)
{
    std::vector<uint8_t> out(expected + 16);
    uLongf outLength = out.size();
    EXPECT_EQ(Z_OK, uncompress(out.data(), &outLength, data, length));
    out.resize(outLength);
    return out;
}

TEST(CompressBuffer, OutputInflatesBackToTheInput)
{
    std::vector<uint8_t> input(100000);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>((i * 7) % 251);
    std::vector<uint8_t> output(input.size());
    size_t outputSize = output.size();
    ASSERT_EQ(0, CompressBuffer(input.data(), input.size(), output.data(), outputSize, 9));
    ASSERT_GT(outputSize, 0u);
    ASSERT_LT(outputSize, input.size());
    EXPECT_EQ(input, Inflate(output.data(), outputSize, input.size()));
}

// A stream cut short by a small output is no success: the caller sends the
// list as it is instead.
TEST(CompressBuffer, TooSmallAnOutputFails)
{
    std::vector<uint8_t> input(4096);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    std::vector<uint8_t> output(64);
    size_t outputSize = output.size();
    EXPECT_EQ(-1, CompressBuffer(input.data(), input.size(), output.data(), outputSize, 9));
    EXPECT_EQ(0u, outputSize);
}

TEST(CompressBuffer, BadLevelFails)
{
    uint8_t input[4] = {1, 2, 3, 4};
    uint8_t output[64];
    size_t outputSize = sizeof output;
    EXPECT_EQ(-1, CompressBuffer(input, sizeof input, output, outputSize, 42));
    EXPECT_EQ(0u, outputSize);
}

} // namespace
