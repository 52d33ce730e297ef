#pragma once
// How late the video chunks of a stream arrive, for a look at the link: a
// sink that passes every payload on and notes each video chunk's delay, its
// arrival after the stream started less its time stamp, and the video bit
// rate of each ten seconds of arrival.

#include "stream_receiver.h"

#include <chrono>
#include <vector>

namespace handheld {

using Clock = std::chrono::steady_clock;

class ChunkTiming final : public StreamSink {
public:
    // start: when the stream started, the reply's arrival.
    ChunkTiming(StreamSink& next, Clock::time_point start) : next_(next), start_(start) {}

    bool video(uint32_t timeMs, std::span<const uint8_t> bytes) override;
    bool audio(uint32_t timeMs, std::span<const uint8_t> bytes) override { return next_.audio(timeMs, bytes); }
    bool subtitle(std::span<const uint8_t> text) override { return next_.subtitle(text); }
    std::string error() const override { return next_.error(); }

    // video_delay_median_ms, video_delay_worst_ms and video_kbps_each_10s.
    void print() const;

private:
    StreamSink& next_;
    Clock::time_point start_;
    std::vector<double> delays_;       // seconds
    std::vector<uint64_t> tenSeconds_;  // video bytes that arrived in each
};

}  // namespace handheld
