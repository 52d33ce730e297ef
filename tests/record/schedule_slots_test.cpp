// Storing, refusing, ordering and deleting scheduled recordings, on a clock
// fixed at Monday 2024-03-04 20:00.

#include "shared/server_state.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "record/schedule_slots.h"

#include <QCoreApplication>

#include "support/test_application.h"

#include <gtest/gtest.h>

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
    SetMessageHandler(MessageTarget::Frame, [&stops](unsigned message, uintptr_t, intptr_t) {
        stops += message == kMsgStopRecording;
    });
    ScheduleSlot* schedules = gSettings.record.schedules;
    schedules[7] = {1, 1, 3, 0, At(4, 19, 0), At(4, 21, 0)};
    schedules[8] = {1, 0, 3, 0, At(5, 19, 0), At(5, 21, 0)};
    gSettings.record.scheduleRowToSlot[0] = 7;
    gSettings.record.scheduleRowToSlot[1] = 8;
    gState.recording = 1;
    EXPECT_EQ(0, DeleteScheduleRow(1));
    EXPECT_EQ(0, DeleteScheduleRow(0));
    QCoreApplication::processEvents();
    EXPECT_EQ(1, stops);
    EXPECT_EQ(0, schedules[7].used + schedules[7].active + schedules[8].used);

    schedules[7] = {1, 1, 3, 0, At(4, 19, 0), At(4, 21, 0)};
    gState.recording = 0;
    EXPECT_EQ(0, DeleteScheduleRow(0));
    for (int row : {20, -1})
        EXPECT_EQ(-1, DeleteScheduleRow(row));
    QCoreApplication::processEvents();
    EXPECT_EQ(1, stops);
    SetMessageHandler(MessageTarget::Frame, {});
}

} // namespace
