#include "shared/resources.h"
#include "shared/server_state.h"
#include "encode/live_encoder.h"
#include "shared/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/capture/virtual_pictures.h"
#include "support/decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

std::vector<uint8_t> RingBytes(const StreamRing& ring)
{
    return std::vector<uint8_t>(ring.bytes, ring.bytes + ring.writeOffset);
}

class LiveEncoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, AllocateLargeBuffers()); }
    static void TearDownTestSuite() { FreeLargeBuffers(); }

    void SetUp() override
    {
        SetDefaultEncoderParams();
        ResetStreamBuffers();
        gCapture.format.width = 640;
        gCapture.format.height = 480;
        picture.resize(gCapture.format.FrameBytes());
        for (size_t i = 0; i < picture.size(); ++i)
            picture[i] = static_cast<uint8_t>(i * 7 / 3);
        gLatestVideoSample = {picture.data(), gCapture.format.FrameBytes()};
        SetStreaming(true);
    }

    void TearDown() override
    {
        CloseLiveEncoder();
        SetStreaming(false);
        gLatestVideoSample = {};
    }

    static void Open(uint8_t codec, int width, int height, bool audio = true)
    {
        gLiveParams.videoCodec = codec;
        gLiveEncoder.outputWidth = width;
        gLiveEncoder.outputHeight = height;
        ASSERT_EQ(0, OpenLiveEncoder(true, audio));
    }

    void EncodeSeconds(double seconds)
    {
        const double frameRate = gLiveParams.frameRate;
        for (int frame = 0; frame < seconds * frameRate; ++frame) {
            picture[frame % picture.size()] ^= 0xFF;
            EncodeVideoSample(frame / frameRate);
        }
    }

    // Stripes moving sideways, which cost an encoder its bit rate.
    void EncodeMovingSeconds(double seconds)
    {
        const Picture stripes = MakeWideStripes(gCapture.format.width, gCapture.format.height, 7);
        const double frameRate = gLiveParams.frameRate;
        for (int frame = 0; frame < seconds * frameRate; ++frame, ++movingFrame) {
            ScrollSideways(stripes, gCapture.format.width, gCapture.format.height, movingFrame * 5, picture.data());
            EncodeVideoSample(movingFrame / frameRate);
        }
    }

    std::vector<uint8_t> picture;
    int movingFrame = 0;
};

TEST_F(LiveEncoderTest, EveryCodecGivesAStreamAPlayerDecodes)
{
    struct Case {
        uint8_t selector;
        AVCodecID id;
        int width, height;
    } cases[] = {{0, AV_CODEC_ID_MPEG4, 320, 240}, {2, AV_CODEC_ID_H264, 320, 240}, {1, AV_CODEC_ID_H263, 176, 144}};
    for (const Case& c : cases) {
        ResetStreamBuffers();
        Open(c.selector, 320, 240, false);
        EncodeSeconds(6);
        CloseLiveEncoder();
        DecodedStream decoded = DecodeElementaryStream(c.id, RingBytes(gStream.video));
        EXPECT_EQ(c.width, decoded.width) << int(c.selector);
        EXPECT_EQ(c.height, decoded.height) << int(c.selector);
        // The last pictures may still sit in the encoder.
        EXPECT_GE(decoded.frames, 6 * gLiveParams.frameRate - 50) << int(c.selector);
        EXPECT_LE(decoded.frames, 6 * gLiveParams.frameRate) << int(c.selector);
    }
}

// What a handheld gets: the chunks a sender took, then what is left.
std::vector<uint8_t> TakeEverything()
{
    std::vector<uint8_t> stream;
    std::vector<uint8_t> chunk(kVideoChunk + kAudioChunk + 8);
    TakenChunks taken;
    while (TakeChunk(chunk.data(), taken) > 0)
        stream.insert(stream.end(), chunk.begin() + 4, chunk.begin() + 4 + kVideoChunk);
    const StreamRing& video = gStream.video;
    stream.insert(stream.end(), video.bytes + video.readOffset, video.bytes + video.writeOffset);
    return stream;
}

// A slow link has the encoder change its rate while it runs and the sender
// cut a backlog: every codec's stream still decodes without an error.
TEST_F(LiveEncoderTest, RateChangesAndCatchUpCutsKeepTheStreamDecodable)
{
    const struct {
        uint8_t selector;
        AVCodecID id;
    } cases[] = {{0, AV_CODEC_ID_MPEG4}, {2, AV_CODEC_ID_H264}, {1, AV_CODEC_ID_H263}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.selector));
        ResetStreamBuffers();
        ResetVideoPacing();
        movingFrame = 0;
        Open(c.selector, 320, 240, false);
        gStream.video.present = true;
        const int requested = gLiveParams.videoBitRate;
        EncodeMovingSeconds(3);
        gLiveEncoder.linkVideoBitRate = requested / 4;
        EncodeMovingSeconds(3);
        EXPECT_EQ(requested / 4, gLiveEncoder.branch.video->bit_rate);
        std::vector<uint8_t> chunk(kVideoChunk + kAudioChunk + 8);
        TakenChunks taken;
        {
            std::lock_guard hold(gStream.lock);
            ASSERT_GT(TakeChunk(chunk.data(), taken), 0u);
            EXPECT_GT(DropLiveBacklog(), 0);
        }
        gLiveEncoder.linkVideoBitRate = requested;
        EncodeMovingSeconds(2);
        std::vector<uint8_t> stream(chunk.begin() + 4, chunk.begin() + 4 + kVideoChunk);
        const std::vector<uint8_t> rest = TakeEverything();
        stream.insert(stream.end(), rest.begin(), rest.end());
        CloseLiveEncoder();
        const DecodedStream decoded = DecodeElementaryStream(c.id, stream);
        EXPECT_EQ(0, decoded.errors);
        EXPECT_GT(decoded.frames, 2 * gLiveParams.frameRate - 5);
    }
}

TEST_F(LiveEncoderTest, FirstSampleIsEncodedOnceWhateverItsTime)
{
    Open(0, 320, 240);
    EncodeVideoSample(1234.5);
    EXPECT_EQ(1, gLiveEncoder.framesEncoded);
    EncodeVideoSample(1234.5 + 0.1);  // one period later at 10 frames/s
    EXPECT_EQ(2, gLiveEncoder.framesEncoded);
    EncodeVideoSample(1234.5 + 0.05);  // early
    EXPECT_EQ(2, gLiveEncoder.framesEncoded);
}

TEST_F(LiveEncoderTest, LateSamplesAreRepeatedToCatchUp)
{
    EXPECT_EQ(3, PacingCopies(2.6));
    EXPECT_EQ(2, PacingCopies(2.5));
    EXPECT_EQ(4, PacingCopies(3.5));
    EXPECT_EQ(1, PacingCopies(1.1));
    EXPECT_EQ(1, PacingCopies(-1.1));
    EXPECT_EQ(0, PacingCopies(-1.2));

    Open(0, 320, 240);
    EncodeVideoSample(0);
    EncodeVideoSample(0.36);  // 2.6 periods behind the clock
    EXPECT_EQ(4, gLiveEncoder.framesEncoded);
}

TEST_F(LiveEncoderTest, FullRingStopsLivePictures)
{
    Open(0, 320, 240);
    gStream.video.fullness = kLiveProducerLimit;
    EncodeVideoSample(0);
    EncodeVideoSample(0.1);
    EXPECT_EQ(0, gLiveEncoder.framesEncoded);
    EXPECT_EQ(0u, gStream.video.encodedTotal);
    gStream.video.fullness = kLiveProducerLimit - 1;
    EncodeVideoSample(0.2);
    EXPECT_EQ(1, gLiveEncoder.framesEncoded);
}

TEST_F(LiveEncoderTest, Mp3ConsumesWholeFramesAndKeepsTheRest)
{
    gLiveParams.audioSampleRate = 44100;
    gLiveParams.stereo = 1;
    ASSERT_EQ(0, OpenLiveEncoder(false, true));
    ASSERT_EQ(1152, gLiveEncoder.branch.audioFrameSize);
    for (int32_t i = 0; i < 10000; ++i)
        gBuffers.livePcm[i] = static_cast<uint8_t>(i * 13);
    gLiveEncoder.pcmFill = 10000;
    const uint8_t firstKept = gBuffers.livePcm[2 * 4608];
    EncodeAudioSamples(0.5);
    EXPECT_EQ(10000 - 2 * 4608, gLiveEncoder.pcmFill);
    EXPECT_EQ(firstKept, gBuffers.livePcm[0]);
    EXPECT_EQ(0.5, gStream.audio.lastTime);
    for (int callback = 0; callback < 40; ++callback) {
        std::memset(gBuffers.livePcm + gLiveEncoder.pcmFill, 0x10, 4608);
        gLiveEncoder.pcmFill += 4608;
        EncodeAudioSamples(0.6 + callback * 0.026);
    }
    EXPECT_GT(gStream.audio.encodedTotal, 0u);
    gStream.audio.present = true;
    DecodedStream decoded = DecodeElementaryStream(AV_CODEC_ID_MP3, RingBytes(gStream.audio));
    EXPECT_GE(decoded.frames, 30);
}

TEST_F(LiveEncoderTest, QualityTableAndSizes)
{
    ChooseLiveParameters(0x10, 0, 0, 0, true);
    EXPECT_EQ(320, gLiveEncoder.outputWidth);
    EXPECT_EQ(100000, gLiveParams.videoBitRate);
    EXPECT_EQ(15, gLiveParams.frameRate);
    EXPECT_EQ(32000, gLiveParams.audioBitRate);
    ChooseLiveParameters(0x22, 0, 0, 0, true);
    EXPECT_EQ(1024, gLiveEncoder.outputWidth);
    EXPECT_EQ(1500000, gLiveParams.videoBitRate);
    EXPECT_EQ(128000, gLiveParams.audioBitRate);
    EXPECT_EQ(24, gLiveParams.frameRate);
    ChooseLiveParameters(0x47, 700, 400, 300, true);
    EXPECT_EQ(400, gLiveEncoder.outputWidth);
    EXPECT_EQ(300, gLiveEncoder.outputHeight);
    EXPECT_EQ(700000, gLiveParams.videoBitRate);
    EXPECT_EQ(128000, gLiveParams.audioBitRate);
    ChooseLiveParameters(0x91, 0, 0, 0, true);  // a size class of 0x80 or more keeps the size
    EXPECT_EQ(400, gLiveEncoder.outputWidth);
    ChooseLiveParameters(0x0F, 0, 0, 0, true);
    EXPECT_EQ(200, gLiveEncoder.outputWidth);
    ChooseLiveParameters(0x01, 0, 0, 0, false);
    EXPECT_EQ(15, gLiveParams.frameRate);
    EXPECT_EQ(128000, gLiveParams.audioBitRate);
    ChooseLiveParameters(0x05, 0, 0, 0, false);
    EXPECT_EQ(192000, gLiveParams.audioBitRate);

    EXPECT_STREQ("h263", VideoEncoderName(1));
    EXPECT_STREQ("h263", VideoEncoderName(7));
    int width = 320, height = 240;
    FitH263Size(width, height);
    EXPECT_EQ(176, width);
    EXPECT_EQ(144, height);
    width = 100, height = 80;
    FitH263Size(width, height);
    EXPECT_EQ(128, width);
    EXPECT_EQ(96, height);
}

} // namespace
