// The main window's commands, driven through its view as the menus and the
// toolbar drive them.

#include "app/caption_font.h"
#include "capture/tuner.h"
#include "app/child_view.h"
#include "app/main_frame.h"
#include "app/startup.h"
#include "capture/grabber_callbacks.h"
#include "shared/resources.h"
#include "shared/server_state.h"
#include "capture/caption_style.h"
#include "capture/capture_graph.h"
#include "capture/preview_widget.h"
#include "config/settings.h"
#include "record/recording_control.h"
#include "shared/live_params.h"
#include "encode/stream_buffers.h"
#include "media/media_folder_dialog.h"
#include "net/network_dialogs.h"
#include "platform/recording_sink.h"
#include "server/net_state.h"
#include "server/server_control.h"
#include "support/loopback.h"
#include "support/large_buffers.h"
#include "support/temp_config.h"
#include "ui/channel_dlg.h"
#include "../ui/ui_support.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QFile>
#include <QFontDialog>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <QAction>

#include <gtest/gtest.h>

#include <cstring>

namespace {

class MainWindowTest : public LargeBuffersTest {
protected:
    void SetUp() override
    {
        SetMessageSink(&sink);
        SetDefaultSettings();
        SetDefaultEncoderParams();
        ResetServerState();
        SettingsRecord& record = gSettings.record;
        record.basePort = FreePortTriple();
        record.listenAddress = kLoopbackHostOrder;
        record.directoryDisabled = 1;
        frame = std::make_unique<CMainFrame>(tuner, false);
        view = frame->View();
        ServeRecordingRequests(tuner);
    }

    void TearDown() override
    {
        SetConfiguringPorts(false);
        StopServer(tuner);
        StopServingRecordingRequests();
        frame.reset();
        ResetServerState();
        SetFirstRun(false);
        SetPreviewVisible(false);
        SetPreviewMuted(true);
        SetMessageSink(nullptr);
    }

    static bool Listening()
    {
        return WaitUntil([] { return !IsDisconnected() && gNet.controlListenSocket != kInvalidSocket; });
    }

    TempConfig config;
    RecordingMessageSink sink;
    Tuner tuner;
    std::unique_ptr<CMainFrame> frame;
    CChildView* view = nullptr;
};

TEST_F(MainWindowTest, ChannelUpShowsTheNextEnabledChannel)
{
    gSettings.channels[3].enabled = gSettings.channels[7].enabled = 1;
    gSettings.record.enabledChannels = 2;
    gSettings.record.currentChannel = 7;
    frame->ShowChannelNumber(7);
    view->OnChannelUp();
    EXPECT_EQ(frame->ChannelNumberText(), "3");

    gSettings.channels[3].enabled = 0;
    gSettings.record.enabledChannels = 1;
    gSettings.record.currentChannel = 7;
    frame->ShowChannelNumber(7);
    view->OnChannelUp();
    view->OnChannelDown();
    EXPECT_EQ(frame->ChannelNumberText(), "7");
    EXPECT_EQ(gSettings.record.currentChannel, 7);
}

TEST_F(MainWindowTest, StartWhileStartingAndStopWhilePortsAreConfiguredDoNothing)
{
    view->OnStart();
    ASSERT_TRUE(Listening());
    const long listener = gNet.networkThread.Id();
    view->OnStart();
    EXPECT_EQ(gNet.networkThread.Id(), listener);

    SetConfiguringPorts(true);
    view->OnStop();
    EXPECT_EQ(IsDisconnected(), 0);
    EXPECT_EQ(gNet.networkThread.Id(), listener);
    SetConfiguringPorts(false);
    view->OnStop();
    EXPECT_EQ(IsDisconnected(), 1);
    EXPECT_FALSE(gNet.networkThread.Registered());
    EXPECT_TRUE(sink.Entries().empty());
}

TEST_F(MainWindowTest, TheFirstStartAsksForTheLineupOnce)
{
    SetFirstRun(true);
    auto lineupShown = WhenShown<CChannelDlg>([](CChannelDlg* dialog) { dialog->findChild<QPushButton*>("ok")->click(); });
    auto foldersShown = WhenShown<CMediaFolderDlg>([](CMediaFolderDlg* dialog) {
        EXPECT_TRUE(ShownWindow<CChannelDlg>() == nullptr) << "one after the other";
        dialog->reject();
    });
    view->OnStart();
    EXPECT_TRUE(*lineupShown && *foldersShown);
    EXPECT_EQ(sink.Texts(),
              (std::vector<std::string>{"Please setup your channel lineup.",
                                        "Please add a media folder that includes media files to be streamed to your "
                                        "handheld."}));
    EXPECT_EQ(sink.Entries().front().kind, "info");
    EXPECT_EQ(IsFirstRun(), 0);
    EXPECT_TRUE(Listening()) << "the server starts after the first-run dialogs";

    view->OnStop();
    view->OnStart();
    EXPECT_TRUE(Listening());
    EXPECT_EQ(sink.Entries().size(), 2u);
}

TEST_F(MainWindowTest, AnEnabledChannelSkipsTheFirstRunDialogs)
{
    SetFirstRun(true);
    gSettings.record.enabledChannels = 1;
    view->OnStart();
    EXPECT_TRUE(Listening());
    EXPECT_TRUE(sink.Entries().empty());
    EXPECT_EQ(IsFirstRun(), 1);
}

TEST_F(MainWindowTest, NetworkSettingsRestartTheServerEvenWhenCancelled)
{
    view->OnStart();
    ASSERT_TRUE(Listening());
    const long before = gNet.networkThread.Id();
    auto shown = WhenShown<CNetworkSetupDlg>([](CNetworkSetupDlg* dialog) { dialog->reject(); });
    view->OnNetworkSettings();
    EXPECT_TRUE(*shown);
    EXPECT_TRUE(Listening());
    EXPECT_NE(gNet.networkThread.Id(), before);
}

TEST_F(MainWindowTest, RecordStartsOrStopsAndAStopEndsTheRunningSchedule)
{
    std::vector<unsigned> posted;
    SetMessageHandler(MessageTarget::Recorder, [&](unsigned message, uintptr_t, intptr_t) {
        if (message == kMsgStartRecording || message == kMsgStopRecording)
            posted.push_back(message);
    });
    ScheduleSlot* schedule = gSettings.record.schedules;
    schedule[1].used = 1;
    schedule[3].used = schedule[3].active = 1;
    schedule[3].channel = 4;
    schedule[5].used = schedule[5].active = 1;

    view->OnRecord();
    EXPECT_TRUE(WaitUntil([&] { return posted.size() == 1; }));
    EXPECT_EQ(schedule[3].used, 1) << "starting leaves the schedules alone";

    SetRecording(true);
    view->OnRecord();
    EXPECT_TRUE(WaitUntil([&] { return posted.size() == 2; }));
    EXPECT_EQ(posted, (std::vector<unsigned>{kMsgStartRecording, kMsgStopRecording}));
    EXPECT_EQ(schedule[3].used, 0);
    EXPECT_EQ(schedule[3].active, 0);
    EXPECT_EQ(schedule[1].used, 1);
    EXPECT_EQ(schedule[5].active, 1);
    SetMessageHandler(MessageTarget::Recorder, {});
}

TEST_F(MainWindowTest, TheRecordMarkFollowsAStartThatFailed)
{
    QAction* record = nullptr;
    for (QAction* action : frame->findChildren<QAction*>())
        if (action->text() == "Record")
            record = action;
    ASSERT_NE(nullptr, record);
    record->trigger();  // the current channel is not set up, so nothing starts
    QCoreApplication::processEvents();
    EXPECT_FALSE(record->isChecked());
    EXPECT_FALSE(IsRecording());
}

// A capture graph of the virtual TV card, as a channel's start builds it.
class CapturingWindowTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        gGrabbers.ResetExitSignals();
        ASSERT_EQ(0, CreateGraphObjects());
        ASSERT_EQ(0, EnumerateCaptureDevices());
        ASSERT_EQ(gDeviceNames.video.at(1), "Virtual TV Tuner");
        ASSERT_EQ(0, SelectCaptureDevicesByIndex(0, 0, gLiveParams.frameRate));
    }
    void TearDown() override
    {
        ReleaseGraphObjects();
        MainWindowTest::TearDown();
    }
};

TEST_F(CapturingWindowTest, PreviewWindowShowsThePictureInTheView)
{
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    ASSERT_EQ(0, StartCapture());
    const QSize picture(gCapture.format.width, gCapture.format.height);
    ASSERT_GT(picture.width(), 0);
    auto* preview = view->findChild<CPreviewWidget*>();
    ASSERT_NE(preview, nullptr);

    view->OnPreviewWindow();
    EXPECT_EQ(IsPreviewVisible(), 1);
    EXPECT_TRUE(WaitUntil([&] { return view->size() == picture && preview->isVisible(); }))
        << view->width() << "x" << view->height();
    EXPECT_EQ(preview->geometry(), view->rect());
    EXPECT_TRUE(WaitUntil([&] { return !preview->Image().isNull(); }));

    view->OnPreviewWindow();
    EXPECT_EQ(IsPreviewVisible(), 0);
    EXPECT_TRUE(WaitUntil([&] { return view->size() == QSize(340, 2) && !preview->isVisible(); }))
        << view->width() << "x" << view->height();
    StopCapture();
}

TEST_F(MainWindowTest, PreviewWindowWithoutAPictureKeepsTheStrip)
{
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    view->OnPreviewWindow();
    EXPECT_EQ(IsPreviewVisible(), 1);
    EXPECT_TRUE(WaitUntil([&] { return view->size() == QSize(340, 2); })) << view->width() << "x" << view->height();
}

TEST_F(MainWindowTest, MutingWithoutAnAudioRendererSaysSo)
{
    view->OnMutePreviewAudio();
    EXPECT_EQ(IsPreviewMuted(), 0);
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Cannot set audio volume."});
    EXPECT_TRUE(sink.Entries().front().blocking);
}

TEST_F(CapturingWindowTest, MutingSetsThePreviewVolume)
{
    sink.Clear();
    view->OnMutePreviewAudio();
    EXPECT_EQ(IsPreviewMuted(), 0);
    EXPECT_EQ(gCapture.graph->BasicAudio()->Volume(), kVolumeFull);
    view->OnMutePreviewAudio();
    EXPECT_EQ(gCapture.graph->BasicAudio()->Volume(), kVolumeSilent);
    EXPECT_TRUE(sink.Entries().empty());
}

TEST_F(MainWindowTest, ClosedCaptionsStoreTheChosenFontAndColour)
{
    const LogFont before = gSettings.record.captionFont;
    auto fontShown = WhenShown<QFontDialog>([](QFontDialog* dialog) {
        EXPECT_EQ(dialog->currentFont().pointSize(), 11);
        dialog->reject();
    });
    view->OnClosedCaptions();
    EXPECT_TRUE(*fontShown);
    EXPECT_EQ(std::memcmp(&before, &gSettings.record.captionFont, sizeof before), 0) << "cancelled";

    QFont chosen("DejaVu Sans");
    chosen.setPointSize(14);
    chosen.setBold(true);
    chosen.setItalic(true);
    fontShown = WhenShown<QFontDialog>([chosen](QFontDialog* dialog) {
        dialog->setCurrentFont(chosen);
        dialog->accept();
    });
    auto colourShown = WhenShown<QColorDialog>([](QColorDialog* dialog) {
        dialog->setCurrentColor(QColor(255, 128, 0));
        dialog->accept();
    });
    view->OnClosedCaptions();
    EXPECT_TRUE(*fontShown && *colourShown);
    const LogFont& font = gSettings.record.captionFont;
    EXPECT_EQ(font.height, 140);
    EXPECT_EQ(font.weight, 700);
    EXPECT_EQ(font.italic, 1);
    EXPECT_EQ(font.underline, 0);
    EXPECT_EQ(font.quality, 4);
    EXPECT_EQ(font.charSet, 1);
    EXPECT_STREQ(font.faceName, "DejaVu Sans");
    EXPECT_EQ(gSettings.record.captionColor, 0x0080FFu);
}

TEST(CaptionFontTest, TheDefaultIsElevenPointArialAndSurvivesTheRoundTrip)
{
    Application();
    SetDefaultSettings();
    const LogFont stored = gSettings.record.captionFont;
    const QFont font = FontFromLogFont(stored);
    EXPECT_EQ(font.pointSize(), 11);
    EXPECT_EQ(font.family(), "Arial");
    const LogFont again = LogFontFromFont(font);
    EXPECT_EQ(again.height, 110);
    EXPECT_EQ(again.weight, 400) << "the stored default leaves the weight to the font";
    EXPECT_STREQ(again.faceName, "Arial");
    EXPECT_EQ(again.charSet, stored.charSet);
    EXPECT_EQ(again.quality, stored.quality);
    EXPECT_EQ(again.italic + again.underline + again.strikeOut, 0);

    QFont nameless(QString{});
    nameless.setPointSizeF(9.5);
    nameless.setUnderline(true);
    const LogFont fallback = LogFontFromFont(nameless);
    EXPECT_STREQ(fallback.faceName, "Arial");
    EXPECT_EQ(fallback.height, 95);
    EXPECT_EQ(fallback.underline, 1);
    EXPECT_EQ(ColorFromColorRef(ColorRefFromColor(QColor(1, 2, 3))), QColor(1, 2, 3));
    EXPECT_EQ(ColorRefFromColor(QColor(0x11, 0x22, 0x33)), 0x332211u);
}

// Catches the pages Help asks the desktop to open.
class PageCatcher : public QObject {
    Q_OBJECT
public slots:
    void Open(const QUrl& url) { opened.push_back(url); }

public:
    std::vector<QUrl> opened;
};

TEST_F(MainWindowTest, HelpOpensTheBundledPages)
{
    PageCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    view->OnHelpContents();
    view->OnTroubleshooting();
    QDesktopServices::unsetUrlHandler("file");

    ASSERT_EQ(catcher.opened.size(), 2u);
    QFile contents(catcher.opened[0].toLocalFile());
    ASSERT_TRUE(contents.open(QIODevice::ReadOnly)) << contents.fileName().toStdString();
    const QByteArray page = contents.readAll();
    EXPECT_TRUE(page.contains("<title>Orvandel Help</title>"));
    EXPECT_TRUE(page.contains("href=\"troubleshooting.html\""));
    EXPECT_TRUE(catcher.opened[1].toLocalFile().endsWith("/help/troubleshooting.html"));
    EXPECT_TRUE(QFile::exists(catcher.opened[1].toLocalFile()));
    EXPECT_TRUE(sink.Entries().empty());
}

} // namespace

#include "main_window_test.moc"
