// The guide's planned recordings take schedule slots as they come within a
// day: none is lost to the 20 slots' limit, and a slot deleted before its
// start skips that one recording only.

#include "config/settings.h"
#include "guide/guide_import.h"
#include "guide/recording_rules.h"
#include "platform/clock.h"
#include "record/guide_recordings.h"
#include "record/guide_slots.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int64_t kHour = 3600;

class GuideSlotsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        SetDefaultSettings();
        gSettings.channels[3].enabled = 1;
        std::string error;
        store = GuideStore::Open(GuideDatabasePath(), error);
        ASSERT_TRUE(store) << error;
        ImportNewsAt({now + kHour, now + 3 * kHour, now + 25 * kHour});
        RecordingRule series;
        series.title = "The News";
        series.series = true;
        ASSERT_NE(0, RecordingRules(*store).Add(series));
    }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }

    void ImportNewsAt(std::initializer_list<int64_t> starts)
    {
        std::string body;
        for (int64_t at : starts)
            body += "<programme channel=\"news.example\" start=\"" + FormatXmltvTime(at) + "\" stop=\"" +
                    FormatXmltvTime(at + 1800) + "\"><title>The News</title></programme>";
        WriteFileBytes(config.Root() + "/guide.xml", "<tv><channel id=\"news.example\"><display-name>3</display-name>"
                                                     "</channel>" + body + "</tv>");
        ASSERT_TRUE(ImportGuideFile(*store, config.Root() + "/guide.xml", {{3, "News"}}).imported);
    }

    static SystemTime Local(int64_t at)
    {
        const std::time_t time = static_cast<std::time_t>(at);
        std::tm fields{};
        gmtime_r(&time, &fields);
        return SystemTime{static_cast<uint16_t>(fields.tm_year + 1900), static_cast<uint16_t>(fields.tm_mon + 1),
                          static_cast<uint16_t>(fields.tm_wday), static_cast<uint16_t>(fields.tm_mday),
                          static_cast<uint16_t>(fields.tm_hour), static_cast<uint16_t>(fields.tm_min), 0, 0};
    }

    TempConfig config;
    std::unique_ptr<GuideStore> store;
    // A whole minute, today.
    const int64_t now = static_cast<int64_t>(std::time(nullptr)) / 60 * 60;
};

TEST_F(GuideSlotsTest, PlannedRecordingsWaitForSlotsAndADeletedOneIsSkipped)
{
    ScheduleSlot* schedules = gSettings.record.schedules;
    // Nineteen schedules of its own, a week on: one slot is free.
    for (int slot = 1; slot < kScheduleSlots; ++slot)
        schedules[slot] = ScheduleSlot{1, 0, 3, 0, Local(now + (168 + slot) * kHour), Local(now + (168 + slot) * kHour + 60)};
    GuideSlots guideSlots(GuideDatabasePath());
    ASSERT_EQ(1, guideSlots.Fill(now));
    EXPECT_EQ(3, schedules[0].channel);
    EXPECT_EQ(0, CompareSystemTime(Local(now + kHour - 60), schedules[0].start)) << "a minute early";
    EXPECT_EQ(0, CompareSystemTime(Local(now + kHour + 1800 + 120), schedules[0].end)) << "two minutes late";
    EXPECT_EQ(0, guideSlots.Fill(now)) << "the second waits for a slot, the third is more than a day away";
    const std::optional<GuideRecording> recorded = RecordingOfSlot(0);
    ASSERT_TRUE(recorded);
    EXPECT_EQ("The News", recorded->programme.title);
    EXPECT_EQ(now + kHour, recorded->programme.start);
    EXPECT_EQ(1, recorded->ruleId);
    EXPECT_FALSE(RecordingOfSlot(1)) << "a schedule of the person's own";

    schedules[5].used = 0;
    ASSERT_EQ(1, guideSlots.Fill(now));
    EXPECT_EQ(0, CompareSystemTime(Local(now + 3 * kHour - 60), schedules[5].start));

    // The person deletes the first before it starts: that one is skipped,
    // and a day later the rule's third takes a slot as the others did.
    schedules[0].used = 0;
    EXPECT_EQ(0, guideSlots.Fill(now));
    EXPECT_EQ(0, schedules[0].used);
    const std::vector<PlannedRecording> plan = RecordingRules(*store).Plan(now);
    ASSERT_EQ(3u, plan.size());
    EXPECT_EQ("was skipped: its schedule was deleted", plan[0].conflict);
    EXPECT_TRUE(plan[1].conflict.empty());
    EXPECT_EQ(1, guideSlots.Fill(now + 4 * kHour));
}

// The guide moves its programmes: a slot not started yet moves with its
// programme, at the next pass rather than the next minute's, while one that
// records keeps its time.
TEST_F(GuideSlotsTest, AMovedProgrammeTakesItsRecordingAlongButNotOneThatRuns)
{
    ScheduleSlot* schedules = gSettings.record.schedules;
    GuideSlots guideSlots(GuideDatabasePath());
    ASSERT_EQ(2, guideSlots.Pass(now)) << "the first pass fills";
    EXPECT_EQ(0, guideSlots.Pass(now)) << "nothing changed";
    schedules[1].active = 1;  // the second records already
    const ScheduleSlot running = schedules[1];

    ImportNewsAt({now + kHour + 1800, now + 3 * kHour + 1800});
    EXPECT_EQ(1, guideSlots.Pass(now)) << "the import is seen at once";
    EXPECT_EQ(0, std::memcmp(&running, &schedules[1], sizeof running)) << "the running one is not cut short";
    const std::optional<GuideRecording> moved = RecordingOfSlot(0);
    ASSERT_TRUE(moved);
    EXPECT_EQ(now + kHour + 1800, moved->programme.start);
    EXPECT_EQ(0, CompareSystemTime(Local(now + kHour + 1800 - 60), schedules[0].start));

    // Without its rule, the recording that has not started gives its slot up.
    ASSERT_TRUE(RecordingRules(*store).Remove(1));
    guideSlots.Pass(now);
    EXPECT_EQ(0, schedules[0].used);
    EXPECT_EQ(1, schedules[1].used);
}

} // namespace
