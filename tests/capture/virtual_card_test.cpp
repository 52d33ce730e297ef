#include "capture_fixture.h"

#include "capture/crossbar_router.h"
#include "shared/live_params.h"
#include "platform/capture/line21.h"
#include "platform/capture/virtual_pictures.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

using std::chrono::milliseconds;

class VirtualCardTest : public CaptureTest {
protected:
    // The TV card alone, at the recording frame rate (25 by default).
    void BuildCard()
    {
        ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, 25));
    }

    std::vector<SampleLog::Entry> FramesOfChannel(int channel)
    {
        BuildCard();
        EXPECT_EQ(0, TuneChannel(channel, 1, 1));
        SampleLog frames;
        CaptureFor(milliseconds(400), *gCapture.videoGrabber, frames);
        return frames.Entries();
    }
};

TEST_F(VirtualCardTest, FramesArriveAtTheAskedRateWithTheirSizeAndBottomUpBgrOrder)
{
    BuildCard();
    EXPECT_EQ(25, GraphFormat().frameRate);
    ASSERT_EQ(0, TuneChannel(9, 1, 1));
    SampleLog frames;
    CaptureFor(milliseconds(800), *gCapture.videoGrabber, frames);
    const auto entries = frames.Entries();
    EXPECT_GE(entries.size(), 15u);
    EXPECT_LE(entries.size(), 22u);
    ASSERT_GE(entries.size(), 2u);
    for (size_t i = 1; i < entries.size(); ++i) {
        double periods = (entries[i].time - entries[i - 1].time) / 0.04;
        EXPECT_GE(periods, 0.999);
        EXPECT_NEAR(periods, std::round(periods), 1e-6);
    }
    const std::vector<uint8_t>& frame = entries.back().bytes;
    ASSERT_EQ(640u * 480 * 3, frame.size());
    // The first stored row is the bottom of the picture: the black strip.
    EXPECT_EQ(0, frame[0] | frame[1] | frame[2]);
    // The last stored row is the top: the second bar is yellow, B,G,R = 0,191,191.
    const uint8_t* yellow = frame.data() + 479 * 640 * 3 + (640 * 3 / 14) * 3;
    EXPECT_EQ(0, yellow[0]);
    EXPECT_EQ(191, yellow[1]);
    EXPECT_EQ(191, yellow[2]);
}

TEST_F(VirtualCardTest, ChannelThreeIsStillWhileChannelFiveMoves)
{
    auto still = FramesOfChannel(3);
    ASSERT_GE(still.size(), 3u);
    for (const auto& frame : still)
        EXPECT_EQ(still[0].bytes, frame.bytes);
    auto moving = FramesOfChannel(5);
    ASSERT_GE(moving.size(), 3u);
    EXPECT_NE(moving[0].bytes, moving[1].bytes);
    EXPECT_NE(moving[1].bytes, moving[2].bytes);
}

TEST_F(VirtualCardTest, NoiseOffTheStationsAndInputsFollowTheCrossbar)
{
    auto noise = FramesOfChannel(4);
    ASSERT_GE(noise.size(), 2u);
    EXPECT_NE(noise[0].bytes, noise[1].bytes);

    ASSERT_EQ(0, gCapture.router->SelectRoute(1));
    SampleLog composite;
    CaptureFor(milliseconds(300), *gCapture.videoGrabber, composite);
    auto stills = composite.Entries();
    ASSERT_GE(stills.size(), 2u);
    EXPECT_EQ(stills[0].bytes, stills.back().bytes);

    ASSERT_EQ(0, gCapture.router->SelectRoute(2));
    SampleLog svideo;
    CaptureFor(milliseconds(300), *gCapture.videoGrabber, svideo);
    auto rolling = svideo.Entries();
    ASSERT_GE(rolling.size(), 2u);
    EXPECT_NE(rolling[0].bytes, rolling[1].bytes);
}

TEST_F(VirtualCardTest, ChannelNineCarriesPopOnCaptionsWithOddParity)
{
    BuildCard();
    ASSERT_TRUE(GraphHas("VBI Codec"));
    ASSERT_EQ(0, TuneChannel(9, 1, 1));
    SampleLog pairs;
    CaptureFor(milliseconds(1200), *gCapture.captionGrabber, pairs);
    std::string text;
    bool loading = false;
    bool shown = false;
    for (const auto& entry : pairs.Entries()) {
        ASSERT_EQ(2u, entry.bytes.size());
        EXPECT_TRUE(HasOddParity(entry.bytes[0]) && HasOddParity(entry.bytes[1]));
        const uint8_t first = entry.bytes[0] & 0x7F;
        const uint8_t second = entry.bytes[1] & 0x7F;
        loading |= first == 0x14 && second == 0x20;
        shown |= first == 0x14 && second == 0x2F;
        for (uint8_t byte : {first, second})
            if (byte >= 0x20)
                text += static_cast<char>(byte);
    }
    EXPECT_GT(pairs.Count(), 25u);
    EXPECT_TRUE(loading);
    EXPECT_TRUE(shown);
    EXPECT_NE(std::string::npos, text.find("ORVANDEL TEST CHANNEL 9"));
}

TEST_F(VirtualCardTest, OtherChannelsCarryNoCaptions)
{
    BuildCard();
    ASSERT_EQ(0, TuneChannel(3, 1, 1));
    SampleLog pairs;
    CaptureFor(milliseconds(300), *gCapture.captionGrabber, pairs);
    EXPECT_EQ(0u, pairs.Count());
}

TEST_F(VirtualCardTest, TheLineInDeliversATwentiethOfASecondAtATime)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(kNoDevice, AudioSlot("Virtual Line In"), gLiveParams.frameRate));
    SampleLog blocks;
    CaptureFor(milliseconds(500), *gCapture.audioGrabber, blocks);
    const auto entries = blocks.Entries();
    ASSERT_GE(entries.size(), 8u);
    EXPECT_LE(entries.size(), 12u);
    EXPECT_EQ(2205u * 4, entries[0].bytes.size());
    EXPECT_NEAR(0.05, entries[1].time - entries[0].time, 1e-9);
    auto samples = reinterpret_cast<const int16_t*>(entries[1].bytes.data());
    EXPECT_GT(*std::max_element(samples, samples + 2205 * 2), 7000);
}

TEST(Line21Test, EveryPairSurvivesTheScanLine)
{
    uint8_t line[kVbiLineSamples];
    for (int first = 0; first < 128; first += 3) {
        for (int second = 0; second < 128; second += 5) {
            const uint8_t sent[2] = {WithOddParity(static_cast<uint8_t>(first)),
                                     WithOddParity(static_cast<uint8_t>(second))};
            SynthesizeLine21(sent[0], sent[1], line, kVbiLineSamples, kVbiSampleRate);
            uint8_t got[2] = {};
            ASSERT_EQ(0, SliceLine21(line, kVbiLineSamples, kVbiSampleRate, got));
            ASSERT_EQ(sent[0], got[0]);
            ASSERT_EQ(sent[1], got[1]);
        }
    }
    std::fill(std::begin(line), std::end(line), 60);
    uint8_t got[2];
    EXPECT_EQ(-1, SliceLine21(line, kVbiLineSamples, kVbiSampleRate, got));
}

TEST(Line21Test, PopOnCaptionsLoadPlaceAndShowTheirText)
{
    std::vector<uint8_t> pairs = PopOnCaption({"HI", "YOU"});
    std::vector<uint8_t> plain;
    for (uint8_t byte : pairs) {
        EXPECT_TRUE(HasOddParity(byte));
        plain.push_back(byte & 0x7F);
    }
    const std::vector<uint8_t> expected = {0x14, 0x20, 0x14, 0x20, 0x14, 0x2E, 0x14, 0x2E, 0x14, 0x40, 0x14, 0x40,
                                           'H',  'I',  0x14, 0x60, 0x14, 0x60, 'Y',  'O',  'U',  0x00, 0x14, 0x2F,
                                           0x14, 0x2F};
    EXPECT_EQ(expected, plain);
    EXPECT_EQ(0x80, WithOddParity(0));
    EXPECT_EQ(0x01, WithOddParity(1));
}

} // namespace
