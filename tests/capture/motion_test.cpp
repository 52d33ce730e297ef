// Motion monitoring: the band check itself, and the video callback's
// comparison periods, priming and reports on the virtual TV card's graph.

#include "capture_fixture.h"

#include "capture/grabber_callbacks.h"
#include "capture/motion.h"
#include "capture/rendering_surface.h"
#include "config/settings.h"
#include "platform/messages.h"
#include "shared/live_params.h"
#include "shared/server_state.h"
#include "support/test_application.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(MotionCheckTest, BandsDecideAndTheReferenceFollowsThePass)
{
    constexpr size_t kLength = 4000;  // four bands of 1,000 bytes
    Bytes reference(kLength, 100);
    Bytes picture(kLength, 100);
    // The last band is the top of a bottom-up picture.
    std::fill(picture.begin() + 3000, picture.end(), 107);
    EXPECT_TRUE(FrameHasMotion(reference.data(), picture.data(), kLength)) << "7 per byte in the top band";
    EXPECT_EQ(picture, reference);

    Bytes thin(kLength, 105);
    EXPECT_FALSE(FrameHasMotion(reference.data(), thin.data(), kLength)) << "5 per byte over the whole picture";
    EXPECT_EQ(thin, reference) << "every byte is copied";

    // Motion in the first band returns at once: the rest keeps what it held.
    Bytes moved(kLength, 0);
    EXPECT_TRUE(FrameHasMotion(reference.data(), moved.data(), kLength));
    EXPECT_EQ(0, reference[999]);
    EXPECT_EQ(105, reference[1000]);
    EXPECT_EQ(105, reference[kLength - 1]);

    // 4,003 bytes: the last three are copied but never judged.
    Bytes odd(kLength + 3, 0), oddReference(kLength + 3, 0);
    std::fill(odd.end() - 3, odd.end(), 255);
    EXPECT_FALSE(FrameHasMotion(oddReference.data(), odd.data(), odd.size()));
    EXPECT_EQ(odd, oddReference);
}

class MonitoringTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        Application();  // so that the motion check's request can be posted
        ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
        gSettings.record.currentChannel = 5;
        gSettings.channels[5].motionDetection = 1;
        gSettings.record.recordOnMotion = 1;
        RestartMonitoringPeriod();
        SetMotionDetected(false);
        SetMonitoringCountdown(10);
        SetMonitoring(true);
        SetMessageHandler(MessageTarget::Recorder, [this](unsigned message, uintptr_t, intptr_t) {
            if (message == kMsgStartRecording)
                recordingRequests.push_back(message);
        });
    }
    void TearDown() override
    {
        SetMessageHandler(MessageTarget::Recorder, {});
        SetMonitoring(false);
        CaptureTest::TearDown();
    }

    void Feed(const Bytes& picture, int count)
    {
        for (int i = 0; i < count; ++i)
            gGrabbers.video.BufferCB(i, picture.data(), static_cast<int>(picture.size()));
    }

    std::vector<unsigned> recordingRequests;
};

TEST_F(MonitoringTest, TenPeriodsPrimeThenPicture352IsComparedAndMotionAsksForARecording)
{
    const Bytes still(static_cast<size_t>(gCapture.format.FrameBytes()), 40);
    const Bytes moved(static_cast<size_t>(gCapture.format.FrameBytes()), 90);
    Feed(still, 288);
    EXPECT_EQ(1, MonitoringCountdown());
    Feed(still, 32);
    EXPECT_EQ(0, MonitoringCountdown()) << "primed at picture 320";
    Feed(moved, 31);
    EXPECT_FALSE(IsMotionDetected()) << "pictures 321 to 351 are not compared";
    Feed(moved, 1);
    EXPECT_TRUE(IsMotionDetected()) << "picture 352 is";
    EXPECT_TRUE(WaitUntil([this] { return !recordingRequests.empty(); }));
    EXPECT_EQ(1u, recordingRequests.size());

    // A graph rebuilt meanwhile (a recording's) primes its new reference first.
    SetMotionDetected(false);
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gRecordingParams.profile.frameRate));
    Feed(moved, 32);
    EXPECT_FALSE(IsMotionDetected()) << "the new reference takes the picture";
    Feed(still, 32);
    EXPECT_TRUE(IsMotionDetected());

    // With the channel's switch off nothing is compared, nor counted.
    SetMotionDetected(false);
    gSettings.channels[5].motionDetection = 0;
    Feed(still, 64);
    EXPECT_FALSE(IsMotionDetected());
}

using RenderingSurfaceTest = CaptureTest;

TEST_F(RenderingSurfaceTest, FollowsTheCaptureSize)
{
    AddVirtualDevice(VideoDevice("Small Camera", {{320, 240}}));
    Enumerate();
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
    ASSERT_EQ(1, CreateRenderingSurface());
    EXPECT_EQ(QSize(640, 480), RenderingSurface().size());
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Small Camera"), kNoDevice, gLiveParams.frameRate));
    ASSERT_EQ(1, CreateRenderingSurface());
    EXPECT_EQ(QSize(320, 240), RenderingSurface().size());
}

} // namespace
