#include "capture/grabber_callbacks.h"
#include "encode/live_encoder.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "platform/capture/virtual_pictures.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"
#include "server/net_state.h"
#include "server/sender.h"
#include "server/session_state.h"
#include "support/loopback.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

uint32_t HeaderAt(const std::vector<uint8_t>& bytes, size_t offset)
{
    uint32_t header;
    std::memcpy(&header, bytes.data() + offset, 4);
    return header;
}

class SenderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, AllocateLargeBuffers()); }
    static void TearDownTestSuite() { FreeLargeBuffers(); }

    void SetUp() override
    {
        ResetStreamBuffers();
        ResetSeekIndex();
        gSender.writeToFile = 0;
        // The tests make seconds of stream at once, as only a file does: a
        // live stream that far behind would be cut to catch up.
        gSession.fileMode = 1;
        gNet.transport = 1;
        gNet.dataSocket = pair.server;
    }

    void TearDown() override
    {
        StopSender();
        gNet.dataSocket = kInvalidSocket;
    }

    static void AppendAudioChunk(double seconds, uint8_t fill = 0x5A)
    {
        std::vector<uint8_t> bytes(kAudioChunk, fill);
        std::lock_guard hold(gStream.lock);
        gStream.audio.lastTime = seconds;
        AppendAudio(bytes.data(), kAudioChunk);
    }

    LoopbackPair pair;
};

TEST(SenderPacing, FollowsTransportAndQuality)
{
    struct Row {
        bool toFile, udt;
        int quality, threshold, before, after;
    } rows[] = {{true, false, 0, 64000, 5, 5},  {true, true, 0, 64000, 5, 5},  {false, false, 0, 16000, 5, 5},
                {false, false, 1, 32000, 5, 5}, {false, false, 7, 64000, 5, 5}, {false, true, 0, 16000, 50, 25},
                {false, true, 1, 32000, 50, 20}, {false, true, 2, 64000, 50, 20}};
    for (const Row& row : rows) {
        SenderPacing pacing = ChooseSenderPacing(row.toFile, row.udt, row.quality);
        EXPECT_EQ(row.threshold, pacing.threshold) << row.toFile << row.udt << row.quality;
        EXPECT_EQ(row.before, pacing.pauseBeforeGatherMs);
        EXPECT_EQ(row.after, pacing.pauseAfterWriteMs);
        EXPECT_EQ(!row.toFile, pacing.sendWhatIsReady);
    }
}

// A batch goes as soon as no further chunk is ready, but never grows past
// its threshold: the subtitle record queued before the start follows the
// first batch of four sound packets (16,776 bytes at quality 0).
TEST_F(SenderTest, ABatchGoesOnceNothingMoreIsReadyAndStopsAtItsThreshold)
{
    gStream.audio.present = true;
    AppendSubtitle("Line", false);
    for (int second = 1; second <= 6; ++second)
        AppendAudioChunk(second);
    ASSERT_EQ(0, StartSender(0));
    const size_t packet = 4 + kAudioChunk;
    std::vector<uint8_t> first = ReadBytes(pair.client, 4 * packet + 8, 3000);
    ASSERT_EQ(4 * packet + 8, first.size());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(1000u * (i + 1), HeaderAt(first, i * packet));
    EXPECT_EQ(kSubtitleHeader | 4u, HeaderAt(first, 4 * packet));
    std::vector<uint8_t> rest = ReadBytes(pair.client, 2 * packet, 3000);
    ASSERT_EQ(2 * packet, rest.size()) << "the last two waited for a threshold's worth";

    AppendAudioChunk(7.0);
    std::vector<uint8_t> alone = ReadBytes(pair.client, packet, 3000);
    ASSERT_EQ(packet, alone.size());
    EXPECT_EQ(7000u, HeaderAt(alone, 0));
}

// Sound drained past three quarters of its ring before any picture came:
// the batches stay within the staging buffer, whatever the first batch
// waits for.
TEST_F(SenderTest, OverfullSoundGoesOutBeforeAnyPicture)
{
    gStream.video.present = gStream.audio.present = true;
    const int chunks = kOverfull / kAudioChunk + 40;
    for (int i = 0; i < chunks; ++i)
        AppendAudioChunk(i);
    ASSERT_EQ(0, StartSender(0));
    const size_t packet = 4 + kAudioChunk;
    std::vector<uint8_t> received = ReadBytes(pair.client, 30 * packet, 5000);
    ASSERT_EQ(30 * packet, received.size());
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(1000u * i, HeaderAt(received, i * packet));
}

// A sender with nothing to send sleeps until a producer completes a chunk,
// instead of looking for one every few milliseconds.
TEST_F(SenderTest, IdleSenderDoesNotSpin)
{
    gStream.video.present = gStream.audio.present = true;
    ASSERT_EQ(0, StartSender(0));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, 20) << "wake-ups in one idle second";
}

TEST_F(SenderTest, EndPacketGoesOutAtOnceAndEndsTheStream)
{
    gStream.video.present = true;
    std::vector<uint8_t> tail(100, 0x11);
    {
        std::lock_guard hold(gStream.lock);
        gStream.video.lastTime = 9.0;
        AppendVideo(tail.data(), 100);
    }
    MarkEndOfStream();
    ASSERT_EQ(0, StartSender(2));
    std::vector<uint8_t> received = ReadBytes(pair.client, 4 + kVideoChunk, 3000);
    ASSERT_EQ(size_t{4 + kVideoChunk}, received.size());
    EXPECT_EQ(0xFF000000u | 9000u | kVideoHeaderBit, HeaderAt(received, 0));
    EXPECT_EQ(0, std::memcmp(tail.data(), received.data() + 4, tail.size()));

    std::vector<uint8_t> more(3 * kVideoChunk, 0x22);
    {
        std::lock_guard hold(gStream.lock);
        gStream.video.lastTime = 10.0;
        AppendVideo(more.data(), static_cast<int32_t>(more.size()));
    }
    EXPECT_FALSE(AnyBytesWithin(pair.client, 400)) << "packets followed the end packet";
}

TEST_F(SenderTest, SeekIndexHoldsTheOffsetOfEachSecondsFirstPacket)
{
    gStream.audio.present = true;
    for (double seconds : {5.0, 5.5, 5.999, 6.0, 7.2})
        AppendAudioChunk(seconds);
    ASSERT_EQ(0, StartSender(0));
    ASSERT_EQ(size_t{4 * (4 + kAudioChunk)}, ReadBytes(pair.client, 4 * (4 + kAudioChunk), 3000).size());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    StopSender();
    ASSERT_EQ(3, gSender.seekCount);
    EXPECT_EQ(0u, gSender.seekIndex[0]);
    EXPECT_EQ(3u * (4 + kAudioChunk), gSender.seekIndex[1]);
    EXPECT_EQ(4u * (4 + kAudioChunk), gSender.seekIndex[2]);
    EXPECT_EQ(8000u, gSender.seekNextTime);
    EXPECT_EQ(7200u, gSender.lastChunkTime.load());
}

// A producer at full tilt on one thread, the sender on another: what
// arrives is exactly what was appended, cut into chunks in time order.
TEST_F(SenderTest, StreamArrivesByteExactInTimeOrder)
{
    gStream.video.present = gStream.audio.present = true;
    std::mt19937 random(7);
    std::vector<size_t> pictureSizes;
    std::vector<uint8_t> video;
    std::vector<uint8_t> audio(400 * 1045);
    for (int frame = 0; frame < 400; ++frame) {
        pictureSizes.push_back(1000 + random() % 9000);
        for (size_t i = 0; i < pictureSizes.back(); ++i)
            video.push_back(static_cast<uint8_t>(random()));
    }
    for (auto& byte : audio)
        byte = static_cast<uint8_t>(random());
    ASSERT_EQ(0, StartSender(1));
    std::vector<uint8_t> received;
    std::atomic<bool> producing{true};
    std::thread receiver([&] {
        while (producing || AnyBytesWithin(pair.client, 500)) {
            std::vector<uint8_t> piece = ReadBytes(pair.client, 65536, 100);
            received.insert(received.end(), piece.begin(), piece.end());
        }
    });
    size_t videoAt = 0;
    for (int frame = 0; frame < 400; ++frame) {
        std::lock_guard hold(gStream.lock);
        gStream.video.lastTime = gStream.audio.lastTime = frame * 0.04;
        AppendVideo(video.data() + videoAt, static_cast<int32_t>(pictureSizes[frame]));
        AppendAudio(audio.data() + frame * 1045, 1045);
        videoAt += pictureSizes[frame];
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    producing = false;
    receiver.join();

    std::vector<uint8_t> videoOut;
    std::vector<uint8_t> audioOut;
    uint32_t lastVideoTime = 0;
    uint32_t lastAudioTime = 0;
    for (size_t at = 0; at + 4 <= received.size();) {
        uint32_t header = HeaderAt(received, at);
        bool isVideo = header & kVideoHeaderBit;
        size_t payload = isVideo ? kVideoChunk : kAudioChunk;
        ASSERT_LE(at + 4 + payload, received.size());
        auto& out = isVideo ? videoOut : audioOut;
        uint32_t& lastTime = isVideo ? lastVideoTime : lastAudioTime;
        EXPECT_GE(header & 0xFFFFFF, lastTime);
        lastTime = header & 0xFFFFFF;
        out.insert(out.end(), received.begin() + at + 4, received.begin() + at + 4 + payload);
        at += 4 + payload;
    }
    // All but the chunks still held back for pacing have arrived.
    EXPECT_GE(videoOut.size() + 2 * 32000, video.size() / kVideoChunk * kVideoChunk);
    EXPECT_GE(audioOut.size() + 2 * 32000, audio.size() / kAudioChunk * kAudioChunk);
    EXPECT_TRUE(std::equal(videoOut.begin(), videoOut.end(), video.begin()));
    EXPECT_TRUE(std::equal(audioOut.begin(), audioOut.end(), audio.begin()));
}

// Channel 5 of the virtual card, picture and tone, encoded at quality 0 with
// the sample times the card gives them: the packets reach the handheld in
// the order of their times, each kind never running ahead of the other.
constexpr size_t kLivePackets = 32;

TEST_F(SenderTest, LivePacketsGoInTheOrderOfTheirTimes)
{
    constexpr int kWidth = 640;
    constexpr int kHeight = 480;
    constexpr int kSeconds = 20;
    SetDefaultEncoderParams();
    ChooseLiveParameters(0x10, 0, 0, 0, true);
    gLiveParams.videoCodec = 0;
    gCapture.format.width = kWidth;
    gCapture.format.height = kHeight;
    ASSERT_EQ(0, OpenLiveEncoder(true, true));
    gStream.video.present = gStream.audio.present = true;
    SetSampleConsumer(&LiveEncodeSteps());
    SetStreaming(true);
    ASSERT_EQ(0, StartSender(0));

    const Picture stripes = MakeWideStripes(kWidth, kHeight, 40);
    std::vector<uint8_t> frame(gCapture.format.FrameBytes() + kSamplePadding);
    const std::vector<int16_t> tone = MakeTone(880, 44100, 2);
    const int blockSamples = 44100 / 20 * 2;
    const int frameRate = gLiveParams.frameRate;
    for (int picture = 0, block = 0; picture < kSeconds * frameRate;) {
        const double pictureTime = static_cast<double>(picture) / frameRate;
        const double blockTime = block / 20.0;
        if (pictureTime <= blockTime) {
            ScrollSideways(stripes, kWidth, kHeight, picture++, frame.data());
            gGrabbers.video.BufferCB(pictureTime, frame.data(), gCapture.format.FrameBytes());
        } else {
            const int16_t* samples = tone.data() + (block++ * blockSamples) % tone.size();
            gGrabbers.audio.BufferCB(blockTime, reinterpret_cast<const uint8_t*>(samples), blockSamples * 2);
        }
    }
    std::string kinds;
    uint32_t latest = 0;
    while (kinds.size() < kLivePackets) {
        std::vector<uint8_t> header = ReadBytes(pair.client, 4, 3000);
        ASSERT_EQ(4u, header.size()) << "after " << kinds;
        const bool video = HeaderAt(header, 0) & kVideoHeaderBit;
        const uint32_t time = HeaderAt(header, 0) & 0xFFFFFF;
        kinds += video ? 'V' : 'A';
        // The first picture chunk may lead the first sound chunk.
        if (kinds.size() > 2) {
            EXPECT_GE(time, latest) << kinds;
        }
        latest = std::max(latest, time);
        ASSERT_EQ(size_t(video ? kVideoChunk : kAudioChunk), ReadBytes(pair.client, video ? kVideoChunk : kAudioChunk, 3000).size());
    }
    SetStreaming(false);
    StopSender();
    SetSampleConsumer(nullptr);
    CloseLiveEncoder();
    EXPECT_GT(std::count(kinds.begin(), kinds.end(), 'V'), 8) << kinds;
    EXPECT_GT(std::count(kinds.begin(), kinds.end(), 'A'), 8) << kinds;
}

} // namespace
