#include "shared/server_state.h"
#include "capture/tuner.h"
#include "app/view_commands.h"
#include "config/settings.h"
#include "platform/paths.h"
#include "platform/recording_sink.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

namespace {

class ChannelStepTest : public ::testing::Test {
protected:
    void SetUp() override { SetDefaultSettings(); }

    static void Enable(std::initializer_list<int> channels)
    {
        for (int channel : channels)
            gSettings.channels[channel].enabled = 1;
        gSettings.record.enabledChannels = static_cast<int>(channels.size());
    }

    TempConfig config;
    Tuner tuner;
};

TEST_F(ChannelStepTest, UpWrapsPast999ToTheNextEnabledChannel)
{
    Enable({3, 7});
    gSettings.record.currentChannel = 7;
    EXPECT_EQ(3, StepChannel(tuner, +1));
    EXPECT_EQ(3, gSettings.record.currentChannel);
    EXPECT_EQ(7, StepChannel(tuner, +1));
}

TEST_F(ChannelStepTest, DownWrapsPastZero)
{
    Enable({3, 7});
    gSettings.record.currentChannel = 3;
    EXPECT_EQ(7, StepChannel(tuner, -1));
    Enable({0, 999});
    gSettings.record.currentChannel = 0;
    EXPECT_EQ(999, StepChannel(tuner, -1));
}

TEST_F(ChannelStepTest, NothingChangesWithOneOrNoEnabledChannel)
{
    gSettings.record.currentChannel = 7;
    EXPECT_EQ(-1, StepChannel(tuner, +1));
    Enable({7});
    EXPECT_EQ(-1, StepChannel(tuner, +1));
    EXPECT_EQ(-1, StepChannel(tuner, -1));
    EXPECT_EQ(7, gSettings.record.currentChannel);
}

TEST_F(ChannelStepTest, DamagedCurrentIndexStillEnds)
{
    gSettings.record.enabledChannels = 2;  // the count claims channels no record has
    gSettings.record.currentChannel = 5000;
    EXPECT_EQ(-1, StepChannel(tuner, +1));
    gSettings.channels[12].enabled = 1;
    EXPECT_EQ(12, StepChannel(tuner, +1));
}

TEST_F(ChannelStepTest, AutostartTogglesTheEntryAndTheField)
{
    ToggleAutostart();
    EXPECT_EQ(1, gSettings.record.autostart);
    std::string entry = ReadFileBytes(AutostartEntryPath());
    EXPECT_NE(std::string::npos, entry.find("Exec=" + DesktopExecProgram(ExecutablePath()) + " /u\n"));
    ToggleAutostart();
    EXPECT_EQ(0, gSettings.record.autostart);
    EXPECT_FALSE(AutostartEntryExists());
}

TEST(EncodeFileGuardTest, RefusesInTheOrderOfItsChecks)
{
    RecordingMessageSink sink;
    SetMessageSink(&sink);
    ResetServerState();
    SetStreaming(true);
    SetTesting(true);
    EXPECT_EQ(-1, EncodeFileGuard(true));
    EXPECT_EQ(-1, EncodeFileGuard(false));
    SetStreaming(false);
    EXPECT_EQ(-1, EncodeFileGuard(false));
    SetTesting(false);
    SetConfiguringPorts(true);
    EXPECT_EQ(-1, EncodeFileGuard(false));
    SetConfiguringPorts(false);
    EXPECT_EQ(0, EncodeFileGuard(false));
    const char wait[] = "Please wait for the Orvandel to go to ready state.";
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"You cannot encode more than one file simultaneously.",
                                                       "Cannot encode a file while streaming. Please stop the streaming first.",
                                                       wait, wait}));
    for (const auto& entry : sink.Entries())
        EXPECT_TRUE(entry.blocking);
    SetMessageSink(nullptr);
}

} // namespace
