#include "shared/server_state.h"
#include "config/settings.h"
#include "shared/live_params.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

namespace {

class StatusTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        SetDefaultEncoderParams();
        ResetServerState();
        gState.captureRunning = 0;
    }
    void TearDown() override
    {
        ResetServerState();
        gState.captureRunning = 0;
    }

    static std::string Text()
    {
        UpdateStatusText();
        return StatusText();
    }

    static void MonitorCurrentChannel(int countdown)
    {
        gSettings.record.currentChannel = 4;
        gSettings.channels[4].motionDetection = 1;
        gState.captureRunning = 1;
        gState.monitoring = 1;
        gState.monitoringCountdown = countdown;
    }

    TempConfig config;
};

TEST_F(StatusTextTest, FirstMatchingStateWins)
{
    EXPECT_EQ("Status: Disconnected", Text());
    gState.disconnected = 0;
    EXPECT_EQ("Status: Ready", Text());
    gState.initializing = 1;
    EXPECT_EQ("Status: Initializing connection...", Text());
    gState.testing = 1;
    EXPECT_EQ("Status: Testing connectivity, please wait...", Text());
    gState.configuringPorts = 1;
    EXPECT_EQ("Status: Configuring ports, please wait...", Text());
    gState.disconnected = 1;
    EXPECT_EQ("Status: Disconnected", Text());
    gState.connected = 1;
    EXPECT_EQ("Status: Connected", Text());
    gState.streaming = 1;
    EXPECT_EQ("Status: Streaming", Text());
}

TEST_F(StatusTextTest, RecordingWhileStoppedAddsItsSuffix)
{
    gState.recording = 1;
    EXPECT_EQ("Status: Disconnected, Recording", Text());
}

// A recording its file stopped says so until the next one starts.
TEST_F(StatusTextTest, ARecordingStoppedEarlySaysSoUntilTheNextStarts)
{
    gState.recordingStoppedEarly = 1;
    EXPECT_EQ("Status: Disconnected, Recording stopped early", Text());
    gState.recording = 1;
    EXPECT_EQ("Status: Disconnected, Recording", Text());
}

TEST_F(StatusTextTest, MonitoringCountdownInSeconds)
{
    MonitorCurrentChannel(10);
    EXPECT_EQ("Status: Disconnected, Monitoring in 30 seconds...", Text());
    gState.recording = 1;
    gLiveParams.frameRate = 15;
    EXPECT_EQ("Status: Disconnected, Recording, Monitoring in 20 seconds...", Text());
    for (int countdown : {1, 0}) {
        gState.monitoringCountdown = countdown;
        EXPECT_EQ("Status: Disconnected, Recording, Monitoring", Text());
    }
}

TEST_F(StatusTextTest, MonitoringNeedsChannelCaptureAndFlag)
{
    MonitorCurrentChannel(5);
    gSettings.channels[4].motionDetection = 0;
    EXPECT_EQ("Status: Disconnected", Text());
    MonitorCurrentChannel(5);
    gState.captureRunning = 0;
    EXPECT_EQ("Status: Disconnected", Text());
    MonitorCurrentChannel(5);
    gState.monitoring = 0;
    EXPECT_EQ("Status: Disconnected", Text());
    MonitorCurrentChannel(5);
    gLiveParams.frameRate = 0;  // no division by a zero frame rate
    EXPECT_EQ("Status: Disconnected, Monitoring", Text());
}

} // namespace
