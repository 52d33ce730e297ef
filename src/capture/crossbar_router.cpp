#include "capture/crossbar_router.h"

#include "capture/capture_graph.h"
#include "config/settings.h"

#include <algorithm>
#include <cstdio>

namespace {

struct TypeName {
    int type;
    const char* name;
};

constexpr TypeName kTypeNames[] = {
    {1, "Video Tuner"},       {2, "Video Composite"},         {3, "Video SVideo"},
    {4, "Video RGB"},         {5, "Video YRYBY"},             {6, "Video SerialDigital"},
    {7, "Video ParallelDigital"}, {8, "Video SCSI"},          {9, "Video AUX"},
    {10, "Video 1394"},       {11, "Video USB"},              {12, "Video Decoder"},
    {13, "Video Encoder"},    {0x1000, "Audio Tuner"},        {0x1001, "Audio Line"},
    {0x1002, "Audio Mic"},    {0x1003, "Audio AESDigital"},   {0x1004, "Audio SPDIFDigital"},
    {0x1005, "Audio SCSI"},   {0x1006, "Audio AUX"},          {0x1007, "Audio 1394"},
    {0x1008, "Audio USB"},    {0x1009, "Audio Decoder"},
};

constexpr int kFirstAudioType = 0x1000;

int OutputIndex(CrossbarFilter& crossbar, const CapturePin& pin)
{
    for (int i = 0; i < crossbar.OutputCount(); ++i)
        if (&crossbar.OutputPin(i) == &pin)
            return i;
    return -1;
}

} // namespace

const char* PhysicalTypeName(int physicalType)
{
    for (const TypeName& entry : kTypeNames)
        if (entry.type == physicalType)
            return entry.name;
    return "Unknown";
}

CrossbarRouter::CrossbarRouter(CapturePin& start, int& result)
{
    std::vector<RoutingStep> chain;
    result = Collect(start, 0, chain) ? -1 : 0;
}

// Walks upstream from input; true when no crossbar feeds it, so that the
// chain collected so far is a complete route.
bool CrossbarRouter::Collect(CapturePin& input, int depth, std::vector<RoutingStep>& chain)
{
    CapturePin* upstream = input.connected;
    CrossbarFilter* crossbar = upstream ? upstream->filter->AsCrossbar() : nullptr;
    if (!crossbar)
        return true;
    RoutingStep step;
    step.crossbar = std::static_pointer_cast<CrossbarFilter>(crossbar->shared_from_this());
    step.videoOutput = OutputIndex(*crossbar, *upstream);
    step.depth = depth;
    crossbar->PinInfo(false, step.videoOutput, step.audioOutput, step.outputType);
    for (int i = 0; i < crossbar->InputCount(); ++i) {
        if (crossbar->PinInfo(true, i, step.audioInput, step.inputType) != 0 || step.inputType >= kFirstAudioType ||
            crossbar->CanRoute(step.videoOutput, i) != 0)
            continue;
        step.videoInput = i;
        chain.resize(depth + 1);
        chain[depth] = step;
        if (Collect(crossbar->InputPin(i), depth + 1, chain))
            routes_.emplace_back(chain.rbegin(), chain.rend());
    }
    return false;
}

int CrossbarRouter::RouteCount(int& count) const
{
    count = static_cast<int>(routes_.size());
    return 0;
}

int CrossbarRouter::RouteInputType(int route, int& physicalType) const
{
    if (route < 0 || route >= static_cast<int>(routes_.size()))
        return -1;
    physicalType = routes_[route].front().inputType;
    return 0;
}

int CrossbarRouter::RouteInputName(int route, char* buffer, size_t size) const
{
    int type = 0;
    if (!buffer || size == 0 || RouteInputType(route, type) != 0)
        return -1;
    std::snprintf(buffer, size, "%s", PhysicalTypeName(type));
    return 0;
}

int CrossbarRouter::SelectRoute(int route)
{
    if (route < 0 || route >= static_cast<int>(routes_.size()))
        return -1;
    int result = 0;
    for (const RoutingStep& step : routes_[route]) {
        result = step.crossbar->Route(step.videoOutput, step.videoInput);
        if (step.audioInput != -1 && step.audioOutput != -1)
            result = step.crossbar->Route(step.audioOutput, step.audioInput);
    }
    selected_ = route;
    return result;
}

int CrossbarRouter::SelectedRoute(int& route) const
{
    route = selected_;
    return 0;
}

TvTuner* FindTuner()
{
    return gCapture.videoCapture ? gCapture.videoCapture->Tuner() : nullptr;
}

int TuneChannel(int channel, int countryCode, int inputType)
{
    TvTuner* tuner = FindTuner();
    if (!tuner)
        return -1;
    tuner->SetInputType(0, inputType);
    tuner->SetCountryCode(countryCode);
    tuner->SetChannel(channel, -2, -2);
    return 0;
}

void RouteAndTune(const ChannelRecord& channel)
{
    if (channel.videoCrossbarIn != -1 && gCapture.router)
        gCapture.router->SelectRoute(channel.videoCrossbarIn);
    if (channel.tunerChannel != -1)
        TuneChannel(channel.tunerChannel, channel.tunerCountry, channel.tunerInputType);
}
