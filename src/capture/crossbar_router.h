#pragma once
// Crossbar routing and tuning: every physical video input that can reach the
// capture filter through the crossbars in front of it, switching them to one
// of those inputs, and putting a channel onto the card's tuner.

#include "platform/capture/capture_layer.h"

#include <cstddef>
#include <memory>
#include <vector>

// One crossbar's part of a route.
struct RoutingStep {
    int videoInput = -1;
    int videoOutput = -1;
    int audioInput = -1;   // the video input's related audio pin, -1 none
    int audioOutput = -1;  // the video output's related audio pin, -1 none
    std::shared_ptr<CrossbarFilter> crossbar;
    int inputType = 0;
    int outputType = 0;
    int depth = 0;         // 0 at the crossbar nearest the capture filter
};

class CrossbarRouter {
public:
    // Collects the routes that end at start, the capture filter's analog
    // video input. result is 0, or -1 when no route could be collected.
    CrossbarRouter(CapturePin& start, int& result);

    int RouteCount(int& count) const;
    int RouteInputType(int route, int& physicalType) const;
    // The input type's name, cut to fit size. -1 for a bad route or no buffer.
    int RouteInputName(int route, char* buffer, size_t size) const;
    int SelectRoute(int route);
    int SelectedRoute(int& route) const;

    // Each route runs from the most upstream crossbar (element 0) to the one
    // nearest the capture filter.
    const std::vector<std::vector<RoutingStep>>& Routes() const { return routes_; }

private:
    bool Collect(CapturePin& input, int depth, std::vector<RoutingStep>& chain);

    std::vector<std::vector<RoutingStep>> routes_;
    int selected_ = -1;
};

// "Video Tuner", "Audio Line", ... or "Unknown".
const char* PhysicalTypeName(int physicalType);

// The tuner in front of the video capture filter, or nullptr.
TvTuner* FindTuner();

// Puts the input type (1 antenna, 0 cable), the country and the channel onto
// the tuner. -1 when the graph has no tuner.
int TuneChannel(int channel, int countryCode, int inputType);

struct ChannelRecord;

// Puts the freshly built graph onto the channel: its crossbar input, when it
// has one and the graph a crossbar, and its tuner channel, when it has one.
void RouteAndTune(const ChannelRecord& channel);
