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
        SetCaptureRunning(false);
    }
    void TearDown() override
    {
        ResetServerState();
        SetCaptureRunning(false);
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
        SetCaptureRunning(true);
        SetMonitoring(true);
        SetMonitoringCountdown(countdown);
    }

    TempConfig config;
};

TEST_F(StatusTextTest, FirstMatchingStateWins)
{
    EXPECT_EQ("Status: Disconnected", Text());
    SetDisconnected(false);
    EXPECT_EQ("Status: Ready", Text());
    SetInitializing(true);
    EXPECT_EQ("Status: Initializing connection...", Text());
    SetTesting(true);
    EXPECT_EQ("Status: Testing connectivity, please wait...", Text());
    SetConfiguringPorts(true);
    EXPECT_EQ("Status: Configuring ports, please wait...", Text());
    SetDisconnected(true);
    EXPECT_EQ("Status: Disconnected", Text());
    SetConnected(true);
    EXPECT_EQ("Status: Connected", Text());
    SetStreaming(true);
    EXPECT_EQ("Status: Streaming", Text());
}

TEST_F(StatusTextTest, RecordingWhileStoppedAddsItsSuffix)
{
    SetRecording(true);
    EXPECT_EQ("Status: Disconnected, Recording", Text());
}

// A recording its file stopped says so until the next one starts.
TEST_F(StatusTextTest, ARecordingStoppedEarlySaysSoUntilTheNextStarts)
{
    SetRecordingStoppedEarly(true);
    EXPECT_EQ("Status: Disconnected, Recording stopped early", Text());
    SetRecording(true);
    EXPECT_EQ("Status: Disconnected, Recording", Text());
}

TEST_F(StatusTextTest, MonitoringCountdownInSeconds)
{
    MonitorCurrentChannel(10);
    EXPECT_EQ("Status: Disconnected, Monitoring in 30 seconds...", Text());
    SetRecording(true);
    gLiveParams.frameRate = 15;
    EXPECT_EQ("Status: Disconnected, Recording, Monitoring in 20 seconds...", Text());
    for (int countdown : {1, 0}) {
        SetMonitoringCountdown(countdown);
        EXPECT_EQ("Status: Disconnected, Recording, Monitoring", Text());
    }
}

TEST_F(StatusTextTest, MonitoringNeedsChannelCaptureAndFlag)
{
    MonitorCurrentChannel(5);
    gSettings.channels[4].motionDetection = 0;
    EXPECT_EQ("Status: Disconnected", Text());
    MonitorCurrentChannel(5);
    SetCaptureRunning(false);
    EXPECT_EQ("Status: Disconnected", Text());
    MonitorCurrentChannel(5);
    SetMonitoring(false);
    EXPECT_EQ("Status: Disconnected", Text());
    MonitorCurrentChannel(5);
    gLiveParams.frameRate = 0;  // no division by a zero frame rate
    EXPECT_EQ("Status: Disconnected, Monitoring", Text());
}

} // namespace
