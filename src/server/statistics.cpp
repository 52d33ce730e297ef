#include "server/statistics.h"

#include "shared/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"

#include <cmath>
#include <limits>

StatsRateMemory& StatisticsRateMemory()
{
    // Only the window thread reads and writes it.
    static StatsRateMemory memory;
    return memory;
}

StatsCounters ReadStatsCounters()
{
    StatsCounters counters;
    counters.videoFullness = gStream.video.fullness;
    counters.audioFullness = gStream.audio.fullness;
    counters.videoSentTotal = gStream.video.sentTotal;
    counters.audioSentTotal = gStream.audio.sentTotal;
    counters.videoEncoded = gStream.video.encodedTotal;
    counters.audioEncoded = gStream.audio.encodedTotal;
    counters.framesEncoded = gLiveEncoder.framesEncoded;
    counters.frameRateSetting = gLiveParams.frameRate;
    counters.videoTime = gStream.video.lastTime;
    counters.audioTime = gStream.audio.lastTime;
    return counters;
}

uint32_t FullnessPercent(int32_t fullness)
{
    if (fullness <= 0)
        return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(fullness) * 100 / kRingSize);
}

int32_t WholeSeconds(double seconds)
{
    // Converting a value outside int32_t is undefined, so it never reaches the cast.
    if (!(seconds > -2147483649.0 && seconds < 2147483648.0))
        return 0;
    return static_cast<int32_t>(seconds);
}

uint32_t ShownFrameRate(uint32_t frameRateSetting, int32_t framesEncoded)
{
    return framesEncoded > 0 ? frameRateSetting : 0;
}

uint64_t UpdateBitRate(RateMemory& memory, int32_t timestamp, uint64_t producedBytes, uint64_t shownKbps)
{
    if (timestamp == 0) {
        memory = {};
        return 0;
    }
    if (timestamp == memory.timestamp)
        return shownKbps;
    // A new stream zeroes the produced count and restarts its clock while the
    // memory still holds the old stream's; unsigned differences across that
    // step would show absurd rates, so measure from the new stream's origin.
    if (timestamp < memory.timestamp || producedBytes < memory.bytes)
        memory = {};
    const uint64_t bits = (producedBytes - memory.bytes) * 8;
    const uint64_t milliseconds = static_cast<uint64_t>(timestamp - memory.timestamp) * 1000;
    memory.timestamp = timestamp;
    memory.bytes = producedBytes;
    return bits / milliseconds;
}

StatsValues ComputeStats(const StatsCounters& counters, const StatsValues& shown, StatsRateMemory& memory)
{
    StatsValues values;
    values.videoFullness = counters.videoFullness;
    values.videoPercent = FullnessPercent(counters.videoFullness);
    values.audioFullness = counters.audioFullness;
    values.audioPercent = FullnessPercent(counters.audioFullness);
    values.videoSent = counters.videoSentTotal;
    values.audioSent = counters.audioSentTotal;
    values.frameRate = ShownFrameRate(counters.frameRateSetting, counters.framesEncoded);
    values.videoTimestamp = WholeSeconds(counters.videoTime);
    values.audioTimestamp = WholeSeconds(counters.audioTime);
    values.frameCount = counters.framesEncoded;
    values.videoKbps = UpdateBitRate(memory.video, values.videoTimestamp, counters.videoEncoded, shown.videoKbps);
    values.audioKbps = UpdateBitRate(memory.audio, values.audioTimestamp, counters.audioEncoded, shown.audioKbps);
    values.streamKbps = values.videoKbps + values.audioKbps;
    return values;
}
