#include "config/settings.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "record/recording_setup.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class RecordingSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        SetMessageSink(&sink);
    }
    void TearDown() override { SetMessageSink(nullptr); }

    TempConfig config;
    RecordingMessageSink sink;
};

TEST_F(RecordingSetupTest, TimeLimitShowsAsHoursMinutesSeconds)
{
    const TimeLimitFields fields = SplitTimeLimit(2 * 3600 + 7 * 60 + 9);
    EXPECT_EQ(2, fields.hours);
    EXPECT_EQ(7, fields.minutes);
    EXPECT_EQ(9, fields.seconds);
    EXPECT_EQ(10, SplitTimeLimit(10).seconds);
    EXPECT_EQ(7629, JoinTimeLimit(fields));
    EXPECT_EQ(23 * 3600 + 59 * 60 + 59, JoinTimeLimit({23, 59, 59}));
}

TEST_F(RecordingSetupTest, TimeSpinsWrapAround)
{
    EXPECT_EQ(0, WrapSpinValue(23, 1, 23));
    EXPECT_EQ(23, WrapSpinValue(0, -1, 23));
    EXPECT_EQ(0, WrapSpinValue(59, 1, 59));
    EXPECT_EQ(59, WrapSpinValue(0, -1, 59));
    EXPECT_EQ(13, WrapSpinValue(12, 1, 59));
}

TEST_F(RecordingSetupTest, QualityRadioFollowsTheVideoBitRate)
{
    EXPECT_EQ(RecordingQuality::Low, QualityOfVideoBitRate(48000));
    EXPECT_EQ(RecordingQuality::Medium, QualityOfVideoBitRate(200000));
    EXPECT_EQ(RecordingQuality::High, QualityOfVideoBitRate(500000));
    EXPECT_EQ(RecordingQuality::Best, QualityOfVideoBitRate(2000000));
    EXPECT_EQ(RecordingQuality::Best, QualityOfVideoBitRate(123456));
}

struct PresetRow {
    RecordingQuality quality;
    int32_t video;
    int32_t audio;
    uint8_t frameRate;
};

TEST_F(RecordingSetupTest, OkWritesThePresetAndSaves)
{
    const PresetRow rows[] = {{RecordingQuality::Best, 2000000, 128000, 25},
                              {RecordingQuality::High, 500000, 64000, 25},
                              {RecordingQuality::Medium, 200000, 64000, 15},
                              {RecordingQuality::Low, 48000, 32000, 10}};
    for (const PresetRow& row : rows) {
        gSettings.record.recordingProfile = {};
        RecordingSetup setup = LoadRecordingSetup();
        setup.quality = row.quality;
        ASSERT_EQ(0, ApplyRecordingSetup(setup));
        const RecordingProfile& profile = gSettings.record.recordingProfile;
        EXPECT_EQ(row.video, profile.videoBitRate);
        EXPECT_EQ(row.audio, profile.audioBitRate);
        EXPECT_EQ(row.frameRate, profile.frameRate);
        EXPECT_EQ(44100, profile.audioSampleRate);
        EXPECT_EQ(16, profile.audioSampleBits);
        EXPECT_EQ(1, profile.stereo);
        EXPECT_EQ(row.quality, LoadRecordingSetup().quality);
    }
}

TEST_F(RecordingSetupTest, OkWritesLimitsSizeAndMotionIntoTheFile)
{
    RecordingSetup setup;
    setup.folder = config.Root();
    setup.limitTime = true;
    setup.timeLimit = {1, 2, 3};
    setup.limitSize = true;
    setup.sizeLimitMb = 700;
    setup.quality = RecordingQuality::Medium;
    setup.recordOnMotion = true;
    setup.sizeIndex = 3;
    ASSERT_EQ(0, ApplyRecordingSetup(setup));

    SetDefaultSettings();
    ASSERT_EQ(0, LoadSettings());
    const SettingsRecord& record = gSettings.record;
    EXPECT_STREQ(config.Root().c_str(), record.recordingFolder);
    EXPECT_EQ(1, record.limitRecordingTime);
    EXPECT_EQ(3723, record.recordingTimeLimit);
    EXPECT_EQ(1, record.limitRecordingSize);
    EXPECT_EQ(700, record.recordingSizeLimitMb);
    EXPECT_EQ(1, record.recordOnMotion);
    EXPECT_EQ(3, record.recordingSizeIndex);
    EXPECT_EQ(200000, record.recordingProfile.videoBitRate);
}

TEST_F(RecordingSetupTest, AFolderOf256CharactersKeepsTheDialogOpen)
{
    const SettingsRecord before = gSettings.record;
    RecordingSetup setup = LoadRecordingSetup();
    setup.folder = "/" + std::string(255, 'a');
    setup.quality = RecordingQuality::Low;
    EXPECT_EQ(-1, ApplyRecordingSetup(setup));
    EXPECT_TRUE(sink.Saw("Path to the recording output file is too long."));
    EXPECT_EQ(0, std::memcmp(&before, &gSettings.record, sizeof before));

    setup.folder.pop_back();
    EXPECT_EQ(0, ApplyRecordingSetup(setup));
    EXPECT_EQ(255u, std::strlen(gSettings.record.recordingFolder));
}

} // namespace
