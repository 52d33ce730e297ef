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
        gEvents.ResetAll();
        SetSampleConsumer(&LiveEncodeSteps());
        gEncoderSlotInUse = 0;
        ResetCaptionBuffer();
    }
    void TearDown() override
    {
        gState.streaming = gState.recording = gState.monitoring = 0;
        CaptureTest::TearDown();
    }

    std::vector<uint8_t> frame = std::vector<uint8_t>(320 * 240 * 3, 7);
};

TEST_F(GrabberCallbackTest, WithEverythingOffTheVideoCallbackSignalsBothExitsAndReturns)
{
    gLatestVideoSample = {};
    EXPECT_EQ(0, gVideoCallback.BufferCB(1.0, frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(1, gEncoderSlotInUse);
    EXPECT_TRUE(Signalled(gEvents.videoEncoderExit));
    EXPECT_TRUE(Signalled(gEvents.videoRecorderExit));
    EXPECT_FALSE(Signalled(gEvents.audioEncoderExit));
    EXPECT_EQ(nullptr, gLatestVideoSample.bytes);
}

TEST_F(GrabberCallbackTest, TheGatesDecideWhichExitsAreSignalledAndWhatIsPublished)
{
    gState.streaming = 1;
    EXPECT_EQ(0, gVideoCallback.BufferCB(1.0, frame.data(), static_cast<int>(frame.size())));
    EXPECT_FALSE(Signalled(gEvents.videoEncoderExit));
    EXPECT_TRUE(Signalled(gEvents.videoRecorderExit));
    EXPECT_EQ(frame.data(), gLatestVideoSample.bytes);
    EXPECT_EQ(-1, gVideoCallback.BufferCB(1.0, nullptr, 0));

    gState.streaming = 0;
    gState.recording = 1;
    EXPECT_EQ(0, gAudioCallback.BufferCB(1.0, frame.data(), 100));
    EXPECT_TRUE(Signalled(gEvents.audioEncoderExit));
    EXPECT_FALSE(Signalled(gEvents.audioRecorderExit));
    EXPECT_EQ(0, gLivePcmFill);
    EXPECT_EQ(100, gRecorderPcmFill);
    EXPECT_EQ(-1, gAudioCallback.BufferCB(1.0, nullptr, 100));

    // Monitoring alone looks at the picture but encodes nothing.
    gState.recording = 0;
    gState.monitoring = 1;
    gLatestVideoSample = {};
    EXPECT_EQ(0, gVideoCallback.BufferCB(2.0, frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(nullptr, gLatestVideoSample.bytes);
    EXPECT_EQ(0, gAudioCallback.BufferCB(2.0, frame.data(), 100));
    EXPECT_EQ(100, gRecorderPcmFill);
}

TEST_F(GrabberCallbackTest, PcmBlocksThatDoNotFitAreDroppedWhole)
{
    gState.streaming = 1;
    std::vector<uint8_t> block(kPcmStagingSize + 1, 3);
    EXPECT_EQ(0, gAudioCallback.BufferCB(0.0, block.data(), static_cast<int>(block.size())));
    EXPECT_EQ(0, gLivePcmFill);
    EXPECT_EQ(0, gAudioCallback.BufferCB(0.0, block.data(), 1000));
    EXPECT_EQ(0, gAudioCallback.BufferCB(0.0, block.data(), static_cast<int>(kPcmStagingSize) - 999));
    EXPECT_EQ(1000, gLivePcmFill);
    EXPECT_EQ(0, gAudioCallback.BufferCB(0.0, block.data(), static_cast<int>(kPcmStagingSize) - 1000));
    EXPECT_EQ(static_cast<int32_t>(kPcmStagingSize), gLivePcmFill);
    EXPECT_EQ(3, gBuffers.livePcm[kPcmStagingSize - 1]);
}

TEST_F(GrabberCallbackTest, CaptionBytesGoToTheDecoderInSixteens)
{
    const uint8_t pair[2] = {0x94, 0x20};
    for (int delivery = 1; delivery <= 7; ++delivery) {
        gCaptionCallback.BufferCB(0.0, pair, 2);
        EXPECT_EQ(delivery * 2, CaptionBytesWaiting());
    }
    gCaptionCallback.BufferCB(0.0, pair, 2);
    EXPECT_EQ(0, CaptionBytesWaiting());

    std::vector<uint8_t> many(kCaptionBufferSize * 2, 0x80);
    gCaptionCallback.BufferCB(0.0, many.data(), 14);
    EXPECT_EQ(14, CaptionBytesWaiting());
    // Far more than the room left: what fits is taken, never more.
    EXPECT_EQ(0, gCaptionCallback.BufferCB(0.0, many.data(), static_cast<int>(many.size())));
    EXPECT_EQ(0, CaptionBytesWaiting());
    EXPECT_EQ(0, gCaptionCallback.BufferCB(0.0, nullptr, 2));
    EXPECT_EQ(0, CaptionBytesWaiting());
}

TEST_F(GrabberCallbackTest, ALiveStreamFromTheTvCardFillsBothRings)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), AudioSlot("Virtual TV Tuner"), gLiveParams.frameRate));
    ASSERT_EQ(0, OpenLiveEncoder(true, true));
    gState.streaming = 1;
    ASSERT_EQ(0, StartCapture());
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    gState.streaming = 0;
    EXPECT_TRUE(gEvents.videoEncoderExit.Wait(2000));
    EXPECT_TRUE(gEvents.audioEncoderExit.Wait(2000));
    EXPECT_EQ(0, StopCapture());
    CloseLiveEncoder();
    EXPECT_GT(gStream.video.encodedTotal, 0u);
    EXPECT_GT(gStream.audio.encodedTotal, 0u);
}

} // namespace
