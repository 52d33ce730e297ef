// The statistics window offscreen: the values it shows, and how the main
// view opens it and refreshes it.

#include "app/child_view.h"
#include "capture/tuner.h"
#include "app/main_frame.h"
#include "config/settings.h"
#include "shared/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "server/stats_dlg.h"
#include "support/temp_config.h"
#include "ui_support.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

class StatsDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        SetMessageSink(&sink);
        StatisticsRateMemory() = {};
        savedVideo = std::make_unique<StreamRing>(gStream.video);
        savedAudio = std::make_unique<StreamRing>(gStream.audio);
        savedFrames = gLiveEncoder.framesEncoded;
        savedParams = gLiveParams;
    }
    void TearDown() override
    {
        gStream.video = *savedVideo;
        gStream.audio = *savedAudio;
        gLiveEncoder.framesEncoded = savedFrames;
        gLiveParams = savedParams;
        StatisticsRateMemory() = {};
        SetMessageSink(nullptr);
    }

    static QString Field(QWidget* window, const char* name)
    {
        auto* field = window->findChild<QLineEdit*>(name);
        EXPECT_NE(nullptr, field) << name;
        return field ? field->text() : QString();
    }

    TempConfig config;
    RecordingMessageSink sink;
    std::unique_ptr<StreamRing> savedVideo;
    std::unique_ptr<StreamRing> savedAudio;
    int32_t savedFrames = 0;
    LiveEncodingParams savedParams{};
};

TEST_F(StatsDlgTest, ShowsTheGivenCountersInItsFields)
{
    CStatsDlg dialog;
    dialog.show();
    ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }));
    EXPECT_EQ("Statistics", dialog.windowTitle());
    EXPECT_FALSE(dialog.isModal());

    StatsCounters counters;
    counters.videoFullness = kRingSize;
    counters.audioFullness = 419000;
    counters.videoSentTotal = 5000000000ull;
    counters.audioSentTotal = 123456;
    counters.videoEncoded = 500000;
    counters.audioEncoded = 40000;
    counters.framesEncoded = 151;
    counters.frameRateSetting = 15;
    counters.videoTime = 2.97;
    counters.audioTime = 5.2;
    dialog.Refresh(counters);

    EXPECT_EQ("13980000", Field(&dialog, "videoFullness"));
    EXPECT_EQ("100", Field(&dialog, "videoPercent"));
    EXPECT_EQ("419000", Field(&dialog, "audioFullness"));
    EXPECT_EQ("2", Field(&dialog, "audioPercent"));
    EXPECT_EQ("5000000000", Field(&dialog, "videoSent"));
    EXPECT_EQ("123456", Field(&dialog, "audioSent"));
    EXPECT_EQ("15", Field(&dialog, "frameRate"));
    EXPECT_EQ("2", Field(&dialog, "videoTimestamp"));
    EXPECT_EQ("5", Field(&dialog, "audioTimestamp"));
    EXPECT_EQ("151", Field(&dialog, "frameCount"));
    EXPECT_EQ("2000", Field(&dialog, "videoBitrate"));
    EXPECT_EQ("64", Field(&dialog, "audioBitrate"));
    EXPECT_EQ("2064", Field(&dialog, "streamBitrate"));
    for (QLineEdit* field : dialog.findChildren<QLineEdit*>())
        EXPECT_TRUE(field->isReadOnly()) << field->objectName().toStdString();

    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        labels << label->text();
    for (const char* label :
         {"Video buffer fullness (bytes):", "Video buffer fullness (%):", "Audio buffer fullness (bytes):",
          "Audio buffer fullness (%):", "Total video bytes sent:", "Total audio bytes sent:", "Stream frame rate:",
          "Video timestamp:", "Audio timestamp:", "Stream frame count:", "Video bitrate (kbps):",
          "Audio bitrate (kbps):", "Stream bitrate (kbps):"})
        EXPECT_TRUE(labels.contains(label)) << label;
    QStringList boxes;
    for (QGroupBox* box : dialog.findChildren<QGroupBox*>())
        boxes << box->title();
    EXPECT_EQ((QStringList{"Buffers", "Stream"}), boxes);

    // Before any frame the frame rate is 0; back at time 0 the rates clear.
    counters.framesEncoded = 0;
    counters.videoTime = 0;
    dialog.Refresh(counters);
    EXPECT_EQ("0", Field(&dialog, "frameRate"));
    EXPECT_EQ("0", Field(&dialog, "videoBitrate"));
    EXPECT_EQ("64", Field(&dialog, "audioBitrate")) << "same second: the audio rate stays";
    EXPECT_EQ("64", Field(&dialog, "streamBitrate"));
}

TEST_F(StatsDlgTest, OpeningReadsTheStreamAsItIs)
{
    gStream.video.fullness = 139800;
    gStream.audio.fullness = 0;
    gStream.video.sentTotal = 777;
    gLiveEncoder.framesEncoded = 0;
    gLiveParams.frameRate = 10;
    CStatsDlg dialog;
    EXPECT_EQ("139800", Field(&dialog, "videoFullness"));
    EXPECT_EQ("1", Field(&dialog, "videoPercent"));
    EXPECT_EQ("0", Field(&dialog, "audioPercent"));
    EXPECT_EQ("777", Field(&dialog, "videoSent"));
    EXPECT_EQ("0", Field(&dialog, "frameRate")) << "no frame encoded yet";
}

TEST_F(StatsDlgTest, TheViewOpensOneWindowAndRefreshesItOnTheRefreshMessage)
{
    SetDefaultSettings();
    Tuner tuner;
    auto frame = std::make_unique<CMainFrame>(tuner, false);
    CChildView* view = frame->View();
    QAction* statistics = nullptr;
    for (QAction* action : frame->findChildren<QAction*>())
        if (action->text() == "St&atistics")
            statistics = action;
    ASSERT_NE(nullptr, statistics);
    EXPECT_TRUE(statistics->isEnabled());
    EXPECT_EQ(nullptr, view->StatsWindow());

    gStream.video.fullness = 1000;
    statistics->trigger();
    CStatsDlg* window = view->StatsWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(WaitUntil([&] { return window->isVisible(); }));
    EXPECT_EQ("1000", Field(window, "videoFullness"));
    statistics->trigger();
    EXPECT_EQ(window, view->StatsWindow()) << "a second use keeps the same window";
    EXPECT_EQ(1, frame->findChildren<CStatsDlg*>().size());

    gStream.video.fullness = 2000;
    ASSERT_TRUE(PostAppMessage(MessageTarget::View, kMsgRefresh));
    EXPECT_TRUE(WaitUntil([&] { return Field(window, "videoFullness") == "2000"; }));

    window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_TRUE(WaitUntil([&] { return view->StatsWindow() == nullptr; })) << "OK closes and destroys it";
    ASSERT_TRUE(PostAppMessage(MessageTarget::View, kMsgRefresh));
    Application().processEvents();

    statistics->trigger();
    ASSERT_NE(nullptr, view->StatsWindow()) << "a new window after the old one closed";
    view->StatsWindow()->close();
}

} // namespace
