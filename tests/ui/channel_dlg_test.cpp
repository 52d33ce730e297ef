#include "shared/resources.h"
#include "capture/tuner.h"
#include "shared/server_state.h"
#include "capture/capture_graph.h"
#include "capture/channel_setup_dlg.h"
#include "capture/grabber_callbacks.h"
#include "capture/devices.h"
#include "config/settings.h"
#include "platform/recording_sink.h"
#include "support/temp_config.h"
#include "ui/channel_dlg.h"
#include "ui/channel_lineup.h"
#include "ui/list_ctrl_ex.h"
#include "ui_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

const char kNoDeviceRefusal[] =
    "Please click on 'None' under Video Device and Audio Device columns and select a stream type for video and/or "
    "audio.";

void Describe(int channel, const char* text)
{
    std::strncpy(gSettings.channels[channel].description, text, 31);
}

class LineupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        SetDefaultSettings();
        ResetServerState();
        SetMessageSink(&sink);
        gDeviceNames.video = {"None", "Cam A", "Cam B"};
        gDeviceNames.audio = {"None", "Line In"};
    }
    void TearDown() override
    {
        SetMessageSink(nullptr);
        ResetServerState();
        gDeviceNames.video = {"None"};
        gDeviceNames.audio = {"None"};
    }

    TempConfig config;
    RecordingMessageSink sink;
    Tuner tuner;
};

// The dialog on screen, driven by clicks as the user would.
class LineupDialogTest : public LineupTest {
protected:
    void Open()
    {
        dialog = std::make_unique<CChannelDlg>(tuner);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        dialog->activateWindow();
        list = dialog->findChild<CListCtrlEx*>();
    }

    QPushButton* Button(const char* name) { return dialog->findChild<QPushButton*>(name); }

    void Click(int row, int column)
    {
        list->scrollToItem(list->item(row, column));
        const QRect cell = list->visualRect(list->model()->index(row, column));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        Application().processEvents();
    }

    // Picks an entry of a device cell's drop-down with the keyboard.
    void Pick(int row, int column, Qt::Key key)
    {
        Click(row, column);
        QComboBox* combo = VisibleChild<QComboBox>(list->viewport());
        ASSERT_NE(combo, nullptr);
        QTest::keyClick(combo, key);
        Application().processEvents();
    }

    std::unique_ptr<CChannelDlg> dialog;
    CListCtrlEx* list = nullptr;
};

TEST_F(LineupDialogTest, ShowsEveryChannelWithItsDevices)
{
    gSettings.channels[4].enabled = 1;
    gSettings.channels[4].videoDevice = 1;
    gSettings.channels[4].audioDevice = 0;
    Describe(4, "Sports");
    gSettings.channels[6].videoDevice = 7;
    gSettings.channels[6].audioDevice = 1;
    gSettings.record.descriptionMinWidth = 50;
    Open();

    ASSERT_EQ(list->rowCount(), 1000);
    ASSERT_EQ(list->columnCount(), 5);
    QStringList headings;
    for (int column = 0; column < 5; ++column)
        headings << list->horizontalHeaderItem(column)->text();
    EXPECT_EQ(headings, (QStringList{"Enable", "Channel", "Video Device", "Audio Device", "Description"}));
    EXPECT_TRUE(list->IsChecked(4));
    EXPECT_EQ(list->CellText(4, 1), "4");
    EXPECT_EQ(list->CellText(4, 2), "Cam B");
    EXPECT_EQ(list->CellText(4, 3), "Line In");
    EXPECT_EQ(list->CellText(4, 4), "Sports");
    EXPECT_EQ(list->CellText(6, 2), "None") << "a device beyond the list";
    EXPECT_EQ(list->CellText(6, 3), "None");
    EXPECT_EQ(list->CellText(999, 1), "999");
    EXPECT_FALSE(list->IsChecked(999));

    int widths = 0;
    for (int column = 0; column < 5; ++column)
        widths += list->columnWidth(column);
    EXPECT_EQ(widths, list->width() - 2) << "the description takes the rest of the width";
    gSettings.record.descriptionMinWidth = 1000;
    dialog->resize(dialog->width() + 1, dialog->height());
    Application().processEvents();
    EXPECT_EQ(list->columnWidth(4), 1000) << "but never less than the settings ask for";
    EXPECT_FALSE(Button("captureOptions")->isEnabled());
}

TEST_F(LineupDialogTest, ARowWithoutDevicesCannotBeChecked)
{
    gSettings.channels[3].videoDevice = 0;
    Open();
    Click(2, 0);
    EXPECT_TRUE(WaitUntil([&] { return !list->IsChecked(2); }));
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{kNoDeviceRefusal});
    EXPECT_TRUE(sink.Entries().front().blocking);

    Click(3, 0);
    Application().processEvents();
    EXPECT_TRUE(list->IsChecked(3));
    EXPECT_EQ(sink.Entries().size(), 1u);
}

TEST_F(LineupDialogTest, DeviceChoicesEditThePendingSelectionAndTheCaptureOptionsButton)
{
    ChannelRecord& channel = gSettings.channels[5];
    channel.videoDevice = 1;
    channel.editSelection = 1 << 8 | 0xFF;
    Open();
    QPushButton* captureOptions = Button("captureOptions");

    Click(5, 4);
    EXPECT_TRUE(captureOptions->isEnabled()) << "the clicked row has a video device";
    Pick(5, 2, Qt::Key_Up);
    EXPECT_EQ(list->CellText(5, 2), "Cam A");
    EXPECT_EQ(channel.editSelection, 0x00FF);
    EXPECT_TRUE(captureOptions->isEnabled());
    Pick(5, 3, Qt::Key_Down);
    EXPECT_EQ(channel.editSelection, 0x0000);
    Pick(5, 2, Qt::Key_Home);
    EXPECT_EQ(list->CellText(5, 2), "None");
    EXPECT_EQ(channel.editSelection, 0xFF00);
    EXPECT_FALSE(captureOptions->isEnabled()) << "None as video device";

    Click(6, 4);
    EXPECT_FALSE(captureOptions->isEnabled());
    Click(5, 1);
    EXPECT_TRUE(captureOptions->isEnabled()) << "the audio device is left";
}

TEST_F(LineupDialogTest, DeleteChannelMovesTheLaterChannelsDown)
{
    Describe(5, "Five");
    gSettings.channels[5].enabled = 1;
    gSettings.channels[5].videoDevice = 0;
    Describe(6, "Six");
    gSettings.channels[6].videoDevice = 1;
    gSettings.channels[6].editSelection = 1 << 8 | 0xFF;
    gSettings.channels[6].tunerChannel = 9;
    Describe(999, "Last");
    gSettings.channels[999].enabled = 1;
    gSettings.channels[999].audioDevice = 0;
    Open();

    Button("deleteChannel")->click();
    EXPECT_TRUE(sink.Entries().empty()) << "without a selection nothing is asked or deleted";
    list->selectRow(5);
    sink.ScriptAnswers({false});
    Button("deleteChannel")->click();
    EXPECT_STREQ(gSettings.channels[5].description, "Five");

    Button("deleteChannel")->click();
    EXPECT_EQ(sink.Texts().back(), "Would you like to delete the selected channel?");
    EXPECT_STREQ(gSettings.channels[5].description, "Six");
    EXPECT_EQ(gSettings.channels[5].editSelection, 1 << 8 | 0xFF);
    EXPECT_EQ(gSettings.channels[5].tunerChannel, 9);
    EXPECT_EQ(list->CellText(5, 4), "Six");
    EXPECT_EQ(list->CellText(5, 2), "Cam B");
    EXPECT_FALSE(list->IsChecked(5));
    EXPECT_EQ(list->CellText(5, 1), "5");
    EXPECT_STREQ(gSettings.channels[998].description, "Last");
    EXPECT_TRUE(list->IsChecked(998));
    EXPECT_EQ(list->CellText(998, 3), "Line In");

    const ChannelRecord& last = gSettings.channels[999];
    EXPECT_EQ(last.enabled, 0);
    EXPECT_STREQ(last.description, "");
    EXPECT_EQ(last.editSelection, 0xFFFF);
    EXPECT_EQ(last.audioDevice, kNoDevice);
    EXPECT_EQ(list->CellText(999, 3), "None");
    EXPECT_EQ(list->CellText(999, 4), "");
    EXPECT_FALSE(list->IsChecked(999));
    Application().processEvents();
    EXPECT_EQ(sink.Entries().size(), 2u) << "moving the rows trips no check-box guard";
}

TEST_F(LineupDialogTest, ClearListEmptiesEveryChannelOnConsent)
{
    for (int channel : {0, 500, 999}) {
        Describe(channel, "Kept");
        gSettings.channels[channel].enabled = 1;
        gSettings.channels[channel].videoDevice = 0;
        gSettings.channels[channel].videoCrossbarIn = 2;
    }
    Open();
    sink.ScriptAnswers({false});
    Button("clearList")->click();
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{"This will clear the channel lineup. Continue?"});
    EXPECT_TRUE(list->IsChecked(500));
    EXPECT_EQ(gSettings.channels[500].enabled, 1);

    Button("clearList")->click();
    for (int channel : {0, 500, 999}) {
        EXPECT_FALSE(list->IsChecked(channel));
        EXPECT_EQ(list->CellText(channel, 2), "None");
        EXPECT_EQ(list->CellText(channel, 4), "");
        EXPECT_EQ(gSettings.channels[channel].enabled, 0);
        EXPECT_EQ(gSettings.channels[channel].videoDevice, kNoDevice);
        EXPECT_EQ(gSettings.channels[channel].videoCrossbarIn, -1);
        EXPECT_STREQ(gSettings.channels[channel].description, "");
    }
}

TEST_F(LineupDialogTest, OkStoresTheLineupAndSavesIt)
{
    gSettings.channels[4].enabled = 1;
    gSettings.channels[4].editSelection = 1 << 8 | 0;
    gSettings.channels[8].enabled = 1;
    gSettings.channels[8].videoDevice = 0;
    gSettings.channels[8].editSelection = 0xFF << 8 | 0;
    Describe(8, "Radio");
    Open();

    Click(4, 4);
    QLineEdit* edit = VisibleChild<QLineEdit>(list->viewport());
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, "A description longer than thirty-one characters");
    Button("ok")->click();

    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(gSettings.record.enabledChannels, 2);
    const ChannelRecord& four = gSettings.channels[4];
    EXPECT_EQ(four.videoDevice, 1);
    EXPECT_EQ(four.audioDevice, 0);
    EXPECT_STREQ(four.videoDeviceName, "Cam B");
    EXPECT_STREQ(four.audioDeviceName, "Line In");
    EXPECT_STREQ(four.description, "A description longer than thirt");
    const ChannelRecord& eight = gSettings.channels[8];
    EXPECT_EQ(eight.videoDevice, kNoDevice);
    EXPECT_STREQ(eight.videoDeviceName, "None");
    EXPECT_STREQ(eight.audioDeviceName, "Line In");
    EXPECT_STREQ(eight.description, "Radio");
    EXPECT_STREQ(gSettings.channels[9].audioDeviceName, "None");
    EXPECT_EQ(std::filesystem::file_size(config.SettingsFile()), kSettingsFileSize);
}

// The devices of this PC as start-up lists them: the virtual TV card.
class LineupWithDevicesTest : public LineupDialogTest {
protected:
    void SetUp() override
    {
        LineupDialogTest::SetUp();
        gGrabbers.ResetExitSignals();
        ASSERT_EQ(0, AllocateLargeBuffers());
        ASSERT_EQ(0, CreateGraphObjects());
        ASSERT_EQ(0, EnumerateCaptureDevices());
    }
    void TearDown() override
    {
        ReleaseGraphObjects();
        FreeLargeBuffers();
        LineupDialogTest::TearDown();
    }
};

TEST_F(LineupWithDevicesTest, CaptureOptionsOpenForTheClickedChannelUnlessItIsBusy)
{
    ChannelRecord& channel = gSettings.channels[2];
    channel.videoDevice = channel.audioDevice = 0;
    channel.editSelection = 0;
    Open();
    EXPECT_EQ(list->CellText(2, 2), "Virtual TV Tuner");
    Click(2, 4);
    QPushButton* captureOptions = Button("captureOptions");
    ASSERT_TRUE(captureOptions->isEnabled());

    SetRecording(true);
    captureOptions->click();
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{"Currently recording a channel. Please stop the recording first."});
    EXPECT_EQ(ShownWindow<CChannelSetupDlg>(), nullptr);

    SetRecording(false);
    auto shown = WhenShown<CChannelSetupDlg>([](CChannelSetupDlg* setup) {
        auto* motion = setup->findChild<QCheckBox*>("motion");
        ASSERT_NE(motion, nullptr);
        motion->setChecked(true);
        setup->accept();
    });
    captureOptions->click();
    EXPECT_TRUE(*shown);
    EXPECT_EQ(channel.motionDetection, 1) << "the options were those of the clicked channel";
    EXPECT_EQ(gSettings.channels[3].motionDetection, 0);
}

TEST_F(LineupTest, CaptureOptionsWaitForMonitoringRecordingAndStreaming)
{
    const char monitoring[] =
        "Client is currently in background monitoring mode. This will stop monitoring. Do you wish to continue?";
    EXPECT_EQ(CaptureOptionsGuard(), 0);
    SetMonitoring(true);
    sink.ScriptAnswers({false});
    EXPECT_EQ(CaptureOptionsGuard(), -1);
    EXPECT_EQ(sink.Texts(), std::vector<std::string>{monitoring});
    EXPECT_EQ(CaptureOptionsGuard(), 0) << "consent";

    sink.Clear();
    SetRecording(true);
    SetStreaming(true);
    EXPECT_EQ(CaptureOptionsGuard(), -1);
    SetRecording(false);
    EXPECT_EQ(CaptureOptionsGuard(), -1);
    SetStreaming(false);
    SetMonitoring(false);
    EXPECT_EQ(CaptureOptionsGuard(), 0);
    EXPECT_EQ(sink.Texts(), (std::vector<std::string>{monitoring,
                                                       "Currently recording a channel. Please stop the recording first.",
                                                       monitoring,
                                                       "Currently streaming a channel. Please stop the streaming first."}));
}

TEST_F(LineupTest, StoredTextsAreCutWhereACharacterEnds)
{
    std::vector<LineupRow> rows(kChannelCount);
    rows[1].description = std::string(20, 'a') + "\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84";
    ASSERT_EQ(StoreLineup(rows), 0);
    EXPECT_EQ(std::strlen(gSettings.channels[1].description), 30u);
    EXPECT_EQ(std::string(gSettings.channels[1].description), rows[1].description.substr(0, 30));
}

} // namespace
