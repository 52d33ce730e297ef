#include "config/settings.h"
#include "platform/paths.h"
#include "platform/recording_sink.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kReadError[] = "Error during reading the channel configuration.";

int32_t IntAt(const void* base, size_t offset)
{
    int32_t value;
    std::memcpy(&value, static_cast<const uint8_t*>(base) + offset, sizeof value);
    return value;
}

void PutInt(std::string& bytes, size_t offset, int32_t value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

void SealChecksum(std::string& image)
{
    PutInt(image, 0, SettingsChecksum(reinterpret_cast<const uint8_t*>(image.data()) + 4, image.size() - 4));
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageSink(&sink);
        SetDefaultSettings();
    }
    void TearDown() override { SetMessageSink(nullptr); }

    std::string SavedImage()
    {
        EXPECT_EQ(0, SaveSettings());
        return ReadFileBytes(config.SettingsFile());
    }

    TempConfig config;
    RecordingMessageSink sink;
};

TEST_F(SettingsTest, DefaultsSitAtTheirFileOffsets)
{
    const uint8_t* block = reinterpret_cast<const uint8_t*>(&gSettings);
    EXPECT_EQ(1000, IntAt(block, 4));
    EXPECT_EQ(7000, IntAt(block, 44));
    EXPECT_STREQ(VideosDir().c_str(), reinterpret_cast<const char*>(block + 48));
    EXPECT_EQ(1, block[516]);
    EXPECT_EQ(25, block[518]);
    EXPECT_EQ(500000, IntAt(block, 520));
    EXPECT_EQ(44100, IntAt(block, 524));
    EXPECT_EQ(16, IntAt(block, 528));
    EXPECT_EQ(64000, IntAt(block, 532));
    EXPECT_EQ(110, IntAt(block, 18484));
    EXPECT_EQ(1, block[18484 + 23]);  // character set
    EXPECT_EQ(4, block[18484 + 26]);  // quality
    EXPECT_STREQ("Arial", reinterpret_cast<const char*>(block + 18484 + 28));
    for (int index : {0, 999}) {
        const uint8_t* channel = block + 18560 + 620 * index;
        EXPECT_EQ(255, IntAt(channel, 40));
        EXPECT_EQ(255, IntAt(channel, 44));
        EXPECT_EQ(0xFFFF, IntAt(channel, 48));
        for (size_t offset : {52, 56, 60, 64, 68})
            EXPECT_EQ(-1, IntAt(channel, offset)) << offset;
        EXPECT_EQ(0, IntAt(channel, 72));
        EXPECT_EQ(1, IntAt(channel, 76));
        EXPECT_EQ(1, channel[84]);
        EXPECT_EQ(15, channel[86]);
        EXPECT_EQ(100000, IntAt(channel, 88));
        EXPECT_EQ(44100, IntAt(channel, 92));
        EXPECT_EQ(32000, IntAt(channel, 100));
    }
}

TEST_F(SettingsTest, SaveAndLoadReproduceTheBlockByteForByte)
{
    gSettings.record.basePort = 7100;
    gSettings.record.reserved515 = 0x7F;
    gSettings.record.recordingDialogValue = -5;
    std::strcpy(gSettings.channels[998].description, "News \xE9");
    gSettings.channels[3].enabled = 1;
    const std::string image = SavedImage();

    ASSERT_EQ(kSettingsFileSize, image.size());
    ASSERT_EQ(638564u, image.size());
    EXPECT_EQ(2, IntAt(image.data(), 4));
    EXPECT_EQ(SettingsChecksum(reinterpret_cast<const uint8_t*>(image.data()) + 4, image.size() - 4),
              IntAt(image.data(), 0));

    SettingsBlock saved;
    std::memcpy(&saved, &gSettings, sizeof saved);
    SetDefaultSettings();
    ASSERT_EQ(0, LoadSettings());
    EXPECT_EQ(0, std::memcmp(&saved, &gSettings, sizeof saved));
    EXPECT_TRUE(sink.Entries().empty());
}

// The account's password is only scrambled: the file is the user's alone,
// and a file left readable by an older version is tightened.
TEST_F(SettingsTest, TheFileAndItsFolderArePrivate)
{
    ASSERT_EQ(0, SaveSettings());
    ::chmod(config.SettingsFile().c_str(), 0644);
    ::chmod((config.ConfigHome() + "/orvandel").c_str(), 0755);
    ASSERT_EQ(0, SaveSettings());
    struct stat file {};
    struct stat folder {};
    ASSERT_EQ(0, ::stat(config.SettingsFile().c_str(), &file));
    ASSERT_EQ(0, ::stat((config.ConfigHome() + "/orvandel").c_str(), &folder));
    EXPECT_EQ(0600u, file.st_mode & 0777);
    EXPECT_EQ(0700u, folder.st_mode & 0777);
}

TEST_F(SettingsTest, ChecksumCountsHighBytesAsNegative)
{
    const uint8_t bytes[] = {0x80, 0xFF, 0x01, 0x7F};
    EXPECT_EQ(-128 - 1 + 1 + 127, SettingsChecksum(bytes, sizeof bytes));
    std::string image = SavedImage();
    image[5000] = static_cast<char>(0xF0);
    SealChecksum(image);
    WriteFileBytes(config.SettingsFile(), image);
    EXPECT_EQ(0, LoadSettings());
}

TEST_F(SettingsTest, ChangedByteIsRefusedAndDefaultsStay)
{
    gSettings.record.basePort = 9000;
    std::string image = SavedImage();
    image[100] ^= 0x01;
    WriteFileBytes(config.SettingsFile(), image);
    SetDefaultSettings();
    EXPECT_EQ(-1, LoadSettings());
    EXPECT_EQ(7000, gSettings.record.basePort);
    ASSERT_EQ(1u, sink.Entries().size());
    EXPECT_EQ(kReadError, sink.Entries()[0].text);
    EXPECT_FALSE(sink.Entries()[0].blocking);
}

TEST_F(SettingsTest, VersionOneFileIsAppliedFromItsOwnLayout)
{
    std::string image(4 + 18556 + 620 * 1000, '\0');
    PutInt(image, 4, 1);
    PutInt(image, 4 + 44, 7300);
    const size_t channel5 = 18560 + 620 * 5;  // 4 + 18556 + 620 * i
    PutInt(image, channel5, 1);
    std::memcpy(image.data() + channel5 + 8, "Old five", 9);
    SealChecksum(image);
    WriteFileBytes(config.SettingsFile(), image);

    gSettings.record.listenAddress = 0x7F000001;
    ASSERT_EQ(0, LoadSettings());
    EXPECT_EQ(1, gSettings.record.version);
    EXPECT_EQ(7300, gSettings.record.basePort);
    EXPECT_EQ(1, gSettings.channels[5].enabled);
    EXPECT_STREQ("Old five", gSettings.channels[5].description);
    EXPECT_EQ(0x7F000001u, gSettings.record.listenAddress);
}

TEST_F(SettingsTest, UnknownVersionAndOverlongFilesAreIgnoredSilently)
{
    std::string image = SavedImage();
    PutInt(image, 4, 3);
    PutInt(image, 48, 0x41414141);
    SealChecksum(image);
    WriteFileBytes(config.SettingsFile(), image);
    SetDefaultSettings();
    EXPECT_EQ(0, LoadSettings());
    EXPECT_EQ(0, gSettings.record.version);
    EXPECT_EQ(VideosDir(), gSettings.record.recordingFolder);

    std::string versionZero(4 + 18848 + 620 * 1000, '\0');
    PutInt(versionZero, 48, 9999);
    SealChecksum(versionZero);
    WriteFileBytes(config.SettingsFile(), versionZero);
    EXPECT_EQ(0, LoadSettings());
    EXPECT_EQ(7000, gSettings.record.basePort);
    EXPECT_TRUE(sink.Entries().empty());
}

TEST_F(SettingsTest, ShortFilesAreRefusedWithoutReadingPastTheirEnd)
{
    std::string versionTwoHead(100, '\0');
    PutInt(versionTwoHead, 4, 2);
    SealChecksum(versionTwoHead);
    std::string truncated = SavedImage().substr(0, 600000);
    SealChecksum(truncated);
    for (const std::string& bytes : {std::string(), std::string("\x01\x02\x03", 3), std::string(6, '\0'),
                                     versionTwoHead, truncated}) {
        sink.Clear();
        WriteFileBytes(config.SettingsFile(), bytes);
        SetDefaultSettings();
        EXPECT_EQ(-1, LoadSettings()) << bytes.size();
        EXPECT_TRUE(sink.Saw(kReadError)) << bytes.size();
        EXPECT_EQ(7000, gSettings.record.basePort);
    }
}

TEST_F(SettingsTest, MissingFileKeepsDefaultsSilently)
{
    EXPECT_EQ(-1, LoadSettings());
    EXPECT_TRUE(sink.Entries().empty());
}

// A save cut short, by a full disk or by the process being killed while it
// writes, must leave the settings that were there readable.
TEST_F(SettingsTest, InterruptedSaveLeavesTheOldSettings)
{
    gSettings.record.basePort = 7500;
    ASSERT_EQ(0, SaveSettings());
    for (bool killed : {false, true}) {
        pid_t child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            if (!killed)
                signal(SIGXFSZ, SIG_IGN);
            rlimit smallFiles{200000, 200000};
            setrlimit(RLIMIT_FSIZE, &smallFiles);
            gSettings.record.basePort = 8800;
            _exit(SaveSettings() == -1 ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (killed)
            EXPECT_TRUE(WIFSIGNALED(status));
        else
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        SetDefaultSettings();
        ASSERT_EQ(0, LoadSettings());
        EXPECT_EQ(7500, gSettings.record.basePort);
        // The killed save's temporary file is gone with the next load.
        for (const auto& entry : std::filesystem::directory_iterator(ConfigDir()))
            EXPECT_EQ("Orvandel.ini", entry.path().filename().string());
    }
}

TEST_F(SettingsTest, AutostartFieldFollowsTheAutostartEntryOnLoad)
{
    gSettings.record.autostart = 0;
    ASSERT_EQ(0, SaveSettings());
    ASSERT_EQ(0, WriteAutostartEntry("/usr/bin/orvandel /u"));
    ASSERT_EQ(0, LoadSettings());
    EXPECT_EQ(1, gSettings.record.autostart);
    gSettings.record.autostart = 1;
    ASSERT_EQ(0, SaveSettings());
    ASSERT_EQ(0, RemoveAutostartEntry());
    ASSERT_EQ(0, LoadSettings());
    EXPECT_EQ(0, gSettings.record.autostart);
}

TEST_F(SettingsTest, ClearingAChannelKeepsItsTuningAndProfile)
{
    ChannelRecord& channel = gSettings.channels[7];
    channel.enabled = 1;
    channel.autoTuneWork = 3;
    channel.videoDevice = 1;
    channel.audioCrossbarIn = 2;
    channel.tunerChannel = 9;
    std::strcpy(channel.description, "Seven");
    ClearChannelEntry(channel);
    EXPECT_EQ(0, channel.enabled);
    EXPECT_EQ(0, channel.autoTuneWork);
    EXPECT_EQ(kNoDevice, channel.videoDevice);
    EXPECT_EQ(0xFFFF, channel.editSelection);
    EXPECT_EQ(-1, channel.audioCrossbarIn);
    EXPECT_STREQ("", channel.description);
    EXPECT_EQ(9, channel.tunerChannel);
}

} // namespace
