// A scheduled recording in real time, with the real program on the virtual
// TV card: added over the wire, kept across a restart, recorded at its time
// into a playable file, and gone from the list afterwards.

#include "support/program_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

namespace {

using WallClock = std::chrono::system_clock;

// "YYYY-MM-DDTHH:MM" in local time, as the handheld client takes it.
std::string MinuteText(WallClock::time_point at)
{
    const std::time_t seconds = WallClock::to_time_t(at);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M", &local);
    return text;
}

// The first whole minute at least lead away.
WallClock::time_point NextMinuteAfter(std::chrono::seconds lead)
{
    return std::chrono::ceil<std::chrono::minutes>(WallClock::now() + lead);
}

class ScheduledRecordingTest : public RunningProgramTest {};

TEST_F(ScheduledRecordingTest, AScheduleSurvivesARestartAndRecordsItsMinute)
{
    const WallClock::time_point start = NextMinuteAfter(std::chrono::seconds(20));
    const WallClock::time_point end = start + std::chrono::minutes(1);
    ProcessResult added = Handheld({"add-schedule", "5", MinuteText(start), MinuteText(end)});
    ASSERT_EQ("0", added.Value("schedule_result")) << added.output;

    ASSERT_GE(StopProgram(), 0);
    ASSERT_TRUE(RestartProgram());
    EXPECT_EQ("1", Handheld({"schedules"}).Value("schedule_count"));

    std::this_thread::sleep_until(start + std::chrono::seconds(5));
    EXPECT_EQ("1", Handheld({"status"}).Value("recording")) << "the recording runs";
    std::this_thread::sleep_until(end + std::chrono::seconds(5));
    EXPECT_EQ("0", Handheld({"status"}).Value("recording")) << "its end stopped it";
    EXPECT_EQ("0", Handheld({"schedules"}).Value("schedule_count"));

    const std::vector<std::string> files = Recordings(5);
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("wmv2", ProbeFile(files[0], "v:0").codec);
    EXPECT_EQ("wmav2", ProbeFile(files[0], "a:0").codec);
    EXPECT_NEAR(60, DurationSeconds(files[0]), 4);
}

} // namespace
