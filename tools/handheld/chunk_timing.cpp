#include "chunk_timing.h"

#include "report.h"

#include <algorithm>
#include <string>

namespace handheld {

bool ChunkTiming::video(uint32_t timeMs, std::span<const uint8_t> bytes)
{
    const double arrived = std::chrono::duration<double>(Clock::now() - start_).count();
    delays_.push_back(arrived - timeMs / 1000.0);
    const size_t slot = static_cast<size_t>(arrived / 10);
    if (tenSeconds_.size() <= slot)
        tenSeconds_.resize(slot + 1);
    tenSeconds_[slot] += bytes.size();
    return next_.video(timeMs, bytes);
}

void ChunkTiming::print() const
{
    if (delays_.empty())
        return;
    std::vector<double> sorted(delays_);
    std::sort(sorted.begin(), sorted.end());
    printNumber("video_delay_median_ms", (long long)(sorted[sorted.size() / 2] * 1000));
    printNumber("video_delay_worst_ms", (long long)(sorted.back() * 1000));
    std::string rates;
    for (uint64_t bytes : tenSeconds_)
        rates += (rates.empty() ? "" : ",") + std::to_string(bytes * 8 / 10 / 1000);
    printText("video_kbps_each_10s", rates);
}

}  // namespace handheld
