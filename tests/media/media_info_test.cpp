// File descriptions of real clips made by the ffmpeg tool, the companion
// subtitle file, and files that are no media at all.

#include "media/media_info.h"
#include "media/utf8.h"
#include "server/session_state.h"
#include "support/media_files.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const std::string kLongAlbum = [] {
    std::string album;
    for (int i = 0; i < 40; ++i)
        album += "\xc3\xa9";  // é, two bytes
    return album;
}();

class MediaInfoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        temp = std::make_unique<TempConfig>();
        const std::string picture = "testsrc=size=64x48:rate=25:duration=1";
        const std::string tone = "sine=frequency=440:duration=1";
        made = MakeClip({"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", tone, "-c:v", "mpeg4", "-c:a", "aac",
                         "-b:a", "32k", "-metadata", "artist=Ann Artist", "-metadata", "album=" + kLongAlbum,
                         "-metadata", "genre=Jazz", Path("av.mp4")}) &&
               MakeClip({"-f", "lavfi", "-i", tone, "-c:a", "libmp3lame", "-b:a", "32k", "-metadata", "artist=Solo",
                         "-metadata", "album=Tones", "-metadata", "genre=Test", Path("tone.mp3")}) &&
               MakeClip({"-f", "lavfi", "-i", picture, "-c:v", "mpeg4", Path("clip.avi")}) &&
               MakeClip({"-f", "lavfi", "-i", picture, "-f", "lavfi", "-i", tone, "-map", "0:v", "-map", "1:a",
                         "-map", "1:a", "-map", "1:a", "-map", "1:a", "-map", "1:a", "-c:v", "mpeg4", "-c:a",
                         "libmp3lame", Path("six.mkv")}) &&
               MakeClip({"-f", "lavfi", "-i", "color=c=black:size=16x16:rate=100/372345", "-frames:v", "1", "-c:v",
                         "mpeg4", Path("long.mkv")});
        WriteFileBytes(Path("clip.srt"), "1\n00:00:00,000 --> 00:00:01,000\nHi\n");
        made = made && MakeClip({"-i", Path("clip.avi"), "-i", Path("clip.srt"), "-map", "0", "-map", "1", "-c:v",
                                 "copy", "-c:s", "ass", Path("styled.mkv")});
        for (const char* name : {"tone.srt", "six.srt"})
            WriteFileBytes(Path(name), "1\n00:00:00,000 --> 00:00:01,000\nHi\n");
    }
    static void TearDownTestSuite() { temp.reset(); }

    void SetUp() override { ASSERT_TRUE(made) << "the ffmpeg tool could not make the test clips"; }

    static std::string Path(const std::string& name) { return temp->Root() + "/" + name; }

    static uint32_t SizeOf(const std::string& name) { return static_cast<uint32_t>(fs::file_size(Path(name))); }

    static void SetStaleSubtitlePath() { std::snprintf(gMediaSelection.subtitleFilePath, 288, "/stale.srt"); }

    static std::unique_ptr<TempConfig> temp;
    static bool made;
    MediaInfoRecord record;
};

std::unique_ptr<TempConfig> MediaInfoTest::temp;
bool MediaInfoTest::made = false;

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

TEST_F(MediaInfoTest, VideoWithSoundAndTags)
{
    SetStaleSubtitlePath();
    ASSERT_EQ(0, GetMediaInfo(Path("av.mp4").c_str(), record));
    EXPECT_EQ(SizeOf("av.mp4"), record.fileSize);
    EXPECT_EQ(0, record.hours);
    EXPECT_EQ(0, record.minutes);
    EXPECT_EQ(1, record.seconds);
    EXPECT_LT(record.hundredths, 10);
    EXPECT_GT(record.bitRateKbps, 0);
    ASSERT_EQ(2, record.streamCount);
    EXPECT_TRUE(StartsWith(record.streams[0].text, "Video: mpeg4")) << record.streams[0].text;
    EXPECT_FLOAT_EQ(25.0f, record.streams[0].frameRate);
    EXPECT_TRUE(StartsWith(record.streams[1].text, "Audio: aac")) << record.streams[1].text;
    EXPECT_EQ(0.0f, record.streams[1].frameRate);
    EXPECT_STREQ("Ann Artist", record.artist);
    // Cut to the field, before a character that would not fit whole.
    EXPECT_EQ(kLongAlbum.substr(0, 62), record.album);
    EXPECT_STREQ("Jazz", record.genre);
    EXPECT_STREQ("", gMediaSelection.subtitleFilePath);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    for (size_t i = offsetof(MediaInfoRecord, streams) + 2 * sizeof(StreamDescription); i < 424; ++i)
        ASSERT_EQ(0, bytes[i]) << i;
}

TEST_F(MediaInfoTest, SoundOnlyGetsNoCompanionSubtitles)
{
    SetStaleSubtitlePath();
    ASSERT_EQ(0, GetMediaInfo(Path("tone.mp3").c_str(), record));
    EXPECT_EQ(SizeOf("tone.mp3"), record.fileSize);
    ASSERT_EQ(1, record.streamCount);
    EXPECT_TRUE(StartsWith(record.streams[0].text, "Audio: mp3")) << record.streams[0].text;
    EXPECT_EQ(0.0f, record.streams[0].frameRate);
    EXPECT_STREQ("Solo", record.artist);
    EXPECT_STREQ("Tones", record.album);
    EXPECT_STREQ("Test", record.genre);
    EXPECT_STREQ("", gMediaSelection.subtitleFilePath);
}

TEST_F(MediaInfoTest, VideoWithACompanionSrtFile)
{
    ASSERT_EQ(0, GetMediaInfo(Path("clip.avi").c_str(), record));
    ASSERT_EQ(2, record.streamCount);
    EXPECT_TRUE(StartsWith(record.streams[0].text, "Video: mpeg4"));
    const std::string expected = "Subtitle: srt: " + Path("clip.srt");
    EXPECT_EQ(expected.substr(0, 63), record.streams[1].text);
    EXPECT_EQ(0.0f, record.streams[1].frameRate);
    EXPECT_EQ(Path("clip.srt"), gMediaSelection.subtitleFilePath);

    // Six streams leave no room for it.
    ASSERT_EQ(0, GetMediaInfo(Path("six.mkv").c_str(), record));
    EXPECT_EQ(6, record.streamCount);
    EXPECT_TRUE(StartsWith(record.streams[5].text, "Audio: mp3")) << record.streams[5].text;
    EXPECT_STREQ("", gMediaSelection.subtitleFilePath);

    // A folder named like the companion is not one.
    fs::rename(Path("clip.srt"), Path("clip.srt.bak"));
    fs::create_directory(Path("clip.srt"));
    ASSERT_EQ(0, GetMediaInfo(Path("clip.avi").c_str(), record));
    EXPECT_EQ(1, record.streamCount);
    EXPECT_STREQ("", gMediaSelection.subtitleFilePath);
    fs::remove(Path("clip.srt"));
    fs::rename(Path("clip.srt.bak"), Path("clip.srt"));
}

TEST_F(MediaInfoTest, SsaSubtitlesAreCalledSsaAndDurationIsTruncated)
{
    ASSERT_EQ(0, GetMediaInfo(Path("styled.mkv").c_str(), record));
    ASSERT_EQ(2, record.streamCount);
    EXPECT_TRUE(StartsWith(record.streams[1].text, "Subtitle: ssa")) << record.streams[1].text;

    // One frame shown for 3,723.455 seconds.
    ASSERT_EQ(0, GetMediaInfo(Path("long.mkv").c_str(), record));
    EXPECT_EQ(1, record.hours);
    EXPECT_EQ(2, record.minutes);
    EXPECT_EQ(3, record.seconds);
    EXPECT_EQ(45, record.hundredths);
}

TEST_F(MediaInfoTest, FilesThatAreNoMediaGiveAtMostTheirSize)
{
    const std::string clip = ReadFileBytes(Path("av.mp4"));
    WriteFileBytes(Path("cut.mp4"), clip.substr(0, 2000));
    std::mt19937 random(7);
    std::string noise(4096, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(random());
    WriteFileBytes(Path("noise.avi"), noise);
    WriteFileBytes(Path("empty.avi"), "");
    ASSERT_EQ(0, ::mkfifo(Path("pipe.avi").c_str(), 0600));
    fs::create_directory(Path("folder.avi"));

    for (const char* name : {"cut.mp4", "noise.avi"}) {
        SetStaleSubtitlePath();
        const int result = GetMediaInfo(Path(name).c_str(), record);
        EXPECT_TRUE(result == 0 || result == -1) << name;
        EXPECT_EQ(SizeOf(name), record.fileSize) << name;
        EXPECT_LE(record.streamCount, kMediaInfoStreams) << name;
        for (const StreamDescription& stream : record.streams)
            EXPECT_TRUE(IsValidUtf8(stream.text, strnlen(stream.text, sizeof stream.text))) << name;
        EXPECT_STREQ("", gMediaSelection.subtitleFilePath);
    }
    for (const char* name : {"empty.avi", "pipe.avi", "folder.avi", "missing.avi"}) {
        SetStaleSubtitlePath();
        EXPECT_EQ(-1, GetMediaInfo(Path(name).c_str(), record)) << name;
        EXPECT_EQ(0, record.streamCount) << name;
        EXPECT_STREQ("", gMediaSelection.subtitleFilePath);
    }
    EXPECT_EQ(-1, GetMediaInfo("", record));
}

} // namespace
