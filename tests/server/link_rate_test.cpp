// The link control against a simulated link: a producer at the encoder's
// rate, a sender that hands the connection what it may hold, and a link
// that drains at its own rate.

#include "server/link_rate.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr int kVideo = 200000;
constexpr int kAudio = 64000;
constexpr double kStep = 0.05;

struct SimulatedLink {
    LinkRateControl control{kVideo, kAudio, 0};
    double now = 0;
    double waiting = 0;   // bytes made and not yet handed over
    double queued = 0;
    uint64_t written = 0;
    int catchUps = 0;
    double worstBacklog = 0;  // seconds of the link's time

    // Runs the link at bytesPerSecond for the given seconds.
    void Run(double bytesPerSecond, double seconds)
    {
        for (const double end = now + seconds; now < end; now += kStep) {
            waiting += (control.VideoBitRate() + kAudio) / 8.0 * kStep;
            const double room = std::max(0.0, static_cast<double>(control.QueueLimit()) - queued);
            const double handed = std::min(waiting, room);
            waiting -= handed;
            queued += handed;
            written += static_cast<uint64_t>(handed);
            queued = std::max(0.0, queued - bytesPerSecond * kStep);
            // Whatever is left waiting, the connection had no room for.
            const LinkDecision decision =
                control.Update({now, written, static_cast<int64_t>(queued), static_cast<int64_t>(waiting), waiting > 0});
            if (decision.catchUp) {
                waiting = 0;
                ++catchUps;
            }
            worstBacklog = std::max(worstBacklog, (waiting + queued) / bytesPerSecond);
        }
    }

    // The same, with the worst backlog counted only after the first
    // settleSeconds, while the control finds the link.
    void RunSettled(double bytesPerSecond, double settleSeconds, double seconds)
    {
        Run(bytesPerSecond, settleSeconds);
        worstBacklog = 0;
        Run(bytesPerSecond, seconds - settleSeconds);
    }
};

constexpr double kStreamBytesPerSecond = (kVideo + kAudio) / 8.0;

TEST(LinkRateControl, AFastLinkKeepsTheRequest)
{
    SimulatedLink link;
    link.Run(1e6, 60);
    EXPECT_EQ(kVideo, link.control.VideoBitRate());
    EXPECT_EQ(0, link.catchUps);
}

TEST(LinkRateControl, ASlowLinkLowersTheRateThenRecoversWithinTenSeconds)
{
    SimulatedLink link;
    link.RunSettled(kStreamBytesPerSecond / 2, 10, 60);
    EXPECT_LT(link.control.VideoBitRate(), kVideo * 6 / 10);
    EXPECT_GE(link.control.VideoBitRate(), kVideo / 4);
    EXPECT_LT(link.worstBacklog, 2.5) << "steady on a link at half the stream's rate";
    link.Run(1e6, 10);
    EXPECT_EQ(kVideo, link.control.VideoBitRate()) << "back to the request";
}

TEST(LinkRateControl, ALinkBelowTheFloorHalvesThePicturesAndIsKeptNearLiveByCuts)
{
    SimulatedLink link;
    link.RunSettled(kStreamBytesPerSecond / 4, 5, 60);
    EXPECT_EQ(kVideo / 4, link.control.VideoBitRate());
    EXPECT_TRUE(link.control.HalfPictures());
    EXPECT_GT(link.catchUps, 3);
    EXPECT_LT(link.worstBacklog, 3.0);
    link.Run(1e6, 10);
    EXPECT_EQ(kVideo, link.control.VideoBitRate()) << "back to the request";
    EXPECT_FALSE(link.control.HalfPictures());
}

} // namespace
