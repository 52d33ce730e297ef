#include "config/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

} // namespace
