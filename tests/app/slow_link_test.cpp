// Live TV on real links. On a link slower than the stream: the real program
// and a handheld that reads as fast as the link allows, inside a network
// namespace of the test's own whose loopback is rate-limited by tc. On a
// good link: how soon a chunk arrives.

#include "server/protocol.h"
#include "support/decode.h"
#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/program_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kSize320x240 = 0x10;
constexpr int kSeconds = 60;

class SlowLinkTest : public RunningProgramTest {
protected:
    void SetUp() override
    {
        if (unshare(CLONE_NEWNET) != 0)
            GTEST_SKIP() << "this machine refuses network namespaces: " << std::strerror(errno);
        // 150 kbit/s: a little over half of quality 1's 200 + 64 kbit/s.
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"/usr/sbin/ip", "link", "set", "lo", "up", "mtu", "1500"},
              {"/usr/sbin/tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", "150kbit", "burst", "16kb",
               "latency", "500ms"}})
            if (RunProcess(command, 10000).exitCode != 0)
                GTEST_SKIP() << "this machine refuses to set up the namespace's loopback with " << command[0];
        RunningProgramTest::SetUp();
    }
};

// Reads the media stream for the given time: every video chunk's delay
// (its arrival after the start, less its time stamp) and the pictures'
// bytes.
struct Received {
    std::vector<double> delays;
    std::vector<uint8_t> video;
};

Received ReadFor(int socket, Clock::time_point start, int seconds)
{
    Received received;
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        std::vector<uint8_t> head = ReadBytes(socket, 4, 5000);
        if (head.size() != 4)
            break;
        uint32_t header = 0;
        std::memcpy(&header, head.data(), 4);
        const bool video = (header & 0x80000000) != 0;
        const std::vector<uint8_t> payload = ReadBytes(socket, video ? 8384 : 4190, 5000);
        if (!video)
            continue;
        const double arrived = std::chrono::duration<double>(Clock::now() - start).count();
        received.delays.push_back(arrived - (header & 0xFFFFFF) / 1000.0);
        received.video.insert(received.video.end(), payload.begin(), payload.end());
    }
    return received;
}

TEST_F(SlowLinkTest, AHandheldStaysNearLiveWithPicturesThatDecode)
{
    HandheldLink link;
    ASSERT_TRUE(link.Open(port, "viewer", "secret"));
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(5, kSize320x240 | 1), 30000));
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(4u, ReadBytes(link.data, 4, 10000).size()) << "no data marker";
    const Received received = ReadFor(link.data, start, kSeconds);
    const Clock::time_point asked = Clock::now();
    EXPECT_EQ(kStopStream, link.Ask(kStopStream, {}, 5000));
    const double answered = std::chrono::duration<double>(Clock::now() - asked).count();

    ASSERT_GT(received.delays.size(), 30u);
    const double worst = *std::max_element(received.delays.begin(), received.delays.end());
    std::printf("%zu video chunks in %d s, worst delay %.2f s, StopStream answered in %.2f s\n",
                received.delays.size(), kSeconds, worst, answered);
    EXPECT_LT(worst, 3.0);
    EXPECT_LT(answered, 1.0);
    const DecodedStream decoded = DecodeElementaryStream(AV_CODEC_ID_MPEG4, received.video, false);
    EXPECT_EQ(0, decoded.errors);
    EXPECT_GT(decoded.frames, kSeconds * 24 / 4);
}

// A batch used to wait for about a second of stream (32,000 bytes at
// quality 1); now each chunk goes as soon as it is complete.
class GoodLinkTest : public RunningProgramTest {};

TEST_F(GoodLinkTest, ChunksArriveWellWithinASecond)
{
    for (const char* transport : {"tcp", "udt"}) {
        ProcessResult watched = Handheld({"--transport", transport, "live", "5", "--quality", "1", "--seconds", "8"});
        ASSERT_EQ("0xD4", watched.Value("stream_code")) << watched.output;
        const int median = std::atoi(watched.Value("video_delay_median_ms").c_str());
        std::printf("%s: median delay %d ms, worst %s ms\n", transport, median,
                    watched.Value("video_delay_worst_ms").c_str());
        EXPECT_LT(median, 500) << transport;
    }
}

} // namespace
