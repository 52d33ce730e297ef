#pragma once
// Network sources: an IP camera, a network tuner or an IPTV channel, read and
// decoded with the FFmpeg libraries. Each is listed as a video device whose
// one crossbar input is "Tuner" (with its sound beside it when it carries
// sound), so that channel records, routing and everything above use it as
// they use a card.

#include "platform/capture/capture_layer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct NetworkSourceDescription {
    std::string name;
    // rtsp://, http(s):// (MPEG-TS or HLS), udp:// or rtp://, or a local file.
    std::string url;
    // Listed with an analog sound pin; a source without sound then gives silence.
    bool sound = true;
};

// The sources listed after the hardware devices, in this order.
void SetNetworkSources(std::vector<NetworkSourceDescription> sources);
std::vector<std::shared_ptr<DeviceMoniker>> NetworkSourceDevices();

// How long opening a source may take, and then how long a read may wait for
// data before the source counts as dropped.
constexpr int kSourceOpenLimitMs = 5000;
constexpr int kSourceReadLimitMs = 5000;
// A dropped source is reopened after 1 s, then 2, 4, ... up to this.
constexpr int kSourceLongestBackoffSeconds = 30;

// A source that drops again within this long of coming back (a camera at
// its client limit) goes on with its backoff instead of starting it anew.
constexpr int kSourceSteadySeconds = 30;

// The wait before reopening attempt number attempt (0 first).
int SourceBackoffSeconds(int attempt);

// One look at a source, for a user checking what they set up: within
// limitMs in all, and given up at once when stop is set.
struct SourceProbe {
    // Empty when the source opened and gave a picture (or sound only).
    std::string failure;
    bool video = false;
    bool sound = false;
    std::string description;      // codecs and sizes, as FFmpeg names them
    FrameSize size;               // of the picture below
    std::vector<uint8_t> picture; // the first picture, bottom-up B,G,R
};
SourceProbe ProbeNetworkSource(const std::string& url, FrameSize size, const std::atomic<bool>& stop,
                               int limitMs = kSourceOpenLimitMs);
