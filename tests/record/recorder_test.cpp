#include "shared/resources.h"
#include "shared/server_state.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "shared/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/recording_sink.h"
#include "record/recorder.h"
#include "support/process.h"
#include "support/temp_config.h"

#include <QCoreApplication>

#include "support/test_application.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

class RecorderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Application();
        ASSERT_EQ(0, AllocateLargeBuffers());
    }
    static void TearDownTestSuite() { FreeLargeBuffers(); }

    void SetUp() override
    {
        SetDefaultSettings();
        SetDefaultEncoderParams();
        std::snprintf(gSettings.record.recordingFolder, sizeof gSettings.record.recordingFolder, "%s",
                      config.Root().c_str());
        gSettings.record.currentChannel = 7;
        ResetStreamBuffers();
        // The capture graph gives both branches the rate the device took.
        gLiveParams.frameRate = gRecordingParams.profile.frameRate;
        gStream.video.present = gStream.audio.present = true;
        gCapture.format.width = 640;
        gCapture.format.height = 480;
        picture.assign(640 * 480 * 3, 0x40);
        gLatestVideoSample = {picture.data(), static_cast<int32_t>(picture.size())};
        const SystemTime start{2026, 3, 4, 5, 9, 4, 5, 0};
        SetLocalTimeOverride(&start);
        SetMessageHandler(MessageTarget::Recorder, [this](unsigned message, uintptr_t, intptr_t) {
            stopRequests += message == kMsgStopRecording;
        });
    }

    void TearDown() override
    {
        SetRecording(false);
        SetStreaming(false);
        CloseRecorder();
        CloseLiveEncoder();
        SetLocalTimeOverride(nullptr);
        SetMessageHandler(MessageTarget::Recorder, {});
        gLatestVideoSample = {};
    }

    // One second of capture at 25 frames/s with sound.
    void CaptureOneSecond(int second)
    {
        for (int frame = 0; frame < 25; ++frame) {
            picture[(second * 25 + frame) * 999 % picture.size()] ^= 0xFF;
            EncodeVideoSample(second + frame / 25.0);
            if (frame % 5 == 0) {
                std::memset(gBuffers.recorderPcm + gRecorder.pcmFill, 0x11, 35280);  // 0.2 s of stereo
                gRecorder.pcmFill += 35280;
                EncodeAudioSamples(second + frame / 25.0);
            }
        }
    }

    std::string RecordingPath() const { return config.Root() + "/Rec_ch7_5Mar2026_09_04_05.avi"; }

    TempConfig config;
    std::vector<uint8_t> picture;
    int stopRequests = 0;
};

TEST_F(RecorderTest, WritesAnAviThatPlaysBack)
{
    ASSERT_EQ(0, OpenRecorder());
    SetRecording(true);
    for (int second = 0; second < 2; ++second)
        CaptureOneSecond(second);
    EXPECT_GT(gRecorder.recordedBytes.load(), 0u);
    EXPECT_EQ(50, gLiveEncoder.framesEncoded);
    CloseRecorder();

    ProcessResult probe = RunProcess({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                      "stream=codec_name,width,height,nb_read_frames,sample_rate", "-of",
                                      "default=noprint_wrappers=1", RecordingPath()},
                                     60000);
    EXPECT_NE(std::string::npos, probe.output.find("codec_name=wmv2")) << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("width=320"));
    EXPECT_NE(std::string::npos, probe.output.find("height=240"));
    EXPECT_NE(std::string::npos, probe.output.find("nb_read_frames=50"));
    EXPECT_NE(std::string::npos, probe.output.find("codec_name=wmav2"));
    EXPECT_NE(std::string::npos, probe.output.find("sample_rate=44100"));
    EXPECT_EQ(0, stopRequests);
}

TEST_F(RecorderTest, LiveAndRecordingShareTheSamples)
{
    gLiveEncoder.outputWidth = 320;
    gLiveEncoder.outputHeight = 240;
    ASSERT_EQ(0, OpenLiveEncoder(true, true));
    ASSERT_EQ(0, OpenRecorder());
    SetStreaming(true);
    SetRecording(true);
    CaptureOneSecond(0);
    // One picture clock for both branches.
    EXPECT_EQ(25, gLiveEncoder.framesEncoded);
    EXPECT_GT(gStream.video.encodedTotal, 0u);
    EXPECT_GT(gRecorder.recordedBytes.load(), 0u);

    // A full ring stops the pictures for the handheld, not the recording.
    const uint32_t recordedBefore = gRecorder.recordedBytes;
    const uint64_t liveBefore = gStream.video.encodedTotal;
    gStream.video.fullness = kLiveProducerLimit;
    CaptureOneSecond(1);
    EXPECT_EQ(liveBefore, gStream.video.encodedTotal);
    EXPECT_GT(gRecorder.recordedBytes.load(), recordedBefore);
}

TEST_F(RecorderTest, LimitsAskForTheRecordingToStop)
{
    gSettings.record.limitRecordingSize = 1;
    gSettings.record.recordingSizeLimitMb = 0;
    ASSERT_EQ(0, OpenRecorder());
    SetRecording(true);
    CaptureOneSecond(0);
    Application().processEvents();
    EXPECT_GT(stopRequests, 0);

    stopRequests = 0;
    gSettings.record.limitRecordingSize = 0;
    gSettings.record.limitRecordingTime = 1;
    gSettings.record.recordingTimeLimit = 3600;
    CaptureOneSecond(1);
    Application().processEvents();
    EXPECT_EQ(0, stopRequests);
}

TEST_F(RecorderTest, AFolderThatCannotTakeARecordingIsRefusedWithItsReason)
{
    const std::string missing = config.Root() + "/missing/deeper";
    const std::string readOnly = config.Root() + "/read-only";
    std::filesystem::create_directory(readOnly);
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool root = ::geteuid() == 0;  // root writes everywhere
    RecordingMessageSink sink;
    SetMessageSink(&sink);
    for (const std::string& folder : {missing, readOnly}) {
        std::snprintf(gSettings.record.recordingFolder, sizeof gSettings.record.recordingFolder, "%s",
                      folder.c_str());
        EXPECT_EQ(folder == readOnly && root ? 0 : -1, OpenRecorder());
        CloseRecorder();
    }
    SetMessageSink(nullptr);
    EXPECT_TRUE(sink.Saw("The recording folder " + missing + " does not exist."));
    EXPECT_EQ(!root, sink.Saw("The recording folder " + readOnly + " cannot be written to."));
    EXPECT_FALSE(std::filesystem::exists(config.Root() + "/missing"));
}

} // namespace
