#include "capture_fixture.h"

#include "shared/resources.h"
#include "shared/server_state.h"
#include "capture/grabber_callbacks.h"
#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/sync.h"
#include "shared/live_params.h"

#include <thread>
#include <vector>

namespace {

bool Signalled(AutoResetEvent& event)
{
    return event.Wait(0);
}

class GrabberCallbackTest : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        gGrabbers.ResetExitSignals();
        SetSampleConsumer(&LiveEncodeSteps());
        gGrabbers.encoderSlotInUse = 0;
        ResetCaptionBuffer();
    }
    void TearDown() override
    {
        SetStreaming(false);
        SetRecording(false);
        SetMonitoring(false);
        CaptureTest::TearDown();
    }

    std::vector<uint8_t> frame = std::vector<uint8_t>(320 * 240 * 3, 7);
};

TEST_F(GrabberCallbackTest, WithEverythingOffTheVideoCallbackSignalsBothExitsAndReturns)
{
    gLatestVideoSample = {};
    EXPECT_EQ(0, gGrabbers.video.BufferCB(1.0, frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(1, gGrabbers.encoderSlotInUse);
    EXPECT_TRUE(Signalled(gGrabbers.videoEncoderExit));
    EXPECT_TRUE(Signalled(gGrabbers.videoRecorderExit));
    EXPECT_FALSE(Signalled(gGrabbers.audioEncoderExit));
    EXPECT_EQ(nullptr, gLatestVideoSample.bytes);
}

TEST_F(GrabberCallbackTest, TheGatesDecideWhichExitsAreSignalledAndWhatIsPublished)
{
    SetStreaming(true);
    EXPECT_EQ(0, gGrabbers.video.BufferCB(1.0, frame.data(), static_cast<int>(frame.size())));
    EXPECT_FALSE(Signalled(gGrabbers.videoEncoderExit));
    EXPECT_TRUE(Signalled(gGrabbers.videoRecorderExit));
    EXPECT_EQ(frame.data(), gLatestVideoSample.bytes);
    EXPECT_EQ(-1, gGrabbers.video.BufferCB(1.0, nullptr, 0));

    SetStreaming(false);
    SetRecording(true);
    EXPECT_EQ(0, gGrabbers.audio.BufferCB(1.0, frame.data(), 100));
    EXPECT_TRUE(Signalled(gGrabbers.audioEncoderExit));
    EXPECT_FALSE(Signalled(gGrabbers.audioRecorderExit));
    EXPECT_EQ(0, gLiveEncoder.pcmFill);
    EXPECT_EQ(100, gRecorder.pcmFill);
    EXPECT_EQ(-1, gGrabbers.audio.BufferCB(1.0, nullptr, 100));

    // Monitoring alone looks at the picture but encodes nothing.
    SetRecording(false);
    SetMonitoring(true);
    gLatestVideoSample = {};
    EXPECT_EQ(0, gGrabbers.video.BufferCB(2.0, frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(nullptr, gLatestVideoSample.bytes);
    EXPECT_EQ(0, gGrabbers.audio.BufferCB(2.0, frame.data(), 100));
    EXPECT_EQ(100, gRecorder.pcmFill);
}

TEST_F(GrabberCallbackTest, PcmBlocksThatDoNotFitAreDroppedWhole)
{
    SetStreaming(true);
    std::vector<uint8_t> block(kPcmStagingSize + 1, 3);
    EXPECT_EQ(0, gGrabbers.audio.BufferCB(0.0, block.data(), static_cast<int>(block.size())));
    EXPECT_EQ(0, gLiveEncoder.pcmFill);
    EXPECT_EQ(0, gGrabbers.audio.BufferCB(0.0, block.data(), 1000));
    EXPECT_EQ(0, gGrabbers.audio.BufferCB(0.0, block.data(), static_cast<int>(kPcmStagingSize) - 999));
    EXPECT_EQ(1000, gLiveEncoder.pcmFill);
    EXPECT_EQ(0, gGrabbers.audio.BufferCB(0.0, block.data(), static_cast<int>(kPcmStagingSize) - 1000));
    EXPECT_EQ(static_cast<int32_t>(kPcmStagingSize), gLiveEncoder.pcmFill);
    EXPECT_EQ(3, gBuffers.livePcm[kPcmStagingSize - 1]);
}

TEST_F(GrabberCallbackTest, CaptionBytesGoToTheDecoderInSixteens)
{
    const uint8_t pair[2] = {0x94, 0x20};
    for (int delivery = 1; delivery <= 7; ++delivery) {
        gGrabbers.caption.BufferCB(0.0, pair, 2);
        EXPECT_EQ(delivery * 2, CaptionBytesWaiting());
    }
    gGrabbers.caption.BufferCB(0.0, pair, 2);
    EXPECT_EQ(0, CaptionBytesWaiting());

    std::vector<uint8_t> many(kCaptionBufferSize * 2, 0x80);
    gGrabbers.caption.BufferCB(0.0, many.data(), 14);
    EXPECT_EQ(14, CaptionBytesWaiting());
    // Far more than the room left: what fits is taken, never more.
    EXPECT_EQ(0, gGrabbers.caption.BufferCB(0.0, many.data(), static_cast<int>(many.size())));
    EXPECT_EQ(0, CaptionBytesWaiting());
    EXPECT_EQ(0, gGrabbers.caption.BufferCB(0.0, nullptr, 2));
    EXPECT_EQ(0, CaptionBytesWaiting());
}

TEST_F(GrabberCallbackTest, ALiveStreamFromTheTvCardFillsBothRings)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), AudioSlot("Virtual TV Tuner"), gLiveParams.frameRate));
    ASSERT_EQ(0, OpenLiveEncoder(true, true));
    SetStreaming(true);
    ASSERT_EQ(0, StartCapture());
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    SetStreaming(false);
    EXPECT_TRUE(gGrabbers.videoEncoderExit.Wait(2000));
    EXPECT_TRUE(gGrabbers.audioEncoderExit.Wait(2000));
    EXPECT_EQ(0, StopCapture());
    CloseLiveEncoder();
    EXPECT_GT(gStream.video.encodedTotal, 0u);
    EXPECT_GT(gStream.audio.encodedTotal, 0u);
}

} // namespace
