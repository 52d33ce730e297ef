// Recordings against the real program when things go wrong: killed mid-way,
// a disk that fills, a folder that goes away.

#include "config/settings.h"
#include "record/recording_repair.h"
#include "support/handheld_link.h"
#include "support/program_fixture.h"
#include "support/process.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

double Duration(const std::string& path)
{
    const ProcessResult probe =
        RunProcess({"/usr/bin/ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                    "default=noprint_wrappers=1", path}, 30000);
    const std::string value = probe.Value("duration");
    return value.empty() || value == "N/A" ? 0 : std::stod(value);
}

// The pictures in a file as a player decodes them, without its index.
int DecodedPictures(const std::string& path)
{
    return ProbeFile(path, "v:0").frames;
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file())
            names.push_back(entry.path().filename().string());
    return names;
}

class RecordingSurvivalTest : public RunningProgramTest {
protected:
    // Waits until GetRecordingStatus says no recording runs.
    bool RecordingStopsWithin(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Handheld({"status"}).Value("recording") == "0")
                return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }
};

// A kill at any moment leaves the pictures up to two seconds before it, and
// the next start gives the file its index and length, in place.
TEST_F(RecordingSurvivalTest, AKilledRecordingPlaysAndIsRepairedAtTheNextStart)
{
    const int rate = gSettings.record.recordingProfile.frameRate;
    for (const int seconds : {2, 7, 19}) {
        SCOPED_TRACE("killed after " + std::to_string(seconds) + " s");
        ASSERT_EQ("0xDC", Handheld({"record", "5"}).Value("record_code"));
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        ::kill(program, SIGKILL);
        WaitForExit(program, 10);
        const std::vector<std::string> files = Recordings(5);
        ASSERT_EQ(1u, files.size());
        EXPECT_GE(DecodedPictures(files[0]), (seconds - 2) * rate);

        ASSERT_TRUE(RestartProgram());
        EXPECT_GE(Duration(files[0]), seconds - 2);
        EXPECT_EQ(std::vector<std::string>{std::filesystem::path(files[0]).filename().string()},
                  FilesIn(config.Root()));
        std::filesystem::remove(files[0]);
    }
}

TEST_F(RecordingSurvivalTest, AVanishedFolderStopsTheRecordingWithoutACrash)
{
    const std::string folder = config.Root() + "/recordings";
    std::filesystem::create_directory(folder);
    adjustSettings = [folder] {
        std::snprintf(gSettings.record.recordingFolder, sizeof gSettings.record.recordingFolder, "%s",
                      folder.c_str());
    };
    ASSERT_GE(StopProgram(), 0);
    ASSERT_TRUE(StartProgram());
    ASSERT_EQ("0xDC", Handheld({"record", "5"}).Value("record_code"));
    std::this_thread::sleep_for(2s);
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(RecordingStopsWithin(3s));
    // Gone, it is refused before it starts.
    EXPECT_EQ("0xFF", Handheld({"record", "5"}).Value("record_code"));
    EXPECT_EQ("0", Handheld({"login"}).Value("login_result"));
}

// The recording folder is a small disk of the test's own, in a mount
// namespace of its own; the test fills it while a live stream runs.
class FullDiskTest : public RecordingSurvivalTest {
protected:
    void SetUp() override
    {
        if (RunProcess({"/usr/bin/unshare", "-m", "/bin/true"}, 10000).exitCode != 0)
            GTEST_SKIP() << "this machine refuses mount namespaces";
        disk = config.Root() + "/disk";
        std::filesystem::create_directory(disk);
        launcher = {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                    "mount -t tmpfs -o size=80m orvandel-test \"$0\" && exec \"$@\"" + redirection, disk};
        adjustSettings = [this] {
            std::snprintf(gSettings.record.recordingFolder, sizeof gSettings.record.recordingFolder, "%s",
                          disk.c_str());
        };
        RecordingSurvivalTest::SetUp();
    }

    // The disk as the program sees it.
    std::string Inside(const std::string& path) const
    {
        return "/proc/" + std::to_string(program) + "/root" + path;
    }

    void FillTheDisk()
    {
        RunProcess({"/bin/dd", "if=/dev/zero", "of=" + Inside(disk + "/filler"), "bs=1M"}, 60000);
    }

    std::string disk;
    std::string redirection;  // of the program's output, for the shell
};

// A schedule whose slots come while the disk is full, with the program's log
// in a file of the test's own.
class ScheduleOnAFullDiskTest : public FullDiskTest {
protected:
    void SetUp() override
    {
        log = config.Root() + "/program.log";
        redirection = " 2>>" + log;
        FullDiskTest::SetUp();
    }

    int Count(const std::string& text) const { return CountInFile(log, text); }

    std::string log;
};

// A live stream runs beside the recording on one session, whose data
// keeps being read; the recording's file tells when it was closed.
TEST_F(FullDiskTest, AFullDiskStopsTheRecordingAndLeavesAPlayableFile)
{
    constexpr uint8_t kStartLiveStream = 0xD4, kStartRecording = 0xDC, kGetRecordingStatus = 0xEE;
    HandheldLink link;
    ASSERT_TRUE(link.Open(port, "viewer", "secret"));
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, 0x11), 30000));
    std::atomic<bool> watching{true};
    std::chrono::duration<double> longestSilence{0};
    std::thread viewer([&] {
        auto last = std::chrono::steady_clock::now();
        while (watching) {
            if (link.DrainData(1 << 20, 200) == 0)
                continue;
            const auto now = std::chrono::steady_clock::now();
            longestSilence = std::max<std::chrono::duration<double>>(longestSilence, now - last);
            last = now;
        }
    });
    EXPECT_EQ(kStartRecording, link.Ask(kStartRecording, HandheldLink::Int32(5), 30000));
    std::this_thread::sleep_for(3s);
    std::string recording;
    for (const std::string& name : FilesIn(Inside(disk)))
        if (name.rfind("Rec_ch5_", 0) == 0)
            recording = Inside(disk + "/" + name);
    ASSERT_FALSE(recording.empty());
    FillTheDisk();
    const auto full = std::chrono::steady_clock::now();
    while (IsUnclosedRecording(recording) && std::chrono::steady_clock::now() - full < 5s)
        std::this_thread::sleep_for(100ms);
    const std::chrono::duration<double> closedAfter = std::chrono::steady_clock::now() - full;
    EXPECT_LT(closedAfter.count(), 2.0);
    std::vector<uint8_t> status;
    EXPECT_EQ(kGetRecordingStatus, link.Ask(kGetRecordingStatus, {}, 10000, &status));
    ASSERT_GE(status.size(), 4u);
    EXPECT_EQ(0, status[3]);
    EXPECT_EQ(0xFF, link.Ask(kStartRecording, HandheldLink::Int32(5), 30000));
    std::this_thread::sleep_for(3s);
    watching = false;
    viewer.join();

    // The live stream goes on, full disk or not.
    EXPECT_LT(longestSilence.count(), 2.5);
    EXPECT_GE(Duration(recording), 2.0);
    const ProcessResult decoded =
        RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-i", recording, "-f", "null", "-"}, 60000, true);
    EXPECT_EQ(0, decoded.exitCode);
    EXPECT_EQ("", decoded.output);
}

// Both slots come while the disk is full: each is refused at its start,
// the first is freed at its end and says so, and the second still starts.
TEST_F(ScheduleOnAFullDiskTest, SlotsAreRefusedLoggedAndFreedAndTheNextOneStillComes)
{
    using Minutes = std::chrono::minutes;
    const auto start = std::chrono::ceil<Minutes>(std::chrono::system_clock::now() + 20s);
    auto minute = [](std::chrono::system_clock::time_point at) {
        const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
        std::tm local{};
        localtime_r(&seconds, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M", &local);
        return std::string(text);
    };
    for (int slot = 0; slot < 2; ++slot)
        ASSERT_EQ("0", Handheld({"add-schedule", "5", minute(start + Minutes(slot)), minute(start + Minutes(slot + 1))})
                           .Value("schedule_result"));
    FillTheDisk();
    std::this_thread::sleep_until(start + 5s);
    EXPECT_EQ("0", Handheld({"status"}).Value("recording"));
    EXPECT_EQ(1, Count("A scheduled recording of channel 5 starts."));
    EXPECT_GE(Count("The recording folder " + disk + " has "), 1) << ReadFileBytes(log);
    std::this_thread::sleep_until(start + Minutes(1) + 5s);
    EXPECT_EQ("0", Handheld({"status"}).Value("recording"));
    EXPECT_EQ(1, Count("A scheduled recording of channel 5 did not record its whole time."));
    EXPECT_EQ(2, Count("A scheduled recording of channel 5 starts.")) << "the next slot came";
    EXPECT_EQ("1", Handheld({"schedules"}).Value("schedule_count")) << "the first slot is free";
    EXPECT_TRUE(Recordings(5).empty());
    for (const std::string& name : FilesIn(Inside(disk)))
        EXPECT_EQ("filler", name);
}

} // namespace
