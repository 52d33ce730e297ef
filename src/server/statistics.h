#pragma once
// What the statistics window shows, worked out from the stream counters. The
// window only reads and displays; every figure comes from here so that it can
// be checked without a window.

#include <cstdint>

// The raw readings one refresh starts from.
struct StatsCounters {
    int32_t videoFullness = 0;
    int32_t audioFullness = 0;
    uint64_t videoSentTotal = 0;   // since program start
    uint64_t audioSentTotal = 0;
    uint64_t videoEncoded = 0;     // since the last stream start
    uint64_t audioEncoded = 0;
    int32_t framesEncoded = 0;
    uint32_t frameRateSetting = 0;
    double videoTime = 0;          // seconds
    double audioTime = 0;
};

// The values of the window's fields, in the order of the form.
struct StatsValues {
    int32_t videoFullness = 0;
    uint32_t videoPercent = 0;
    int32_t audioFullness = 0;
    uint32_t audioPercent = 0;
    uint64_t videoSent = 0;
    uint64_t audioSent = 0;
    uint32_t frameRate = 0;
    int32_t videoTimestamp = 0;
    int32_t audioTimestamp = 0;
    int32_t frameCount = 0;
    uint64_t videoKbps = 0;
    uint64_t audioKbps = 0;
    uint64_t streamKbps = 0;
};

// Where one stream's bit rate was last measured from.
struct RateMemory {
    int64_t timestamp = 0;   // whole seconds
    uint64_t bytes = 0;      // produced bytes at that time
};

struct StatsRateMemory {
    RateMemory video;
    RateMemory audio;
};

// Outlives the window, so that reopening it continues the measurement.
StatsRateMemory& StatisticsRateMemory();

// Reads the stream buffers and the live encoder as they are at this moment.
// No lock is taken: the figures may come from slightly different moments.
StatsCounters ReadStatsCounters();

// Fullness as a whole percentage of a ring (truncated).
uint32_t FullnessPercent(int32_t fullness);

// Seconds truncated towards zero; out-of-range or NaN times give 0.
int32_t WholeSeconds(double seconds);

// The frame rate to show: the setting, but only once a frame was encoded.
uint32_t ShownFrameRate(uint32_t frameRateSetting, int32_t framesEncoded);

// The bit rate in kbit/s since memory, which moves to (timestamp, bytes).
// Within the same second the shown rate stays; a zero timestamp clears both.
uint64_t UpdateBitRate(RateMemory& memory, int32_t timestamp, uint64_t producedBytes, uint64_t shownKbps);

// One refresh: the new field values from the counters, the values shown
// before and the rate memory.
StatsValues ComputeStats(const StatsCounters& counters, const StatsValues& shown, StatsRateMemory& memory);
