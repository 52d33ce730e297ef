#include "shared/resources.h"
#include "encode/stream_buffers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace {

class StreamBuffersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(0, AllocateLargeBuffers()); }
    static void TearDownTestSuite() { FreeLargeBuffers(); }

    void SetUp() override
    {
        ResetStreamBuffers();
        out.assign(kVideoChunk + kAudioChunk + 8, 0);
    }

    static std::vector<uint8_t> Bytes(size_t count, uint8_t seed)
    {
        std::vector<uint8_t> bytes(count);
        for (size_t i = 0; i < count; ++i)
            bytes[i] = static_cast<uint8_t>(seed + i * 31);
        return bytes;
    }

    static void AppendVideoAt(double seconds, size_t count, uint8_t seed = 1)
    {
        gStream.video.lastTime = seconds;
        auto bytes = Bytes(count, seed);
        ASSERT_EQ(0, AppendVideo(bytes.data(), static_cast<int32_t>(count)));
    }

    static void AppendAudioAt(double seconds, size_t count, uint8_t seed = 2)
    {
        gStream.audio.lastTime = seconds;
        auto bytes = Bytes(count, seed);
        ASSERT_EQ(0, AppendAudio(bytes.data(), static_cast<int32_t>(count)));
    }

    TakenChunks Take()
    {
        TakenChunks taken;
        size_t written = TakeChunk(out.data(), taken);
        size_t expected = 0;
        for (int i = 0; i < taken.count; ++i)
            expected += 4 + static_cast<size_t>(taken.packets[i].payloadSize);
        EXPECT_EQ(expected, written);
        return taken;
    }

    std::vector<uint8_t> out;
};

TEST_F(StreamBuffersTest, AppendEndingAtTheRingsEndWrapsTheWriteOffsetToZero)
{
    gStream.video.writeOffset = kRingSize - 1000;
    AppendVideoAt(1, 1000);
    EXPECT_EQ(0, gStream.video.writeOffset);
    AppendVideoAt(1, 10);
    EXPECT_EQ(10, gStream.video.writeOffset);
}

TEST_F(StreamBuffersTest, IndexEntriesPerCompletedChunk)
{
    AppendVideoAt(2.5, kVideoChunk - 1);
    EXPECT_EQ(0, gStream.video.indexWrite);
    AppendVideoAt(2.75, 1);
    EXPECT_EQ(1, gStream.video.indexWrite);
    EXPECT_EQ(2750u, gStream.video.index[0]);

    ResetStreamBuffers();
    AppendVideoAt(3.001, 2 * kVideoChunk);
    EXPECT_EQ(2, gStream.video.indexWrite);
    EXPECT_EQ(3001u, gStream.video.index[0]);
    EXPECT_EQ(3001u, gStream.video.index[1]);
    EXPECT_EQ(0u, gStream.video.chunkCounter);
    EXPECT_EQ(uint64_t{2} * kVideoChunk, gStream.video.encodedTotal);
}

TEST_F(StreamBuffersTest, VideoAloneFlowsAsSoonAsItsIndexEntryExists)
{
    gStream.video.present = true;
    AppendVideoAt(0.5, kVideoChunk - 10);
    EXPECT_EQ(0, Take().count);
    AppendVideoAt(0.6, 10);
    TakenChunks taken = Take();
    ASSERT_EQ(1, taken.count);
    EXPECT_EQ(kVideoHeaderBit | 600u, taken.packets[0].header);
    EXPECT_EQ(kVideoChunk, taken.packets[0].payloadSize);
    uint32_t header;
    std::memcpy(&header, out.data(), 4);
    EXPECT_EQ(kVideoHeaderBit | 600u, header);
    EXPECT_EQ(Bytes(kVideoChunk - 10, 1)[5], out[4 + 5]);
    EXPECT_EQ(0, gStream.video.fullness);
    EXPECT_EQ(uint64_t{kVideoChunk}, gStream.video.sentSinceStart);
}

TEST_F(StreamBuffersTest, VideoNeverRunsAheadOfAudiosTime)
{
    gStream.video.present = gStream.audio.present = true;
    AppendVideoAt(2.0, kVideoChunk);
    AppendAudioAt(1.0, kAudioChunk);
    TakenChunks taken = Take();
    ASSERT_EQ(1, taken.count);
    EXPECT_EQ(1000u, taken.packets[0].header);  // audio, older
    EXPECT_EQ(0, Take().count);
    // Sound made past the picture chunk's time lets it go before the sound
    // chunk is complete: that chunk can only carry a later time.
    AppendAudioAt(2.5, kAudioChunk - 100);
    taken = Take();
    ASSERT_EQ(1, taken.count);
    EXPECT_EQ(kVideoHeaderBit | 2000u, taken.packets[0].header);
    AppendAudioAt(2.5, 100);
    // Audio waits until pictures reach its time.
    EXPECT_EQ(0, Take().count);
    AppendVideoAt(3.0, kVideoChunk);
    taken = Take();
    ASSERT_EQ(1, taken.count);
    EXPECT_EQ(2500u, taken.packets[0].header);
}

TEST_F(StreamBuffersTest, StalledAudioHoldsVideoUntilItIsOverfull)
{
    gStream.video.present = gStream.audio.present = true;
    gStream.audio.lastTime = 0;
    const int chunksToOverfull = kOverfull / kVideoChunk;
    for (int i = 0; i < chunksToOverfull; ++i)
        AppendVideoAt(1 + i, kVideoChunk);
    ASSERT_LE(gStream.video.fullness, kOverfull);
    // Only the stream's first picture chunk goes before any sound exists.
    TakenChunks first = Take();
    ASSERT_EQ(1, first.count);
    EXPECT_EQ(kVideoHeaderBit | 1000u, first.packets[0].header);
    EXPECT_EQ(0, Take().count);
    AppendVideoAt(1 + chunksToOverfull, kVideoChunk);
    AppendVideoAt(2 + chunksToOverfull, kVideoChunk);
    ASSERT_GT(gStream.video.fullness, kOverfull);
    TakenChunks taken = Take();
    ASSERT_EQ(1, taken.count);
    EXPECT_EQ(kVideoHeaderBit | 2000u, taken.packets[0].header);
    while (gStream.video.fullness > kOverfull)
        ASSERT_EQ(1, Take().count);
    EXPECT_EQ(0, Take().count);
}

TEST_F(StreamBuffersTest, EndMarkedChunkIsTakenFullSizeAndEmptiesTheRing)
{
    gStream.video.present = true;
    AppendVideoAt(4.0, 100);
    EXPECT_EQ(0, Take().count);
    MarkEndOfStream();
    TakenChunks taken = Take();
    ASSERT_EQ(1, taken.count);
    EXPECT_EQ(kEndMarker | 4000u | kVideoHeaderBit, taken.packets[0].header);
    EXPECT_EQ(kVideoChunk, taken.packets[0].payloadSize);
    EXPECT_EQ(0, gStream.video.fullness);
    EXPECT_EQ(0, Take().count);
}

TEST_F(StreamBuffersTest, AudioEndIsMarkedBeforeVideoAndAbsentStreamsAreNot)
{
    gStream.audio.present = true;
    AppendAudioAt(7.0, 10);
    MarkEndOfStream();
    EXPECT_EQ(kEndMarker | 7000u, gStream.audio.index[0]);
    EXPECT_EQ(0, gStream.video.indexWrite);
}

// Whichever stream's last bytes carry the later time, both end packets go,
// the audio end first, and nothing of either stream follows them.
TEST_F(StreamBuffersTest, BothEndPacketsGoAudioFirstWhateverTheirTimes)
{
    for (const double audioEnd : {9.0, 3.0}) {
        SCOPED_TRACE(audioEnd);
        ResetStreamBuffers();
        gStream.video.present = gStream.audio.present = true;
        AppendVideoAt(5.0, kVideoChunk + 100);
        AppendAudioAt(audioEnd, 3 * kAudioChunk + 178);
        MarkEndOfStream();
        std::vector<uint32_t> headers;
        for (TakenChunks taken = Take(); taken.count > 0; taken = Take())
            for (int i = 0; i < taken.count; ++i)
                headers.push_back(taken.packets[i].header);
        ASSERT_EQ(6u, headers.size());
        EXPECT_EQ(kEndMarker | static_cast<uint32_t>(audioEnd * 1000), headers[4]);
        EXPECT_EQ(kEndMarker | 5000u | kVideoHeaderBit, headers[5]);
        EXPECT_TRUE(AllStreamsEnded());
        EXPECT_EQ(0, Take().count);
    }
}

TEST_F(StreamBuffersTest, ChunksSplitAtTheRingsEndComeBackWhole)
{
    gStream.audio.present = true;
    gStream.audio.writeOffset = gStream.audio.readOffset = kRingSize - 100;
    auto bytes = Bytes(kAudioChunk, 9);
    gStream.audio.lastTime = 1;
    ASSERT_EQ(0, AppendAudio(bytes.data(), kAudioChunk));
    ASSERT_EQ(1, Take().count);
    EXPECT_EQ(0, std::memcmp(bytes.data(), out.data() + 4, kAudioChunk));
    EXPECT_EQ(kAudioChunk - 100, gStream.audio.readOffset);
}

TEST_F(StreamBuffersTest, AppendLargerThanARingIsRefused)
{
    std::vector<uint8_t> huge(kRingSize + 1);
    EXPECT_EQ(-1, AppendVideo(huge.data(), kRingSize + 1));
    EXPECT_EQ(0, gStream.video.fullness);
}

TEST_F(StreamBuffersTest, SubtitleRecordsCarryHeaderAndOptionalTimePrefix)
{
    gStream.video.lastTime = 62.5;
    AppendSubtitle("Hello", true);
    AppendSubtitle("Hi", false);
    const std::string expectedFirst = "Time#:62500:Hello";
    ASSERT_EQ(static_cast<int32_t>(4 + expectedFirst.size() + 4 + 2), gStream.subtitlePending);
    uint32_t header;
    std::memcpy(&header, gStream.subtitleQueue, 4);
    EXPECT_EQ(kSubtitleHeader | expectedFirst.size(), header);
    EXPECT_EQ(expectedFirst, std::string(reinterpret_cast<char*>(gStream.subtitleQueue) + 4, expectedFirst.size()));
    std::memcpy(&header, gStream.subtitleQueue + 4 + expectedFirst.size(), 4);
    EXPECT_EQ(kSubtitleHeader | 2u, header);
}

TEST_F(StreamBuffersTest, SubtitleThatCannotFitIsDropped)
{
    gStream.subtitleWrite = kRingSize - 8;
    AppendSubtitle("12345", false);
    EXPECT_EQ(0, gStream.subtitlePending);
    EXPECT_EQ(kRingSize - 8, gStream.subtitleWrite);
}

} // namespace
