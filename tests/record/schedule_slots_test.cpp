// Storing, refusing, ordering and deleting scheduled recordings, and the
// schedule thread's passes, on a clock fixed at Monday 2024-03-04 20:00 and
// moved by hand.

#include "shared/server_state.h"
#include "capture/capture_fixture.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "record/schedule_dialogs.h"
#include "record/schedule_slots.h"
#include "record/schedule_thread.h"

#include <QCoreApplication>
#include <QDateEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimeEdit>

#include "support/test_application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr SystemTime kNow{2024, 3, 1, 4, 20, 0, 0, 0};

SystemTime At(uint16_t day, uint16_t hour, uint16_t minute)
{
    return SystemTime{2024, 3, 0, day, hour, minute, 0, 0};
}

class ScheduleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        ResetServerState();
        gSettings.channels[3].enabled = 1;
        SetLocalTimeOverride(&kNow);
        SetMessageSink(&sink);
    }
    void TearDown() override
    {
        SetMessageSink(nullptr);
        SetLocalTimeOverride(nullptr);
    }

    static int Add(int channel, const SystemTime& start, const SystemTime& end, int show = 1)
    {
        return ValidateAndStoreSchedule(channel, 0, start, end, 0, show);
    }

    RecordingMessageSink sink;
};

TEST_F(ScheduleTest, NewSchedulesAreCheckedInOrderAndStored)
{
    ASSERT_EQ(kScheduleStored, Add(3, At(5, 10, 0), At(5, 11, 0)));
    const ScheduleSlot& first = gSettings.record.schedules[0];
    EXPECT_EQ(1, first.used);
    EXPECT_EQ(3, first.channel);
    EXPECT_EQ(0, CompareSystemTime(At(5, 10, 0), first.start));
    EXPECT_EQ(0, CompareSystemTime(At(5, 11, 0), first.end));
    EXPECT_TRUE(sink.Entries().empty());

    EXPECT_EQ(kScheduleOverlaps, Add(3, At(5, 10, 30), At(5, 12, 0)));
    EXPECT_EQ(kScheduleOverlaps, Add(3, At(5, 9, 0), At(5, 10, 1)));
    EXPECT_EQ(kScheduleStartPassed, Add(3, At(4, 19, 59), At(4, 21, 0)));
    EXPECT_EQ(kScheduleEndNotAfterStart, Add(3, At(6, 9, 0), At(6, 9, 0)));
    // The past is found before the order of start and end.
    EXPECT_EQ(kScheduleStartPassed, Add(3, At(4, 19, 0), At(4, 18, 0)));
    EXPECT_EQ(kScheduleChannelUnavailable, Add(4, At(6, 9, 0), At(6, 10, 0)));
    EXPECT_EQ(kScheduleChannelUnavailable, Add(1000, At(6, 9, 0), At(6, 10, 0)));
    EXPECT_EQ(kScheduleChannelUnavailable, Add(-1, At(6, 9, 0), At(6, 10, 0)));
    // Overlap is found before the channel.
    EXPECT_EQ(kScheduleOverlaps, Add(1000, At(5, 10, 30), At(5, 12, 0)));
    const std::vector<std::string> expected = {
        "This schedule conflicts with the following schedule in the list: Ch 3, Tuesday, March 05, 2024 10:00:00",
        "This schedule conflicts with the following schedule in the list: Ch 3, Tuesday, March 05, 2024 10:00:00",
        "Recording start time is in the past.",
        "Recording end time must be later than the recording start time.",
        "Recording start time is in the past.",
        "Selected channel is not setup or enabled.",
        "Selected channel is not setup or enabled.",
        "Selected channel is not setup or enabled.",
        "This schedule conflicts with the following schedule in the list: Ch 3, Tuesday, March 05, 2024 10:00:00"};
    EXPECT_EQ(expected, sink.Texts());
    for (const auto& entry : sink.Entries())
        EXPECT_TRUE(entry.blocking && entry.kind == "error");

    // Only the new start and end are tested: the end bound is exclusive, and
    // enclosing the existing schedule is allowed.
    EXPECT_EQ(kScheduleStored, Add(3, At(5, 9, 0), At(5, 10, 0)));
    gSettings.record.schedules[1].used = 0;
    EXPECT_EQ(kScheduleStored, Add(3, At(5, 9, 0), At(5, 12, 0)));
    EXPECT_EQ(1, gSettings.record.schedules[1].used);
}

TEST_F(ScheduleTest, TwentySlotsAtMostAndSilentRefusals)
{
    for (int i = 0; i < kScheduleSlots; ++i)
        ASSERT_EQ(kScheduleStored, Add(3, At(10 + i, 8, 0), At(10 + i, 9, 0))) << i;
    sink.Clear();
    EXPECT_EQ(kScheduleSlotsFull, Add(3, At(31, 8, 0), At(31, 9, 0)));
    EXPECT_EQ(std::vector<std::string>{"Maximum number of available recording slots has been reached. Please delete "
                                       "some of the scheduled recordings."},
              sink.Texts());
    sink.Clear();
    EXPECT_EQ(kScheduleSlotsFull, Add(3, At(31, 8, 0), At(31, 9, 0), 0));
    EXPECT_TRUE(sink.Entries().empty());
}

TEST_F(ScheduleTest, EditingTakesTheSlotOfTheRowAndIgnoresItself)
{
    ASSERT_EQ(kScheduleStored, Add(3, At(6, 10, 0), At(6, 11, 0)));
    ASSERT_EQ(kScheduleStored, Add(3, At(5, 10, 0), At(5, 11, 0)));
    ASSERT_EQ(2, MapUpcomingSchedules());
    gSettings.record.schedules[1].active = 1;
    EXPECT_EQ(kScheduleStored, ValidateAndStoreSchedule(3, 0, At(5, 10, 30), At(5, 11, 30), 1, 1));
    EXPECT_EQ(0, CompareSystemTime(At(5, 10, 30), gSettings.record.schedules[1].start));
    EXPECT_EQ(1, gSettings.record.schedules[1].active);
    EXPECT_EQ(kScheduleOverlaps, ValidateAndStoreSchedule(3, 0, At(6, 10, 30), At(6, 12, 0), 1, 1));

    gSettings.record.schedules[0].used = 0;
    gSettings.record.scheduleRowToSlot[5] = 99;
    sink.Clear();
    for (int row : {1, 5, 20, -1})
        EXPECT_EQ(kScheduleGone, ValidateAndStoreSchedule(3, row, At(7, 10, 0), At(7, 11, 0), 1, 1)) << row;
    EXPECT_EQ(std::vector<std::string>(4, "Selected schedule no longer exists."), sink.Texts());
}

TEST_F(ScheduleTest, ListsShowWhatIsStillToComeByStart)
{
    ScheduleSlot* schedules = gSettings.record.schedules;
    schedules[0] = {1, 0, 3, 0, At(4, 18, 0), At(4, 19, 59)};  // ended a minute ago
    schedules[1] = {1, 0, 3, 0, At(6, 8, 0), At(6, 9, 0)};
    schedules[2] = {1, 0, 3, 0, At(5, 8, 0), At(5, 9, 0)};
    schedules[4] = {1, 0, 3, 0, At(5, 8, 0), At(5, 8, 30)};
    schedules[5] = {1, 1, 3, 0, At(4, 19, 0), At(4, 21, 0)};  // recording now
    schedules[6] = {0, 0, 3, 0, At(5, 7, 0), At(5, 8, 0)};
    gSettings.record.scheduleRowToSlot[4] = 17;
    ASSERT_EQ(4, MapUpcomingSchedules());
    const int* map = gSettings.record.scheduleRowToSlot;
    EXPECT_EQ((std::vector<int>{5, 2, 4, 1, 17}), std::vector<int>(map, map + 5));
}

TEST_F(ScheduleTest, DeletingARowFreesItsSlotAndStopsTheRecordingItStarted)
{
    Application();
    int stops = 0;
    SetMessageHandler(MessageTarget::Recorder, [&stops](unsigned message, uintptr_t, intptr_t) {
        stops += message == kMsgStopRecording;
    });
    ScheduleSlot* schedules = gSettings.record.schedules;
    schedules[7] = {1, 1, 3, 0, At(4, 19, 0), At(4, 21, 0)};
    schedules[8] = {1, 0, 3, 0, At(5, 19, 0), At(5, 21, 0)};
    gSettings.record.scheduleRowToSlot[0] = 7;
    gSettings.record.scheduleRowToSlot[1] = 8;
    SetRecording(true);
    EXPECT_EQ(0, DeleteScheduleRow(1));
    EXPECT_EQ(0, DeleteScheduleRow(0));
    QCoreApplication::processEvents();
    EXPECT_EQ(1, stops);
    EXPECT_EQ(0, schedules[7].used + schedules[7].active + schedules[8].used);

    schedules[7] = {1, 1, 3, 0, At(4, 19, 0), At(4, 21, 0)};
    SetRecording(false);
    EXPECT_EQ(0, DeleteScheduleRow(0));
    for (int row : {20, -1})
        EXPECT_EQ(-1, DeleteScheduleRow(row));
    QCoreApplication::processEvents();
    EXPECT_EQ(1, stops);
    SetMessageHandler(MessageTarget::Recorder, {});
}

// The passes of the schedule thread, with the clock moved by hand and the
// frame's messages collected.
class SchedulePassTest : public ScheduleTest {
protected:
    void SetUp() override
    {
        ScheduleTest::SetUp();
        Application();
        gSettings.channels[5].enabled = 1;
        gSettings.record.currentChannel = 3;
        SetMessageHandler(MessageTarget::Recorder, [this](unsigned message, uintptr_t, intptr_t) {
            if (message == kMsgStartRecording || message == kMsgStopRecording)
                posted.push_back(message);
        });
    }
    void TearDown() override
    {
        SetMessageHandler(MessageTarget::Recorder, {});
        ScheduleTest::TearDown();
    }

    void SetClock(uint16_t hour, uint16_t minute)
    {
        now = At(4, hour, minute);
        SetLocalTimeOverride(&now);
    }

    // One pass, and the start and stop messages it posted.
    std::vector<unsigned> Pass()
    {
        posted.clear();
        RunSchedulePass(tuner);
        QCoreApplication::processEvents();
        return posted;
    }

    SystemTime now{};
    std::vector<unsigned> posted;
    Tuner tuner;
};

using Posted = std::vector<unsigned>;

TEST_F(SchedulePassTest, DueSchedulesStartInSlotOrderAndTheirEndsFreeThem)
{
    ScheduleSlot* schedules = gSettings.record.schedules;
    schedules[4] = {1, 0, 5, 0, At(4, 20, 0), At(4, 20, 10)};
    schedules[2] = {1, 0, 3, 0, At(4, 20, 0), At(4, 20, 5)};
    SetClock(20, 0);
    EXPECT_EQ(Posted{kMsgStartRecording}, Pass());
    EXPECT_EQ(1, schedules[2].active);
    EXPECT_EQ(0, schedules[4].active) << "one slot per pass";
    SetRecording(true);
    EXPECT_EQ(Posted{}, Pass()) << "the other waits while a recording runs";

    SetClock(20, 5);
    EXPECT_EQ(Posted{kMsgStopRecording}, Pass());
    EXPECT_EQ(0, schedules[2].used);
    SetRecording(false);
    EXPECT_EQ(Posted{kMsgStartRecording}, Pass());
    EXPECT_EQ(5, gSettings.record.currentChannel);
    SetRecording(true);
    SetClock(20, 10);
    EXPECT_EQ(Posted{kMsgStopRecording}, Pass());
    EXPECT_EQ(0, schedules[4].used + schedules[4].active);
    EXPECT_EQ(Posted{}, Pass());
}

// A schedule asks the tuner, on which a real stream's hold builds a graph of
// the virtual TV card.
class ScheduleWaitTest : public CaptureTest {
protected:
    void SetUp() override
    {
        Application();
        CaptureTest::SetUp();
        for (int channel : {3, 5}) {
            ChannelRecord& record = gSettings.channels[channel];
            record.enabled = 1;
            record.videoDevice = VideoSlot("Virtual TV Tuner");
            record.audioDevice = AudioSlot("Virtual TV Tuner");
            record.tunerChannel = channel;
        }
        gSettings.record.currentChannel = 3;
        SetMessageHandler(MessageTarget::Recorder, [this](unsigned message, uintptr_t, intptr_t) {
            starts += message == kMsgStartRecording;
        });
    }
    void TearDown() override
    {
        SetMessageHandler(MessageTarget::Recorder, {});
        tuner.Release(TunerUse::Live);
        SetLocalTimeOverride(nullptr);
        CaptureTest::TearDown();
    }

    int Pass()
    {
        starts = 0;
        RunSchedulePass(tuner);
        QCoreApplication::processEvents();
        return starts;
    }

    Tuner tuner;
    int starts = 0;
};

TEST_F(ScheduleWaitTest, AScheduleWaitsForALiveStreamOnAnotherChannel)
{
    ScheduleSlot* schedules = gSettings.record.schedules;
    // Its start passed while the program was not running; its end is to come.
    schedules[0] = {1, 0, 5, 0, At(4, 19, 30), At(4, 21, 0)};
    SystemTime now = At(4, 20, 0);
    SetLocalTimeOverride(&now);
    ASSERT_TRUE(tuner.Hold(TunerUse::Live, 3, 25).Granted());
    EXPECT_EQ(0, Pass());
    EXPECT_EQ(3, gSettings.record.currentChannel);
    tuner.Release(TunerUse::Live);
    EXPECT_EQ(1, Pass());
    EXPECT_EQ(5, gSettings.record.currentChannel);

    // On the stream's own channel it starts at once.
    schedules[0] = {1, 0, 5, 0, At(4, 19, 30), At(4, 21, 0)};
    ASSERT_TRUE(tuner.Hold(TunerUse::Live, 5, 25).Granted());
    EXPECT_EQ(1, Pass());
}

TEST_F(SchedulePassTest, AStartedScheduleIsNotStartedAgain)
{
    gSettings.record.schedules[0] = {1, 0, 3, 0, At(4, 19, 30), At(4, 21, 0)};
    SetClock(20, 0);
    EXPECT_EQ(Posted{kMsgStartRecording}, Pass());
    // The start failed, or the recording met its limit: no second start.
    EXPECT_EQ(Posted{}, Pass());
    SetClock(21, 0);
    EXPECT_EQ(Posted{}, Pass()) << "no recording runs, so nothing to stop";
    EXPECT_EQ(0, gSettings.record.schedules[0].used);
}

TEST_F(SchedulePassTest, TheThreadRunsPassesUntilStopped)
{
    gSettings.record.schedules[0] = {1, 0, 3, 0, At(4, 19, 0), At(4, 19, 30)};
    // Saved while its recording ran when the program last ended.
    gSettings.record.schedules[1] = {1, 1, 3, 0, At(4, 21, 0), At(4, 22, 0)};
    SetClock(20, 0);
    ScheduleThread schedule;
    ASSERT_TRUE(schedule.Start(tuner));
    EXPECT_EQ(0, gSettings.record.schedules[1].active) << "nothing records after a start";
    EXPECT_TRUE(WaitUntil([] { return gSettings.record.schedules[0].used == 0; }, 3000)) << "a past schedule is freed";
    schedule.Stop();
    gSettings.record.schedules[0] = {1, 0, 3, 0, At(4, 19, 0), At(4, 19, 30)};
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(1, gSettings.record.schedules[0].used) << "no pass after the stop";
}

TEST_F(SchedulePassTest, TheListShowsWhatIsToComeAndClearAllEmptiesIt)
{
    EXPECT_EQ(0, Add(3, At(5, 9, 0), At(5, 10, 0)));
    EXPECT_EQ(0, Add(3, At(4, 21, 0), At(4, 22, 0)));
    const std::vector<ScheduleRow> rows = ScheduleListRows();
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("3", rows[0].channel);
    EXPECT_EQ("Monday, March 04, 2024 21:00:00", rows[0].start);
    EXPECT_EQ("Tuesday, March 05, 2024 10:00:00", rows[1].end);
    ClearAllSchedules();
    EXPECT_TRUE(ScheduleListRows().empty());
    CRecSchedulerDlg editor(-1);
    QSpinBox* channel = editor.findChild<QSpinBox*>();
    ASSERT_NE(nullptr, channel);
    channel->setValue(999);
    channel->stepBy(1);
    EXPECT_EQ(0, channel->value());
    channel->stepBy(-1);
    EXPECT_EQ(999, channel->value());
    const SystemTime combined = CombineDateAndTime(At(5, 0, 0), At(1, 13, 45));
    EXPECT_EQ(5, combined.day);
    EXPECT_EQ(13, combined.hour);
    EXPECT_EQ(45, combined.minute);
}

TEST_F(SchedulePassTest, TheEditorStoresWhatItsPickersShow)
{
    auto set = [](CRecSchedulerDlg& editor, const QDateTime& start, const QDateTime& end, int channel) {
        const QList<QDateEdit*> dates = editor.findChildren<QDateEdit*>();
        const QList<QTimeEdit*> times = editor.findChildren<QTimeEdit*>();
        ASSERT_EQ(2, dates.size());
        ASSERT_EQ(2, times.size());
        dates[0]->setDate(start.date());
        times[0]->setTime(start.time());
        dates[1]->setDate(end.date());
        times[1]->setTime(end.time());
        editor.findChild<QSpinBox*>()->setValue(channel);
    };
    const QDateTime nine(QDate(2024, 3, 4), QTime(21, 0));
    CRecSchedulerDlg adding(-1);
    set(adding, nine.addSecs(-7200), nine, 3);
    adding.accept();
    EXPECT_NE(QDialog::Accepted, adding.result()) << "a start in the past keeps it open";
    EXPECT_TRUE(sink.Saw("Recording start time is in the past."));
    set(adding, nine, nine.addSecs(1800), 3);
    adding.accept();
    EXPECT_EQ(QDialog::Accepted, adding.result());
    ASSERT_EQ(1u, ScheduleListRows().size());
    EXPECT_EQ("Monday, March 04, 2024 21:30:00", ScheduleListRows()[0].end);

    // Editing shows the schedule, and moving it within itself is no conflict.
    CRecSchedulerDlg editing(0);
    set(editing, nine.addSecs(600), nine.addSecs(2400), 3);
    editing.accept();
    EXPECT_EQ(QDialog::Accepted, editing.result());
    EXPECT_EQ("Monday, March 04, 2024 21:10:00", ScheduleListRows()[0].start);
}

TEST_F(SchedulePassTest, TheListDeletesAndClearsOnlyWithConsent)
{
    ASSERT_EQ(0, Add(3, At(4, 21, 0), At(4, 22, 0)));
    ASSERT_EQ(0, Add(3, At(4, 23, 0), At(5, 0, 0)));
    CRecScheduleListDlg list;
    EXPECT_EQ(2, list.RowCount());
    auto click = [&list](const QString& text) {
        for (QPushButton* button : list.findChildren<QPushButton*>())
            if (button->text() == text)
                button->click();
    };
    list.findChild<QTableWidget*>()->selectRow(1);
    sink.ScriptAnswers({false, true});
    click("Delete Schedule");
    EXPECT_EQ(2, list.RowCount()) << "declined";
    list.findChild<QTableWidget*>()->selectRow(1);
    click("Delete Schedule");
    EXPECT_EQ(1, list.RowCount());
    EXPECT_EQ("Monday, March 04, 2024 21:00:00", ScheduleListRows()[0].start);
    sink.ScriptAnswers({false});
    click("Clear All");
    EXPECT_EQ(1, list.RowCount());
    click("Clear All");
    EXPECT_EQ(0, list.RowCount());
    EXPECT_TRUE(sink.Saw(kDeleteScheduleText));
    EXPECT_TRUE(sink.Saw(kClearSchedulesText));
}

} // namespace
