// Who gets the one tuner: every pair of uses, on the same and on another
// channel, with real graphs of the virtual TV card.

#include "capture/tuner.h"
#include "capture/capture_fixture.h"
#include "config/settings.h"
#include "shared/server_state.h"
#include "support/test_application.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using M = TunerMeets;
using U = TunerUse;

constexpr int kHeldChannel = 3;
constexpr int kOtherChannel = 5;

class TunerTest : public CaptureTest {
protected:
    void SetUp() override
    {
        Application();
        CaptureTest::SetUp();
        for (int channel : {kHeldChannel, kOtherChannel}) {
            ChannelRecord& record = gSettings.channels[channel];
            record.enabled = 1;
            record.videoDevice = VideoSlot("Virtual TV Tuner");
            record.audioDevice = AudioSlot("Virtual TV Tuner");
            record.tunerChannel = channel;
        }
    }
    void TearDown() override
    {
        StopCapture();
        CaptureTest::TearDown();
    }
};

struct Case {
    U holding;
    U asking;
    bool sameChannel;
    M meets;
    const char* words;  // for an asker turned away or kept waiting
};

const std::vector<Case> kCases = {
    {U::Live, U::Live, true, M::Refused, "A stream runs already."},
    {U::Live, U::Live, false, M::Refused, "A stream runs already."},
    {U::Live, U::Recording, true, M::Shares, ""},
    {U::Live, U::Recording, false, M::Waits, "A recording of channel 5 waits: a stream of channel 3 holds the tuner."},
    {U::Live, U::Monitoring, true, M::Shares, ""},
    {U::Live, U::Monitoring, false, M::Refused,
     "Monitoring of channel 5 was refused: a stream of channel 3 holds the tuner."},
    {U::Live, U::Scan, true, M::Refused, "A tuner scan of channel 3 was refused: a stream of channel 3 holds the tuner."},
    {U::Live, U::Scan, false, M::Refused,
     "A tuner scan of channel 5 was refused: a stream of channel 3 holds the tuner."},
    {U::Recording, U::Live, true, M::Takes, ""},
    {U::Recording, U::Live, false, M::Takes, ""},
    {U::Recording, U::Recording, true, M::Refused, "A recording runs already."},
    {U::Recording, U::Recording, false, M::Refused, "A recording runs already."},
    {U::Recording, U::Monitoring, true, M::Shares, ""},
    {U::Recording, U::Monitoring, false, M::Refused,
     "Monitoring of channel 5 was refused: a recording of channel 3 holds the tuner."},
    {U::Recording, U::Scan, true, M::Refused,
     "A tuner scan of channel 3 was refused: a recording of channel 3 holds the tuner."},
    {U::Recording, U::Scan, false, M::Refused,
     "A tuner scan of channel 5 was refused: a recording of channel 3 holds the tuner."},
    {U::Monitoring, U::Live, true, M::Takes, ""},
    {U::Monitoring, U::Live, false, M::Takes, ""},
    {U::Monitoring, U::Recording, true, M::Shares, ""},
    {U::Monitoring, U::Recording, false, M::Takes, ""},
    {U::Monitoring, U::Monitoring, true, M::Shares, ""},
    {U::Monitoring, U::Monitoring, false, M::Takes, ""},
    {U::Monitoring, U::Scan, true, M::Takes, ""},
    {U::Monitoring, U::Scan, false, M::Takes, ""},
    {U::Scan, U::Live, true, M::Refused, "A stream was refused: the tuner is being scanned."},
    {U::Scan, U::Live, false, M::Refused, "A stream was refused: the tuner is being scanned."},
    {U::Scan, U::Recording, true, M::Refused, "A recording was refused: the tuner is being scanned."},
    {U::Scan, U::Recording, false, M::Refused, "A recording was refused: the tuner is being scanned."},
    {U::Scan, U::Monitoring, true, M::Refused, "Monitoring was refused: the tuner is being scanned."},
    {U::Scan, U::Monitoring, false, M::Refused, "Monitoring was refused: the tuner is being scanned."},
    {U::Scan, U::Scan, true, M::Refused, "A tuner scan was refused: the tuner is being scanned."},
    {U::Scan, U::Scan, false, M::Refused, "A tuner scan was refused: the tuner is being scanned."},
};

TEST_F(TunerTest, EachUseMeetsEachHolderAsItsRulesSay)
{
    for (const Case& c : kCases) {
        const std::string name = std::string(TunerUseName(c.holding)) + " held, " + TunerUseName(c.asking) +
                                 (c.sameChannel ? " on its channel" : " on another");
        Tuner tuner;
        int letGo = 0;
        tuner.OnTaken(c.holding, [&letGo] { ++letGo; });
        ASSERT_TRUE(tuner.Hold(c.holding, kHeldChannel, 25).Granted()) << name;
        const int channel = c.sameChannel ? kHeldChannel : kOtherChannel;
        const TunerAnswer answer = tuner.Hold(c.asking, channel, 25);
        const TunerActivity after = tuner.Activity();
        EXPECT_EQ(c.meets, answer.meets) << name;
        EXPECT_EQ(c.words, answer.reason) << name;
        EXPECT_EQ(c.meets == M::Takes ? 1 : 0, letGo) << name << ": the holder taken from is let go";
        const bool holderKept = c.meets != M::Takes || c.holding == c.asking;
        EXPECT_EQ(holderKept, after.Holds(c.holding)) << name;
        EXPECT_EQ(answer.Granted() || c.holding == c.asking, after.Holds(c.asking)) << name;
        EXPECT_EQ(answer.Granted() ? channel : kHeldChannel, after.channel) << name;
        EXPECT_EQ(after.channel, gSettings.record.currentChannel) << name << ": the channel is remembered";
    }
}

TEST_F(TunerTest, TheCaptureRunsWhileAnyoneHoldsIt)
{
    Tuner tuner;
    ASSERT_TRUE(tuner.Hold(U::Live, kHeldChannel, 25).Granted());
    ASSERT_EQ(0, StartCapture());
    EXPECT_EQ(M::Shares, tuner.Hold(U::Recording, kHeldChannel, 25).meets);
    EXPECT_TRUE(IsCaptureRunning()) << "a recording of the stream's channel joins the running graph";
    tuner.Release(U::Live);
    EXPECT_TRUE(IsCaptureRunning()) << "the recording still holds it";
    tuner.Release(U::Recording);
    EXPECT_FALSE(IsCaptureRunning());
    EXPECT_TRUE(tuner.Activity().Idle());

    const TunerAnswer noDevice = tuner.Hold(U::Live, 7, 25);
    EXPECT_EQ(M::Refused, noDevice.meets);
    EXPECT_EQ("Channel 7 has no capture device.", noDevice.reason);
    EXPECT_TRUE(tuner.Activity().Idle()) << "a graph that cannot be built holds nothing";
}

} // namespace
