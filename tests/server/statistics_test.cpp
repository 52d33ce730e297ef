// The figures of the statistics window, from counters given by each test.

#include "shared/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "server/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

TEST(Statistics, FullnessIsATruncatedPercentageOfARing)
{
    EXPECT_EQ(0u, FullnessPercent(0));
    EXPECT_EQ(0u, FullnessPercent(139799));
    EXPECT_EQ(1u, FullnessPercent(139800));
    EXPECT_EQ(50u, FullnessPercent(kRingSize / 2));
    EXPECT_EQ(99u, FullnessPercent(kRingSize - 1));
    EXPECT_EQ(100u, FullnessPercent(kRingSize)) << "a full ring";
}

TEST(Statistics, TimesAreTruncatedToWholeSeconds)
{
    EXPECT_EQ(12, WholeSeconds(12.999));
    EXPECT_EQ(0, WholeSeconds(0.9));
    EXPECT_EQ(3600, WholeSeconds(3600.0));
    EXPECT_EQ(0, WholeSeconds(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(0, WholeSeconds(1e12));
}

TEST(Statistics, FrameRateShowsOnlyOnceAFrameWasEncoded)
{
    EXPECT_EQ(0u, ShownFrameRate(15, 0));
    EXPECT_EQ(15u, ShownFrameRate(15, 1));
}

TEST(Statistics, BitRateIsBitsPerMillisecondSinceTheLastMeasurement)
{
    RateMemory memory;
    EXPECT_EQ(1000u, UpdateBitRate(memory, 2, 250000, 0));
    EXPECT_EQ(2, memory.timestamp);
    EXPECT_EQ(250000u, memory.bytes);
    EXPECT_EQ(400u, UpdateBitRate(memory, 4, 350000, 1000));
    // 1000 bytes over 3 s is 2.67 kbit/s, shown as 2.
    EXPECT_EQ(2u, UpdateBitRate(memory, 7, 351000, 400));
}

TEST(Statistics, WithinTheSameSecondTheShownRateStays)
{
    RateMemory memory{5, 100000};
    EXPECT_EQ(777u, UpdateBitRate(memory, 5, 900000, 777));
    EXPECT_EQ(777u, UpdateBitRate(memory, 5, 950000, 777));
    EXPECT_EQ(5, memory.timestamp);
    EXPECT_EQ(100000u, memory.bytes) << "no elapsed time: nothing to measure against";
    EXPECT_EQ(3400u, UpdateBitRate(memory, 6, 525000, 777));
}

TEST(Statistics, AZeroTimestampClearsTheRateAndItsMemory)
{
    RateMemory memory{9, 500000};
    EXPECT_EQ(0u, UpdateBitRate(memory, 0, 700000, 640));
    EXPECT_EQ(0, memory.timestamp);
    EXPECT_EQ(0u, memory.bytes);
    EXPECT_EQ(0u, UpdateBitRate(memory, 0, 0, 0));
}

TEST(Statistics, ANewStreamIsMeasuredFromItsOwnStart)
{
    // The old stream's memory is ahead of the new stream's counters.
    RateMemory memory{120, 9000000};
    EXPECT_EQ(16u, UpdateBitRate(memory, 2, 4000, 640));
    EXPECT_EQ(2, memory.timestamp);
    EXPECT_EQ(4000u, memory.bytes);

    RateMemory fewerBytesLater{3, 500000};
    EXPECT_EQ(8u, UpdateBitRate(fewerBytesLater, 5, 5000, 0));
}

TEST(Statistics, EmptyRingsShowZeroEverywhere)
{
    StatsRateMemory memory;
    const StatsValues values = ComputeStats(StatsCounters{}, StatsValues{}, memory);
    EXPECT_EQ(0, values.videoFullness);
    EXPECT_EQ(0u, values.videoPercent);
    EXPECT_EQ(0, values.audioFullness);
    EXPECT_EQ(0u, values.audioPercent);
    EXPECT_EQ(0u, values.videoSent);
    EXPECT_EQ(0u, values.audioSent);
    EXPECT_EQ(0u, values.frameRate);
    EXPECT_EQ(0, values.videoTimestamp);
    EXPECT_EQ(0, values.audioTimestamp);
    EXPECT_EQ(0, values.frameCount);
    EXPECT_EQ(0u, values.videoKbps);
    EXPECT_EQ(0u, values.audioKbps);
    EXPECT_EQ(0u, values.streamKbps);
    EXPECT_EQ(0, memory.video.timestamp);
    EXPECT_EQ(0u, memory.audio.bytes);
}

TEST(Statistics, ARefreshFillsEveryField)
{
    StatsCounters counters;
    counters.videoFullness = kRingSize;
    counters.audioFullness = 419000;
    counters.videoSentTotal = 5000000000ull;
    counters.audioSentTotal = 123456;
    counters.videoEncoded = 600000;
    counters.audioEncoded = 48000;
    counters.framesEncoded = 151;
    counters.frameRateSetting = 15;
    counters.videoTime = 10.97;
    counters.audioTime = 9.2;

    StatsRateMemory memory;
    memory.video = {8, 100000};
    memory.audio = {4, 8000};
    StatsValues shown;
    shown.videoKbps = 11;
    shown.audioKbps = 22;
    const StatsValues values = ComputeStats(counters, shown, memory);
    EXPECT_EQ(kRingSize, values.videoFullness);
    EXPECT_EQ(100u, values.videoPercent);
    EXPECT_EQ(419000, values.audioFullness);
    EXPECT_EQ(2u, values.audioPercent);
    EXPECT_EQ(5000000000ull, values.videoSent);
    EXPECT_EQ(123456u, values.audioSent);
    EXPECT_EQ(15u, values.frameRate);
    EXPECT_EQ(10, values.videoTimestamp);
    EXPECT_EQ(9, values.audioTimestamp);
    EXPECT_EQ(151, values.frameCount);
    EXPECT_EQ(2000u, values.videoKbps);  // 500000 B in 2 s
    EXPECT_EQ(64u, values.audioKbps);    // 40000 B in 5 s
    EXPECT_EQ(2064u, values.streamKbps);
    EXPECT_EQ(10, memory.video.timestamp);
    EXPECT_EQ(48000u, memory.audio.bytes);

    // The next refresh in the same seconds keeps both rates and their sum.
    counters.videoEncoded += 1000;
    counters.audioEncoded += 1000;
    const StatsValues again = ComputeStats(counters, values, memory);
    EXPECT_EQ(2000u, again.videoKbps);
    EXPECT_EQ(64u, again.audioKbps);
    EXPECT_EQ(2064u, again.streamKbps);
}

TEST(Statistics, CountersAreReadFromTheBuffersAndTheEncoder)
{
    const auto savedVideo = std::make_unique<StreamRing>(gStream.video);
    const auto savedAudio = std::make_unique<StreamRing>(gStream.audio);
    const int32_t savedFrames = gLiveEncoder.framesEncoded;
    const LiveEncodingParams savedParams = gLiveParams;

    gStream.video.fullness = 8384;
    gStream.audio.fullness = 4190;
    gStream.video.sentTotal = 70000;
    gStream.audio.sentTotal = 30000;
    gStream.video.encodedTotal = 90000;
    gStream.audio.encodedTotal = 40000;
    gStream.video.lastTime = 6.5;
    gStream.audio.lastTime = 6.25;
    gLiveEncoder.framesEncoded = 65;
    gLiveParams.frameRate = 10;
    const StatsCounters counters = ReadStatsCounters();

    gStream.video = *savedVideo;
    gStream.audio = *savedAudio;
    gLiveEncoder.framesEncoded = savedFrames;
    gLiveParams = savedParams;

    EXPECT_EQ(8384, counters.videoFullness);
    EXPECT_EQ(4190, counters.audioFullness);
    EXPECT_EQ(70000u, counters.videoSentTotal);
    EXPECT_EQ(30000u, counters.audioSentTotal);
    EXPECT_EQ(90000u, counters.videoEncoded);
    EXPECT_EQ(40000u, counters.audioEncoded);
    EXPECT_EQ(6.5, counters.videoTime);
    EXPECT_EQ(6.25, counters.audioTime);
    EXPECT_EQ(65, counters.framesEncoded);
    EXPECT_EQ(10u, counters.frameRateSetting);
}

} // namespace
