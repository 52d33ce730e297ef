// The file transcoder as the pipeline runs it, in this process: started and
// cancelled by the window thread (this test's main thread) at each of its
// stages, with a consumer draining the rings as the sender would.

#include "capture/grabber_callbacks.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "media/file_transcoder.h"
#include "media/media_info.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"
#include "support/large_buffers.h"
#include "support/media_files.h"
#include "support/temp_config.h"
#include "support/test_application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class FileTranscoderTest : public LargeBuffersTest {
protected:
    static void SetUpTestSuite()
    {
        LargeBuffersTest::SetUpTestSuite();
        SetFileStreamProducer(&FileTranscoderFor);
    }
    static void TearDownTestSuite()
    {
        SetFileStreamProducer(nullptr);
        LargeBuffersTest::TearDownTestSuite();
    }

    void SetUp() override
    {
        SetDefaultSettings();
        SetDefaultEncoderParams();
        ResetServerState();
        gGrabbers.ResetExitSignals();
        clip = config.Root() + "/clip.avi";
        ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=44100", "-t", "6", "-c:v", "mpeg4", "-c:a",
                              "libmp3lame", clip}));
        std::snprintf(gMediaSelection.mediaFilePath, sizeof gMediaSelection.mediaFilePath, "%s", clip.c_str());
        gMediaSelection.subtitleFilePath[0] = 0;
    }

    void TearDown() override { StopStreaming(tuner); }

    // Starts a file stream as the session asks for one; true once the
    // transcoder announced it.
    bool Start()
    {
        StreamRequest request{};
        request.profile = 0x11;
        request.videoStream = request.audioStream = request.subtitleStream = -1;
        return StartStream(tuner, request, true, 20000).Succeeded() && IsStreaming();
    }

    // How long StopStreaming took, in seconds.
    double TimedStop()
    {
        const auto asked = Clock::now();
        StopStreaming(tuner);
        return std::chrono::duration<double>(Clock::now() - asked).count();
    }

    static bool EndMarked(const StreamRing& ring)
    {
        std::lock_guard hold(gStream.lock);
        for (int32_t i = 0; i < ring.indexWrite; ++i)
            if (ring.index[i] >= kEndMarker)
                return true;
        return false;
    }

    TempConfig config;
    std::string clip;
    Tuner tuner;
};

TEST_F(FileTranscoderTest, AStopEndsItAtEveryStage)
{
    // Before the sender ran: nothing was produced, and nothing ends.
    ASSERT_TRUE(Start());
    EXPECT_LT(TimedStop(), 2.0);
    EXPECT_EQ(0, gStream.video.indexWrite);
    EXPECT_EQ(0, gStream.audio.indexWrite);

    // Paused, with nobody consuming: the end packets still close the stream.
    ASSERT_TRUE(Start());
    LetFileProducerGo();
    SetStreaming(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(TimedStop(), 2.0);
    EXPECT_TRUE(EndMarked(gStream.video));
    EXPECT_TRUE(EndMarked(gStream.audio));

    // A new start after a stop works, and a start while one runs is refused.
    ASSERT_TRUE(Start());
    EXPECT_FALSE(StartStream(tuner, StreamRequest{}, true, 20000).Succeeded());
    EXPECT_LT(TimedStop(), 2.0);
}

TEST_F(FileTranscoderTest, ItRunsToTheEndWhileASenderDrainsTheRings)
{
    ASSERT_TRUE(Start());
    std::atomic<bool> ended{false};
    std::atomic<uint64_t> videoBytes{0};
    std::thread sender([&] {
        static uint8_t chunks[kVideoChunk + kAudioChunk + 8];
        for (const auto deadline = Clock::now() + std::chrono::seconds(60); !ended && Clock::now() < deadline;) {
            TakenChunks taken;
            {
                std::lock_guard hold(gStream.lock);
                TakeChunk(chunks, taken);
            }
            for (int i = 0; i < taken.count; ++i) {
                ended = ended || taken.packets[i].header >= kEndMarker;
                if (taken.packets[i].header & kVideoHeaderBit)
                    videoBytes += static_cast<uint64_t>(taken.packets[i].payloadSize);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    LetFileProducerGo();
    sender.join();
    EXPECT_TRUE(ended) << "the transcoder ends by itself at the end of the file";
    EXPECT_GT(videoBytes.load(), 0u);
    EXPECT_NEAR(6000, gLiveParams.durationMs, 100);
    EXPECT_LT(TimedStop(), 1.0);
}

} // namespace
