#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

TEST(ScrambleText, TwiceGivesTheTextBack)
{
    const char plain[] = "viewer@example.org";
    char stored[128];
    char back[128];
    ScrambleText(plain, std::strlen(plain), stored, sizeof stored);
    EXPECT_EQ(static_cast<char>('v' ^ 0x9E), stored[0]);
    ScrambleText(stored, std::strlen(stored), back, sizeof back);
    EXPECT_STREQ(plain, back);
}

TEST(ScrambleText, RespectsTheDestinationSize)
{
    char destination[5];
    std::memset(destination, 'X', sizeof destination);
    ScrambleText("abcdefgh", 8, destination, sizeof destination);
    EXPECT_EQ(0, destination[4]);
    EXPECT_EQ(4u, std::strlen(destination));
    char untouched = 'Z';
    ScrambleText("abc", 3, &untouched, 0);
    EXPECT_EQ('Z', untouched);
}

TEST(ScrambleText, StoredFieldsRoundTrip)
{
    char field[32];
    StoreScrambled(field, sizeof field, "a-user-name-longer-than-the-field-allows");
    EXPECT_EQ(31u, strnlen(field, sizeof field));
    EXPECT_EQ("a-user-name-longer-than-the-fie", ReadScrambled(field, sizeof field));
    StoreScrambled(field, sizeof field, "tv");
    EXPECT_EQ("tv", ReadScrambled(field, sizeof field));
}

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

TEST(CompressBuffer, TooSmallAnOutputGivesATruncatedStream)
{
    std::vector<uint8_t> input(4096);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    std::vector<uint8_t> output(64);
    size_t outputSize = output.size();
    ASSERT_EQ(0, CompressBuffer(input.data(), input.size(), output.data(), outputSize, 9));
    EXPECT_EQ(64u, outputSize);
    std::vector<uint8_t> out(input.size());
    uLongf outLength = out.size();
    EXPECT_NE(Z_OK, uncompress(out.data(), &outLength, output.data(), outputSize));
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
