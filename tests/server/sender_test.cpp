#include "shared/resources.h"
#include "encode/stream_buffers.h"
#include "server/net_state.h"
#include "server/sender.h"
#include "support/loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <random>
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
        gSender.stop = 0;
        gSender.writeToFile = 0;
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
        std::lock_guard hold(gBufferMutex);
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
    }
}

TEST_F(SenderTest, AudioOnlyBatchWaitsForItsThresholdThenFollowsWithSubtitles)
{
    gStream.audio.present = true;
    AppendSubtitle("Line", 4, false);
    for (int i = 0; i < 3; ++i)
        AppendAudioChunk(1.0 + i);
    ASSERT_EQ(0, StartSender(0));
    EXPECT_FALSE(AnyBytesWithin(pair.client, 300)) << "a batch below the threshold went out";
    AppendAudioChunk(4.0);
    const size_t batch = 4 * (4 + kAudioChunk);
    std::vector<uint8_t> received = ReadBytes(pair.client, batch + 8, 3000);
    ASSERT_EQ(batch + 8, received.size());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(1000u * (i + 1), HeaderAt(received, i * (4 + kAudioChunk)));
    EXPECT_EQ(kSubtitleHeader | 4u, HeaderAt(received, batch));
    EXPECT_EQ("Line", std::string(received.begin() + batch + 4, received.end()));
}

TEST_F(SenderTest, EndPacketGoesOutAtOnceAndEndsTheStream)
{
    gStream.video.present = true;
    std::vector<uint8_t> tail(100, 0x11);
    {
        std::lock_guard hold(gBufferMutex);
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
        std::lock_guard hold(gBufferMutex);
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
        std::lock_guard hold(gBufferMutex);
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

} // namespace
