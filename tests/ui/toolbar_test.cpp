#include "shared/server_state.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "platform/recording_sink.h"
#include "ui/true_color_toolbar.h"
#include "ui_support.h"
#include "support/temp_config.h"

#include <QAction>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ChannelBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        SetDefaultSettings();
        ResetServerState();
        SetMessageSink(&sink);
    }
    void TearDown() override
    {
        ResetServerState();
        SetMessageSink(nullptr);
    }

    TempConfig config;
    RecordingMessageSink sink;
    Tuner tuner;
};

TEST_F(ChannelBoxTest, SpinsToAnyChannelUpTo999)
{
    gSettings.record.currentChannel = 997;
    QAction start("Start");
    CTrueColorToolBar bar({&start}, tuner, nullptr);
    QSpinBox* box = bar.ChannelBox();
    EXPECT_EQ(box->text(), "997");

    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(gSettings.record.currentChannel, 998) << "no channel is enabled, and any index is taken";
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(gSettings.record.currentChannel, 999);
    EXPECT_EQ(box->text(), "999");
    QTest::keyClicks(box, "12");
    EXPECT_EQ(box->text(), "999") << "the number cannot be typed past the guard";

    bar.ShowChannel(4);
    EXPECT_EQ(box->text(), "4");
    EXPECT_EQ(gSettings.record.currentChannel, 999) << "showing a channel does not choose it";
    EXPECT_TRUE(sink.Entries().empty());
}

TEST_F(ChannelBoxTest, RefusesWhileTheChannelIsStreamedOrRecorded)
{
    const char refusal[] = "Current channel is being streamed/recorded. Please stop the streaming/recording first.";
    gSettings.record.currentChannel = 12;
    QAction start("Start");
    CTrueColorToolBar bar({&start}, tuner, nullptr);
    QSpinBox* box = bar.ChannelBox();

    SetStreaming(true);
    QTest::keyClick(box, Qt::Key_Up);
    SetStreaming(false);
    SetRecording(true);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(gSettings.record.currentChannel, 12);
    EXPECT_EQ(box->text(), "12");
    ASSERT_EQ(sink.Entries().size(), 2u);
    for (const auto& entry : sink.Entries()) {
        EXPECT_EQ(entry.text, refusal);
        EXPECT_TRUE(entry.blocking);
    }

    SetRecording(false);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(gSettings.record.currentChannel, 11);
}

} // namespace
