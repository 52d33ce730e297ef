// Auto-tune on the virtual TV card, whose tuner finds a signal on channels
// 3, 5, 9 and 13: the scan itself, its dialog, the Capture Options button
// that runs it and the lineup rows it fills.

#include "capture_fixture.h"

#include "capture/auto_tune.h"
#include "capture/tuner.h"
#include "capture/auto_tune_dlg.h"
#include "capture/channel_setup_dlg.h"
#include "capture/crossbar_router.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "shared/live_params.h"
#include "shared/server_state.h"
#include "support/test_application.h"
#include "ui/channel_dlg.h"
#include "ui/channel_lineup.h"
#include "ui/list_ctrl_ex.h"
#include "ui/ui_support.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>
#include <vector>

namespace {

const std::vector<int> kStations = {3, 5, 9, 13};

// What a scan reported; it may cancel the scan when a channel comes up.
class ScanLog : public AutoTuneObserver {
public:
    void RangeKnown(TunerChannelRange known) override { range = known; }
    void Scanning(int channel) override
    {
        if (channel == cancelAt && scan)
            scan->Cancel();
    }
    void Found(int channel) override { found.push_back(channel); }
    void Scanned(int channel) override { scanned.push_back(channel); }

    TunerChannelRange range{-1, -1};
    std::vector<int> found;
    std::vector<int> scanned;
    AutoTuneScan* scan = nullptr;
    int cancelAt = -1;
};

// The card's own tuner, counting the requests to keep what a scan found.
class StoreCountingTuner : public TvTuner {
public:
    explicit StoreCountingTuner(TvTuner& card) : card_(card) {}
    int ChannelMinMax(int& minimum, int& maximum) const override { return card_.ChannelMinMax(minimum, maximum); }
    int SetInputType(int input, int type) override { return card_.SetInputType(input, type); }
    int SetCountryCode(int country) override { return card_.SetCountryCode(country); }
    int SetChannel(int channel, int video, int audio) override { return card_.SetChannel(channel, video, audio); }
    int Channel() const override { return card_.Channel(); }
    int AutoTune(int channel, bool& found) override { return card_.AutoTune(channel, found); }
    int StoreAutoTune() override
    {
        ++stores;
        return card_.StoreAutoTune();
    }

    int stores = 0;

private:
    TvTuner& card_;
};

class AutoTuneTest : public CaptureTest {
protected:
    void SetUp() override
    {
        Application();
        CaptureTest::SetUp();
        ClearAutoTuneFoundCount();
        tunerSlot = VideoSlot("Virtual TV Tuner");
        ASSERT_GE(tunerSlot, 0);
    }

    // The graph of the TV card, as the capture options dialog builds it.
    TvTuner& CardTuner()
    {
        EXPECT_EQ(0, SelectCaptureDevicesByIndex(tunerSlot, kNoDevice, gLiveParams.frameRate));
        TvTuner* tuner = FindTuner();
        EXPECT_NE(nullptr, tuner);
        return *tuner;
    }

    // A base record on the TV card with values of its own in every field a
    // scan copies, and later records with values a scan must keep.
    void PrepareRecords(int base)
    {
        ChannelRecord& record = gSettings.channels[base];
        record.enabled = 1;
        record.autoTuneWork = 7;
        record.videoDevice = tunerSlot;
        record.audioDevice = AudioSlot("Virtual TV Tuner");
        record.editSelection = record.videoDevice << 8 | record.audioDevice;
        record.videoCrossbarIn = 0;
        record.videoCrossbarOut = 1;
        record.audioCrossbarIn = 2;
        record.audioCrossbarOut = 3;
        record.tunerInputType = 1;
        record.tunerCountry = 49;
        record.motionDetection = 1;
        record.profile.frameRate = 20;
        record.profile.videoBitRate = 300000;
        std::strcpy(record.videoDeviceName, "Virtual TV Tuner");
        for (int later = base + 1; later < std::min(base + 4, kChannelCount); ++later) {
            ChannelRecord& kept = gSettings.channels[later];
            kept.autoTuneWork = 5;
            kept.motionDetection = 1;
            kept.videoDevice = 9;
            std::strcpy(kept.videoDeviceName, "Old Card");
            std::strcpy(kept.description, "Old");
        }
        before.assign(std::begin(gSettings.channels), std::end(gSettings.channels));
    }

    // Record base + i holds station i, made from the base record; the fields
    // a scan leaves alone are as they were. (The scan itself never changes
    // what it copies from the base record.)
    void ExpectStations(int base, const std::vector<int>& stations)
    {
        const ChannelRecord& source = gSettings.channels[base];
        for (size_t i = 0; i < stations.size(); ++i) {
            const int index = base + static_cast<int>(i);
            const ChannelRecord& record = gSettings.channels[index];
            const ChannelRecord& old = before[index];
            SCOPED_TRACE(index);
            EXPECT_STREQ(("TV Channel " + std::to_string(stations[i])).c_str(), record.description);
            EXPECT_EQ(stations[i], record.tunerChannel);
            EXPECT_EQ(0, record.autoTuneWork);
            EXPECT_EQ(source.editSelection, record.editSelection);
            EXPECT_EQ(source.videoCrossbarIn, record.videoCrossbarIn);
            EXPECT_EQ(source.videoCrossbarOut, record.videoCrossbarOut);
            EXPECT_EQ(source.audioCrossbarIn, record.audioCrossbarIn);
            EXPECT_EQ(source.audioCrossbarOut, record.audioCrossbarOut);
            EXPECT_EQ(source.tunerInputType, record.tunerInputType);
            EXPECT_EQ(source.tunerCountry, record.tunerCountry);
            EXPECT_EQ(0, std::memcmp(&source.profile, &record.profile, sizeof record.profile));
            EXPECT_EQ(old.enabled, record.enabled);
            EXPECT_EQ(old.videoDevice, record.videoDevice);
            EXPECT_EQ(old.audioDevice, record.audioDevice);
            EXPECT_EQ(old.motionDetection, record.motionDetection);
            EXPECT_STREQ(old.videoDeviceName, record.videoDeviceName);
        }
    }

    // Every record outside [first, first + count) is byte for byte as before.
    void ExpectOthersUntouched(int first, int count)
    {
        for (int index = 0; index < kChannelCount; ++index) {
            const bool written = index >= first && index < first + count;
            if (!written) {
                ASSERT_EQ(0, std::memcmp(&before[index], &gSettings.channels[index], sizeof(ChannelRecord))) << index;
            }
        }
    }

    int tunerSlot = -1;
    std::vector<ChannelRecord> before;

    Tuner tunerOwner;
};

TEST_F(AutoTuneTest, TheVirtualTunerFindsItsStationsInOrderFromTheBaseRecord)
{
    TvTuner& tuner = CardTuner();
    PrepareRecords(10);
    ScanLog log;
    AutoTuneScan scan(tuner, 10);
    EXPECT_EQ(4, scan.Run(log));
    EXPECT_EQ(4, AutoTuneFoundCount());
    EXPECT_EQ(2, log.range.minimum);
    EXPECT_EQ(69, log.range.maximum);
    EXPECT_EQ(kStations, log.found);
    ASSERT_EQ(68u, log.scanned.size()) << "2 to 69 inclusive";
    EXPECT_EQ(2, log.scanned.front());
    EXPECT_EQ(69, log.scanned.back());
    ExpectStations(10, kStations);
    ExpectOthersUntouched(10, 4);
    const ChannelRecord& base = gSettings.channels[10];
    EXPECT_EQ(1, base.videoCrossbarOut);
    EXPECT_EQ(3, base.audioCrossbarOut);
    EXPECT_EQ(49, base.tunerCountry);
    EXPECT_EQ(20, base.profile.frameRate);
}

TEST_F(AutoTuneTest, CancelStopsAfterTheChannelBeingTunedAndStillKeepsTheTunersResults)
{
    StoreCountingTuner tuner(CardTuner());
    PrepareRecords(10);
    AutoTuneScan scan(tuner, 10);
    ScanLog log;
    log.scan = &scan;
    log.cancelAt = 5;
    EXPECT_EQ(2, scan.Run(log));
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5}), log.scanned);
    EXPECT_EQ(1, tuner.stores);
    ExpectStations(10, {3, 5});
    ExpectOthersUntouched(10, 2);
}

TEST_F(AutoTuneTest, ABaseRecordNearTheEndStopsAtTheLastRecord)
{
    TvTuner& tuner = CardTuner();
    PrepareRecords(997);
    ScanLog log;
    AutoTuneScan scan(tuner, 997);
    EXPECT_EQ(3, scan.Run(log));
    EXPECT_EQ((std::vector<int>{3, 5, 9}), log.found);
    EXPECT_EQ(9, log.scanned.back()) << "nothing is scanned once record 999 is written";
    ExpectStations(997, {3, 5, 9});
    ExpectOthersUntouched(997, 3);
}

TEST_F(AutoTuneTest, TheDialogShowsTheScanAndClosesWithOkWhenItEnds)
{
    TvTuner& tuner = CardTuner();
    PrepareRecords(20);
    CAutoTuneDlg dialog(nullptr, 20, tuner);
    EXPECT_EQ("Auto Tuning...", dialog.windowTitle());
    dialog.show();
    ASSERT_TRUE(WaitUntil([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(QDialog::Accepted, dialog.result());
    EXPECT_EQ("13", dialog.findChild<QLineEdit*>("lastFound")->text());
    EXPECT_EQ("69", dialog.findChild<QLineEdit*>("beingScanned")->text());
    auto* progress = dialog.findChild<QProgressBar*>("progress");
    EXPECT_EQ(2, progress->minimum());
    EXPECT_EQ(69, progress->maximum());
    EXPECT_EQ(69, progress->value());
    ExpectStations(20, kStations);
    ExpectOthersUntouched(20, 4);
}

TEST_F(AutoTuneTest, CaptureOptionsAutoTuneScansFromItsRecordAndShowsTheFirstChannelFound)
{
    PrepareRecords(30);
    CChannelSetupDlg options(nullptr, 30, tunerOwner);
    auto* autoTune = options.findChild<QPushButton*>("autoTune");
    ASSERT_TRUE(autoTune->isEnabled()) << "the TV card has a tuner";
    auto* channel = options.findChild<QSpinBox*>("channel");
    channel->setValue(60);
    // While the scan runs, the window thread still serves a handheld's
    // requests: none of them may rebuild the graph under the scan.
    std::string monitoringDuringScan;
    QTimer::singleShot(0, [&] { monitoringDuringScan = StartMonitoring(tunerOwner, 30).Reason(); });
    // The modal scan closes itself when it ends, and the click returns.
    autoTune->click();
    EXPECT_EQ("Monitoring was refused: the tuner is being scanned.", monitoringDuringScan);
    EXPECT_EQ(3, channel->value());
    EXPECT_EQ(49, options.findChild<QSpinBox*>("country")->value());
    EXPECT_EQ(4, AutoTuneFoundCount());
    EXPECT_FALSE(IsCaptureRunning()) << "the graph is stopped again";
    ExpectStations(30, kStations);
    EXPECT_EQ(-1, gSettings.channels[33].audioCrossbarIn) << "the controls were stored before the scan";
}

TEST_F(AutoTuneTest, TheLineupShowsTheRowsTheScanWrote)
{
    PrepareRecords(40);
    CChannelDlg lineup(tunerOwner);
    lineup.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&lineup));
    auto* list = lineup.findChild<CListCtrlEx*>();
    list->scrollToItem(list->item(40, kColumnChannel));
    const QRect cell = list->visualRect(list->model()->index(40, kColumnChannel));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    auto* captureOptions = lineup.findChild<QPushButton*>("captureOptions");
    ASSERT_TRUE(captureOptions->isEnabled());

    auto shown = WhenShown<CChannelSetupDlg>([](CChannelSetupDlg* options) {
        options->findChild<QPushButton*>("autoTune")->click();
        options->accept();
    });
    captureOptions->click();
    ASSERT_TRUE(*shown);
    for (int i = 0; i < 4; ++i) {
        const int row = 40 + i;
        EXPECT_EQ(QString("TV Channel %1").arg(kStations[i]), list->CellText(row, kColumnDescription));
        EXPECT_EQ("Virtual TV Tuner", list->CellText(row, kColumnVideo));
        EXPECT_EQ("Virtual TV Tuner", list->CellText(row, kColumnAudio));
        EXPECT_TRUE(list->IsChecked(row)) << row;
    }
    EXPECT_EQ("", list->CellText(44, kColumnDescription));
    EXPECT_FALSE(list->IsChecked(44));
    EXPECT_EQ(0, AutoTuneFoundCount()) << "the lineup has taken the count";
}

} // namespace
