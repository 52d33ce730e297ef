// Subtitle files: timing lines, blocks, limits and broken files.

#include "shared/live_params.h"
#include "media/subtitles.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

namespace {

class SubtitleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gSubtitles.count = 0;
        gLiveParams.subtitleKind = 0;
    }

    // Loads the text as a subtitle file; the count of entries, or -1.
    int Load(const std::string& text)
    {
        const std::string path = config.Root() + "/subs.srt";
        WriteFileBytes(path, text);
        return LoadSubtitleFile(path.c_str()) == 0 ? gSubtitles.count : -1;
    }

    const SubtitleEntry& Entry(int i) { return gSubtitles.entries[i]; }

    TempConfig config;
};

TEST_F(SubtitleTest, ABlockGivesItsTimesAndTheTextFromItsTimingLine)
{
    ASSERT_EQ(1, Load("12\r\n00:01:02,500 --> 00:01:04,000\r\nHello\r\n\r\n"));
    EXPECT_EQ(62500, Entry(0).startMs);
    EXPECT_EQ(64000, Entry(0).endMs);
    EXPECT_STREQ("00:01:02,500 --> 00:01:04,000\r\nHello\r\n", Entry(0).text);
    EXPECT_EQ(kSubtitleKindFile, gLiveParams.subtitleKind);

    ASSERT_EQ(3, Load("1\n0:00:01.5 --> 0:00:02.25\nDots\n\n\n\n"
                      "2\n1:02:03,004 --> 1:02:03,045 X1:10 X2:20 Y1:30 Y2:40\nPlaced\n\n"
                      "3\n00:00:09,000 --> 00:00:10,000\nLast"));
    EXPECT_EQ(1005, Entry(0).startMs);  // the milliseconds are a plain number
    EXPECT_EQ(2025, Entry(0).endMs);
    EXPECT_EQ(3723004, Entry(1).startMs);
    EXPECT_EQ(3723045, Entry(1).endMs);
    // The file's last byte is its terminator.
    EXPECT_STREQ("00:00:09,000 --> 00:00:10,000\nLas", Entry(2).text);
}

TEST_F(SubtitleTest, TimingLinesParseOrFailAsAWhole)
{
    int32_t start = -1;
    int32_t end = -1;
    const char placed[] = "00:00:01,000 --> 00:00:02,000  X1:1 X2:2 Y1:3 Y2:4\r\nnext";
    EXPECT_EQ(placed + 52, ParseSubtitleTiming(placed, start, end));
    EXPECT_EQ(1000, start);
    EXPECT_EQ(2000, end);
    const char bare[] = "00:00:03,000 --> 00:00:04,000";
    EXPECT_EQ(bare + sizeof bare - 1, ParseSubtitleTiming(bare, start, end));
    EXPECT_EQ(4000, end);
    for (const char* broken : {"00:00:01,000 --> 00:00:02", "00:00:01 --> 00:00:02,000", "hello",
                               "00:00:01;000 --> 00:00:02;000", "", "12"})
        EXPECT_EQ(nullptr, ParseSubtitleTiming(broken, start, end)) << broken;

    // Absurd hours wrap instead of overflowing.
    EXPECT_NE(nullptr, ParseSubtitleTiming("99999999:00:00,000 --> 2147483647:59:59,999", start, end));
    // Leading blanks of any length cost no more than one line's worth of work.
    const std::string blanks = std::string(100000, ' ') + "00:00:01,000 --> 00:00:02,000";
    EXPECT_EQ(nullptr, ParseSubtitleTiming(blanks.c_str(), start, end));
}

TEST_F(SubtitleTest, BlocksWithoutAGoodTimingLineAreSkipped)
{
    ASSERT_EQ(2, Load("1\n00:00:01 --> 00:00:02\nBroken\n\n"
                      "2\nnot a time\n00:00:03,000 --> 00:00:04,000\nLate\n\n"
                      "3\nno timing at all\n\n"
                      "4\n00:00:05,000 --> 00:00:06,000\nGood\n\n"));
    EXPECT_EQ(3000, Entry(0).startMs);
    EXPECT_STREQ("00:00:03,000 --> 00:00:04,000\nLate\n", Entry(0).text);
    EXPECT_EQ(5000, Entry(1).startMs);
    EXPECT_EQ(0, Entry(2).startMs);
}

TEST_F(SubtitleTest, TableAndTextLimits)
{
    std::string many;
    for (int i = 0; i <= kMaxSubtitleEntries; ++i)
        many += std::to_string(i + 1) + "\n00:00:00,000 --> 00:00:00," + std::to_string(i % 1000) + "\nx\n\n";
    ASSERT_EQ(kMaxSubtitleEntries, Load(many));
    EXPECT_EQ((kMaxSubtitleEntries - 1) % 1000, Entry(kMaxSubtitleEntries - 1).endMs);

    const std::string timing = "00:00:01,000 --> 00:00:02,000\n";
    ASSERT_EQ(1, Load("1\n" + timing + std::string(2000, 'w') + "\n\n"));
    EXPECT_EQ(timing + std::string(511 - timing.size(), 'w'), Entry(0).text);
}

TEST_F(SubtitleTest, UnreadableFilesLeaveTheTableAlone)
{
    gSubtitles.count = 7;
    EXPECT_EQ(-1, LoadSubtitleFile((config.Root() + "/missing.srt").c_str()));
    ASSERT_EQ(0, ::mkfifo((config.Root() + "/pipe.srt").c_str(), 0600));
    EXPECT_EQ(-1, LoadSubtitleFile((config.Root() + "/pipe.srt").c_str()));
    EXPECT_EQ(-1, LoadSubtitleFile(config.Root().c_str()));
    EXPECT_EQ(7, gSubtitles.count);
    EXPECT_EQ(0, gLiveParams.subtitleKind);

    EXPECT_EQ(0, Load(""));
    EXPECT_EQ(kSubtitleKindFile, gLiveParams.subtitleKind);
    EXPECT_EQ(1, Load(std::string("1\n00:00:01,000 --> 00:00:02,000\nzero\0byte\n\n\r\r\n\0\0", 48)));
    EXPECT_STREQ("00:00:01,000 --> 00:00:02,000\nzero", Entry(0).text);
}

} // namespace
