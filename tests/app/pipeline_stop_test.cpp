// Every stop ends: the real program, headless on the virtual TV card, is
// shut down and stopped in the middle of whatever it does, and each time it
// ends in time with its settings saved and its recording playable.

#include "server/protocol.h"
#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/program_fixture.h"
#include "support/test_application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint8_t kQuality0 = 0x10;  // 320x240, the lowest bit rate
constexpr uint8_t kQuality2 = 0x12;  // the highest bit rate

using Clock = std::chrono::steady_clock;

enum class Activity { LiveStream, Recording, Both, StalledHandheld };

const char* Name(Activity activity)
{
    switch (activity) {
    case Activity::LiveStream: return "live stream";
    case Activity::Recording: return "recording";
    case Activity::Both: return "live stream and recording";
    case Activity::StalledHandheld: return "handheld that stopped reading";
    }
    return "";
}

// A handheld that stops reading: a small window fills within seconds.
void ShrinkReceiveBuffer(int socket)
{
    const int bytes = 4096;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int BytesWaiting(int socket)
{
    int waiting = 0;
    ::ioctl(socket, FIONREAD, &waiting);
    return waiting;
}

// A reader that keeps the data connection flowing, as a playing handheld does.
class DataReader {
public:
    explicit DataReader(HandheldLink& link) : thread_([&link, this] {
        while (!done_)
            link.DrainData(1 << 16, 50);
    })
    {
    }
    ~DataReader()
    {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class PipelineStopTest : public RunningProgramTest {
protected:
    void SetUp() override { port = 0; }

    bool Open(HandheldLink& link) { return link.Open(port, "viewer", "secret"); }

    // A fresh program on a fresh port, and a handheld logged in to it.
    bool StartAndOpen(HandheldLink& link)
    {
        port = FreePortTriple();
        return StartProgram() && Open(link);
    }
};

TEST_F(PipelineStopTest, ShutdownEndsWithinFiveSecondsWhateverRuns)
{
    const Activity activities[] = {Activity::LiveStream, Activity::Recording, Activity::Both,
                                   Activity::StalledHandheld};
    double slowest[4] = {};
    for (int round = 0; round < 20; ++round) {
        const Activity activity = activities[round % 4];
        SCOPED_TRACE(std::string("round ") + std::to_string(round) + ", during a " + Name(activity));
        {
            HandheldLink link;
            ASSERT_TRUE(StartAndOpen(link));
            // The settings on disk were read at the start; the exit writes them anew.
            std::remove(config.SettingsFile().c_str());
            std::optional<DataReader> reader;
            const bool stalled = activity == Activity::StalledHandheld;
            if (stalled)
                ShrinkReceiveBuffer(link.data);
            if (activity != Activity::Recording) {
                if (!stalled)
                    reader.emplace(link);
                ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kQuality0), 20000));
            }
            if (activity == Activity::Recording || activity == Activity::Both) {
                ASSERT_EQ(kStartRecording, link.Ask(kStartRecording, HandheldLink::Int32(5), 20000));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            if (stalled) {
                ASSERT_TRUE(WaitUntil([&] { return BytesWaiting(link.data) >= 4096; }, 20000))
                    << "the handheld's receive buffer fills";
            }
            const double took = StopProgram(10);
            ASSERT_GE(took, 0) << "the program did not end cleanly";
            EXPECT_LT(took, 5.0);
            slowest[round % 4] = std::max(slowest[round % 4], took);
        }
        EXPECT_EQ(638564u, ReadFileBytes(config.SettingsFile()).size()) << "the exit saved the settings";
        if (activity == Activity::Recording || activity == Activity::Both) {
            const std::vector<std::string> files = Recordings(5);
            ASSERT_EQ(1u, files.size()) << "each round's recording is removed after it";
            EXPECT_GT(ProbeFile(files.back(), "v:0").frames, 0) << "the interrupted recording plays";
            for (const std::string& file : files)
                std::remove(file.c_str());
        }
    }
    for (int i = 0; i < 4; ++i)
        std::printf("slowest shutdown during a %s: %.2f s\n", Name(activities[i]), slowest[i]);
}

TEST_F(PipelineStopTest, AnInterruptedRecordingPlays)
{
    {
        HandheldLink link;
        ASSERT_TRUE(StartAndOpen(link));
        DataReader reader(link);
        ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kQuality0), 20000));
        ASSERT_EQ(kStartRecording, link.Ask(kStartRecording, HandheldLink::Int32(5), 20000));
        std::this_thread::sleep_for(std::chrono::seconds(3));
        ASSERT_GE(StopProgram(10), 0);
    }
    const std::vector<std::string> files = Recordings(5);
    ASSERT_EQ(1u, files.size());
    const Probe video = ProbeFile(files[0], "v:0");
    EXPECT_EQ("wmv2", video.codec);
    EXPECT_GT(video.frames, 25) << "three seconds of pictures";
}

// A handheld that stops reading fills the socket; the sender must still see
// its stop flag.
TEST_F(PipelineStopTest, StopStreamIsAnsweredAfterThirtySecondsOfNotReading)
{
    HandheldLink link;
    ASSERT_TRUE(StartAndOpen(link));
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kQuality2), 20000));
    std::this_thread::sleep_for(std::chrono::seconds(30));
    const auto asked = Clock::now();
    EXPECT_EQ(kStopStream, link.Ask(kStopStream, {}, 5000));
    const std::chrono::duration<double> answeredIn = Clock::now() - asked;
    std::printf("StopStream after 30 s of not reading answered in %.3f s\n", answeredIn.count());
    EXPECT_LT(answeredIn.count(), 1.0);
    ProcessResult next = Handheld({"live", "5", "--seconds", "2"});
    EXPECT_EQ("0xD4", next.Value("stream_code")) << next.output;
}

TEST_F(PipelineStopTest, RequestsTheEncodersCannotTakeAreRefusedAndServingGoesOn)
{
    HandheldLink link;
    ASSERT_TRUE(StartAndOpen(link));
    constexpr uint8_t kCustomSize = 0x40;
    constexpr uint8_t kCustomRate = 0x13;
    EXPECT_EQ(kRefused, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kCustomSize, 0, 0, 0), 20000));
    EXPECT_EQ(kRefused,
              link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kCustomSize, 0, 65535, 65535), 20000));
    EXPECT_EQ(kRefused, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kCustomRate, INT32_MIN), 20000))
        << "2^31 kbit/s";
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kQuality0), 20000));
    EXPECT_GE(link.DrainData(3 * 8388, 10000), 3u * 8388) << "the ordinary request streams";
    EXPECT_EQ(kStopStream, link.Ask(kStopStream, {}, 5000));
}

struct Footprint {
    long residentKb = 0;
    int descriptors = 0;
    int threads = 0;
};

Footprint FootprintOf(pid_t process)
{
    Footprint footprint;
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            footprint.residentKb = std::stol(line.substr(6));
        else if (line.starts_with("Threads:"))
            footprint.threads = std::stoi(line.substr(8));
    }
    if (DIR* folder = ::opendir(("/proc/" + std::to_string(process) + "/fd").c_str())) {
        while (::readdir(folder))
            ++footprint.descriptors;
        ::closedir(folder);
    }
    return footprint;
}

// AddressSanitizer holds up to 256 MB of freed memory back, and its filling
// up would hide growth; the program measured here holds back little.
class SmallQuarantine {
public:
    SmallQuarantine() : saved_(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "")
    {
        const std::string options = saved_.empty() ? "quarantine_size_mb=16" : saved_ + ":quarantine_size_mb=16";
        ::setenv("ASAN_OPTIONS", options.c_str(), 1);
    }
    ~SmallQuarantine() { ::setenv("ASAN_OPTIONS", saved_.c_str(), 1); }

private:
    std::string saved_;
};

TEST_F(PipelineStopTest, TwoHundredStartsAndStopsLeaveNothingBehind)
{
    HandheldLink link;
    {
        SmallQuarantine forTheProgram;
        ASSERT_TRUE(StartAndOpen(link));
    }
    DataReader reader(link);
    Footprint settled;
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(cycle % 2 ? 3 : 5, kQuality0), 20000))
            << "cycle " << cycle;
        ASSERT_EQ(kStopStream, link.Ask(kStopStream, {}, 20000)) << "cycle " << cycle;
        if (cycle % 20 == 10) {
            ASSERT_EQ(kStartRecording, link.Ask(kStartRecording, HandheldLink::Int32(5), 20000));
            ASSERT_EQ(kStopRecording, link.Ask(kStopRecording, {}, 20000));
        }
        if (cycle == 20)
            settled = FootprintOf(program);
    }
    const Footprint end = FootprintOf(program);
    std::printf("after 20 cycles: %ld kB resident, %d descriptors, %d threads\n", settled.residentKb,
                settled.descriptors, settled.threads);
    std::printf("after 200 cycles: %ld kB resident, %d descriptors, %d threads\n", end.residentKb, end.descriptors,
                end.threads);
    EXPECT_LE(end.residentKb, settled.residentKb + 20 * 1024);
    EXPECT_LE(end.descriptors, settled.descriptors + 2);
    EXPECT_LE(end.threads, settled.threads + 2);
}

} // namespace
