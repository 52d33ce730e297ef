#include "capture/motion.h"

#include "capture/capture_graph.h"
#include "config/settings.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "shared/live_params.h"
#include "shared/server_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

// Pictures since the last comparison period.
std::atomic<int> monitoringFrameCounter{0};
std::unique_ptr<uint8_t[]> reference;
// False until a picture was copied into the reference of this graph.
std::atomic<bool> referencePrimed{false};

constexpr int kBands = 4;
constexpr int kMotionPerByte = 6;
// A comparison period ends when the counter was above this before a picture.
constexpr int kLastFrameOfPeriod = 30;

bool CurrentChannelWatchesMotion()
{
    const int channel = gSettings.record.currentChannel;
    return channel >= 0 && channel < kChannelCount && gSettings.channels[channel].motionDetection != 0;
}

// Ends a comparison period on one picture in 32.
bool ComparisonPeriodEnds()
{
    if (monitoringFrameCounter.fetch_add(1) <= kLastFrameOfPeriod)
        return false;
    monitoringFrameCounter = 0;
    return true;
}

void ReportMotion()
{
    const int channel = gSettings.record.currentChannel;
    if (!MarkMotionDetected())
        Log("Motion was detected on channel " + std::to_string(channel) + ".");
    if (gSettings.record.recordOnMotion && !IsRecording())
        PostAppMessage(MessageTarget::Recorder, kMsgStartRecording, static_cast<uintptr_t>(channel));
}

} // namespace

void RestartMonitoringPeriod()
{
    monitoringFrameCounter = 0;
}

void PrepareMotionReference(int frameBytes)
{
    if (!reference)
        reference.reset(new (std::nothrow) uint8_t[frameBytes]());
    referencePrimed = false;
}

void ReleaseMotionReference()
{
    reference.reset();
}

bool HasMotionReference()
{
    return reference != nullptr;
}

bool FrameHasMotion(uint8_t* reference, const uint8_t* picture, size_t length)
{
    const size_t band = length / kBands;
    if (band == 0) {
        std::memcpy(reference, picture, length);
        return false;
    }
    size_t sum = 0;
    size_t counted = 0;
    for (size_t i = 0; i < length; ++i) {
        sum += static_cast<size_t>(std::abs(picture[i] - reference[i]));
        reference[i] = picture[i];
        if (++counted < band)
            continue;
        if (sum > kMotionPerByte * band)
            return true;
        sum = counted = 0;
    }
    return false;
}

void MonitorVideoFrame(const uint8_t* picture, int length)
{
    if (!IsMonitoring() || !CurrentChannelWatchesMotion() || !ComparisonPeriodEnds())
        return;
    // The reference is the graph's; a picture never writes past it.
    const size_t bytes = static_cast<size_t>(std::clamp(length, 0, gCapture.format.FrameBytes()));
    if (!reference || bytes == 0)
        return;
    if (MonitoringCountdown() > 0) {
        std::memcpy(reference.get(), picture, bytes);
        referencePrimed = true;
        CountDownMonitoring();
        UpdateStatusText();
        return;
    }
    // A graph rebuilt while monitoring (a recording started meanwhile) has a
    // new, empty reference: compared with it, any picture would look like
    // motion. Its first picture becomes the reference instead.
    if (!referencePrimed.exchange(true)) {
        std::memcpy(reference.get(), picture, bytes);
        return;
    }
    if (FrameHasMotion(reference.get(), picture, bytes))
        ReportMotion();
}
