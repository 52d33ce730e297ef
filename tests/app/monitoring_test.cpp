// Motion monitoring with the real program, headless on the virtual TV card:
// channel 3's still test card never moves, channel 5's picture does, and
// motion there starts a recording.

#include "config/settings.h"
#include "server/protocol.h"
#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/program_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

constexpr uint8_t kQuality2At24Fps = 0x12;
constexpr uint8_t kQuality0 = 0x10;

using Clock = std::chrono::steady_clock;

class MonitoringProgramTest : public RunningProgramTest {
protected:
    void SetUp() override
    {
        port = FreePortTriple();
        adjustSettings = [] {
            gSettings.channels[3].motionDetection = 1;
            gSettings.channels[5].motionDetection = 1;
            gSettings.record.recordOnMotion = 1;
        };
        ASSERT_TRUE(StartProgram());
        ASSERT_TRUE(link.Open(port, "viewer", "secret"));
    }

    // A flag byte of a reply: the motion flag, or the recording flag.
    int Flag(uint8_t command, size_t at)
    {
        std::vector<uint8_t> body;
        return link.Ask(command, {}, 5000, &body) == command && body.size() > at ? body[at] : -1;
    }

    // Seconds until the flag reads 1, or -1 after limitSeconds.
    double SecondsUntilSet(uint8_t command, size_t at, int limitSeconds)
    {
        const auto since = Clock::now();
        while (Clock::now() - since < std::chrono::seconds(limitSeconds)) {
            if (Flag(command, at) == 1)
                return std::chrono::duration<double>(Clock::now() - since).count();
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return -1;
    }

    HandheldLink link;
};

TEST_F(MonitoringProgramTest, StillStaysQuietMovementIsToldAndRecordedAndStopStreamEndsIt)
{
    // A short stream leaves 24 pictures a second for the monitoring graph.
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kQuality2At24Fps), 20000));
    ASSERT_EQ(kStopStream, link.Ask(kStopStream, {}, 10000));

    EXPECT_EQ(kRefused, link.Ask(kStartMonitoring, HandheldLink::Int32(20), 5000)) << "motion detection is off there";

    ASSERT_EQ(kStartMonitoring, link.Ask(kStartMonitoring, HandheldLink::Int32(3), 20000));
    // The first comparison comes with picture 352, some 14.7 s in.
    std::this_thread::sleep_for(std::chrono::seconds(18));
    EXPECT_EQ(0, Flag(kGetMotionStatus, 0)) << "the still test card";

    ASSERT_EQ(kStartMonitoring, link.Ask(kStartMonitoring, HandheldLink::Int32(5), 20000));
    const double motionAfter = SecondsUntilSet(kGetMotionStatus, 0, 30);
    std::printf("motion reported %.1f s after monitoring began\n", motionAfter);
    EXPECT_GT(motionAfter, 10.0) << "ten priming periods come first";
    EXPECT_GE(SecondsUntilSet(kGetRecordingStatus, 3, 15), 0) << "motion started a recording";
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(kStopRecording, link.Ask(kStopRecording, {}, 15000));

    EXPECT_EQ(kStopStream, link.Ask(kStopStream, {}, 10000)) << "ends monitoring";
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kQuality0), 20000));
    EXPECT_GE(link.DrainData(8388, 10000), 8388u) << "a live stream runs afterwards";
    EXPECT_EQ(kStopStream, link.Ask(kStopStream, {}, 10000));

    const std::vector<std::string> files = Recordings(5);
    ASSERT_EQ(1u, files.size());
    EXPECT_GT(ProbeFile(files[0], "v:0").frames, 0) << "the recording plays";
}

} // namespace
