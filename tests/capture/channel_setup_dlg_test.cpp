#include "capture_fixture.h"

#include "shared/server_state.h"
#include "capture/channel_setup_dlg.h"
#include "capture/tuner.h"
#include "capture/devices.h"
#include "capture/preview_widget.h"
#include "config/network_sources.h"
#include "config/settings.h"
#include "support/process.h"
#include "support/test_application.h"
#include "shared/live_params.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include <filesystem>

namespace {

class ChannelSetupDlgTest : public CaptureTest {
protected:
    void SetUp() override
    {
        Application();
        CaptureTest::SetUp();
    }

    template <class T> static T* Control(QWidget& dialog, const char* name)
    {
        T* control = dialog.findChild<T*>(name);
        EXPECT_NE(nullptr, control) << name;
        return control;
    }

    Tuner tuner;
};

TEST_F(ChannelSetupDlgTest, TheTvCardShowsItsRoutesWithTheTunerPreselected)
{
    ChannelRecord& record = gSettings.channels[3];
    record.editSelection = VideoSlot("Virtual TV Tuner") << 8 | 0xFF;
    CChannelSetupDlg dialog(nullptr, 3, tuner);
    QComboBox* inputs = Control<QComboBox>(dialog, "videoInput");
    ASSERT_EQ(3, inputs->count());
    EXPECT_EQ("Video Tuner", inputs->itemText(0));
    EXPECT_EQ("Video Composite", inputs->itemText(1));
    EXPECT_EQ("Video SVideo", inputs->itemText(2));
    EXPECT_EQ(0, inputs->currentIndex());
    for (const char* empty : {"videoOutput", "audioInput", "audioOutput"})
        EXPECT_EQ(0, Control<QComboBox>(dialog, empty)->count());
    EXPECT_TRUE(Control<QSpinBox>(dialog, "channel")->isEnabled());
    EXPECT_TRUE(Control<QRadioButton>(dialog, "cable")->isChecked());  // a new record's input type is 0
    EXPECT_TRUE(Control<QPushButton>(dialog, "autoTune")->isEnabled());
}

TEST_F(ChannelSetupDlgTest, OkWritesWhatTheControlsShow)
{
    ChannelRecord& record = gSettings.channels[3];
    record.editSelection = VideoSlot("Virtual TV Tuner") << 8 | 0xFF;
    CChannelSetupDlg dialog(nullptr, 3, tuner);
    Control<QComboBox>(dialog, "videoInput")->setCurrentIndex(2);
    QSpinBox* channel = Control<QSpinBox>(dialog, "channel");
    EXPECT_EQ(-1, channel->value());
    channel->stepBy(1);
    channel->stepBy(-1);
    EXPECT_EQ(0, channel->value());
    channel->setValue(999);
    channel->stepBy(5);
    EXPECT_EQ(1000, channel->value());
    Control<QRadioButton>(dialog, "antenna")->setChecked(true);
    Control<QCheckBox>(dialog, "motion")->setChecked(true);
    dialog.accept();
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_EQ(2, record.videoCrossbarIn);
    EXPECT_EQ(1000, record.tunerChannel);
    EXPECT_EQ(1, record.tunerInputType);
    EXPECT_EQ(1, record.tunerCountry);
    EXPECT_EQ(1, record.motionDetection);
    EXPECT_EQ(-1, record.audioCrossbarIn);
}

TEST_F(ChannelSetupDlgTest, WithoutATunerTheTuningControlsStayOffAndTheRecordKeepsItsValues)
{
    AddVirtualDevice(VideoDevice("Composite Card", {{640, 480}}, {{2, 3}}));
    Enumerate();
    ChannelRecord& record = gSettings.channels[5];
    record.editSelection = VideoSlot("Composite Card") << 8 | 0xFF;
    record.tunerChannel = 12;
    record.tunerCountry = 49;
    CChannelSetupDlg dialog(nullptr, 5, tuner);
    EXPECT_FALSE(Control<QSpinBox>(dialog, "channel")->isEnabled());
    EXPECT_FALSE(Control<QRadioButton>(dialog, "cable")->isEnabled());
    EXPECT_EQ(-1, Control<QComboBox>(dialog, "videoInput")->currentIndex());
    dialog.accept();
    EXPECT_EQ(12, record.tunerChannel);
    EXPECT_EQ(49, record.tunerCountry);
    EXPECT_EQ(-1, record.videoCrossbarIn);
}

TEST_F(ChannelSetupDlgTest, ThePreviewShowsTheRunningGraphsPictures)
{
    QWidget parent;
    CPreviewWidget* preview = GetPreviewWidget(&parent);
    EXPECT_EQ(preview, GetPreviewWidget(&parent));
    SetPreviewVisible(true);
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
    ASSERT_EQ(0, StartCapture());
    for (int wait = 0; wait < 100 && preview->Image().isNull(); ++wait) {
        QTest::qWait(20);
        preview->Refresh();
    }
    EXPECT_EQ(QSize(640, 480), preview->Image().size());
    EXPECT_FALSE(preview->isHidden());
    EXPECT_EQ(0, StopCapture());
    preview->Refresh();
    EXPECT_TRUE(preview->isHidden());
}

} // namespace

namespace {

// Sources added in the dialog are written to Sources.ini and listed as
// devices at once; Test shows a file's first picture, or why a source
// failed, without holding the window up.
TEST_F(ChannelSetupDlgTest, NetworkSourcesAreAddedTestedAndRemoved)
{
    const std::string film = config.Root() + "/red.ts";
    ASSERT_EQ(0, RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=320x240:r=25",
                             "-t", "2", "-c:v", "mpeg2video", "-f", "mpegts", film},
                            60000)
                     .exitCode);
    ChannelRecord& record = gSettings.channels[3];
    record.editSelection = VideoSlot("Virtual TV Tuner") << 8 | 0xFF;
    // A choice made in the open lineup and not stored yet.
    gSettings.channels[7].editSelection = VideoSlot("Virtual TV Tuner") << 8 | 0xFF;
    CChannelSetupDlg dialog(nullptr, 3, tuner);
    QListWidget* sources = Control<QListWidget>(dialog, "sources");
    QLabel* result = Control<QLabel>(dialog, "sourceResult");
    EXPECT_EQ(0, sources->count());

    Control<QLineEdit>(dialog, "sourceName")->setText("Red file");
    Control<QLineEdit>(dialog, "sourceUrl")->setText(QString::fromStdString(film));
    Control<QPushButton>(dialog, "addSource")->click();
    ASSERT_EQ(1, sources->count());
    EXPECT_EQ("Red file: " + film, sources->item(0)->text().toStdString());
    EXPECT_EQ("Red file", gDeviceNames.video.back()) << "listed as a capture device at once";
    ASSERT_EQ(1u, LoadNetworkSources().size());
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(NetworkSourcesPath()).permissions())
        << "URLs may hold passwords";

    Control<QPushButton>(dialog, "testSource")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !result->pixmap().isNull(); }, 10000)) << result->text().toStdString();
    const QImage picture = result->pixmap().toImage();
    const QColor middle = picture.pixelColor(picture.width() / 2, picture.height() / 2);
    EXPECT_GT(middle.red(), 200);
    EXPECT_LT(middle.green(), 60);

    Control<QLineEdit>(dialog, "sourceName")->setText("Red file");
    Control<QLineEdit>(dialog, "sourceUrl")->setText("rtsp://127.0.0.1:9/none");
    Control<QPushButton>(dialog, "addSource")->click();
    EXPECT_EQ(1, sources->count()) << "the name is taken";

    sources->setCurrentRow(-1);
    Control<QLineEdit>(dialog, "sourceUrl")->setText("http://127.0.0.1:9/closed.ts");
    Control<QPushButton>(dialog, "testSource")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return result->text().contains("could not be opened"); }, 10000));
    EXPECT_TRUE(result->text().contains("Connection refused")) << result->text().toStdString();

    sources->setCurrentRow(0);
    Control<QPushButton>(dialog, "removeSource")->click();
    EXPECT_EQ(0, sources->count());
    EXPECT_TRUE(LoadNetworkSources().empty());
    EXPECT_NE("Red file", gDeviceNames.video.back());
    EXPECT_EQ(VideoSlot("Virtual TV Tuner") << 8 | 0xFF, gSettings.channels[7].editSelection)
        << "the lineup's pending choices stay";
}

} // namespace
