#include "platform/capture/capture_layer.h"

#include <algorithm>

double StreamClock::Now() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::chrono::steady_clock::time_point StreamClock::At(double seconds) const
{
    return start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

int64_t NextSampleIndex(int64_t index, double step, const StreamClock& clock)
{
    return std::max(index + 1, static_cast<int64_t>(clock.Now() / step));
}

CapturePin* FreePin(CaptureFilter& filter, PinDirection direction, PinCategory category,
                    std::optional<MediaType> media)
{
    for (auto& pin : filter.Pins())
        if (pin->direction == direction && !pin->connected &&
            (category == PinCategory::None || pin->category == category) && (!media || pin->media == *media))
            return pin.get();
    return nullptr;
}

CaptureFilter::~CaptureFilter()
{
    for (auto& pin : pins_)
        DisconnectPin(*pin);
}

bool CaptureFilter::Accepts(const CapturePin& input, const CapturePin& output) const
{
    return input.media == output.media;
}

void CaptureFilter::Receive(const CapturePin&, const MediaSample&) {}

int CaptureFilter::SetState(FilterState, const StreamClock&)
{
    return 0;
}

CapturePin& CaptureFilter::AddPin(PinDirection direction, MediaType media, PinCategory category)
{
    pins_.push_back(std::make_unique<CapturePin>(CapturePin{this, direction, media, category}));
    return *pins_.back();
}

void CaptureFilter::Deliver(const CapturePin& output, const MediaSample& sample)
{
    if (CapturePin* input = output.connected)
        input->filter->Receive(*input, sample);
}

int ConnectPins(CapturePin& output, CapturePin& input)
{
    if (output.direction != PinDirection::Output || input.direction != PinDirection::Input || output.connected ||
        input.connected || !input.filter->Accepts(input, output))
        return -1;
    output.connected = &input;
    input.connected = &output;
    return 0;
}

void DisconnectPin(CapturePin& pin)
{
    if (pin.connected)
        pin.connected->connected = nullptr;
    pin.connected = nullptr;
}

namespace {

int OutputIndex(CrossbarFilter& crossbar, const CapturePin& pin)
{
    for (int i = 0; i < crossbar.OutputCount(); ++i)
        if (&crossbar.OutputPin(i) == &pin)
            return i;
    return -1;
}

// Connects output to the first free input of downstream that takes it.
int ConnectToFilter(CapturePin& output, CaptureFilter& downstream)
{
    for (auto& pin : downstream.Pins())
        if (pin->direction == PinDirection::Input && ConnectPins(output, *pin) == 0)
            return 0;
    return -1;
}

} // namespace

int RoutedSourceType(const CapturePin& input, int fallback)
{
    const CapturePin* pin = &input;
    while (pin->connected) {
        CrossbarFilter* crossbar = pin->connected->filter->AsCrossbar();
        if (!crossbar)
            break;
        int routed = crossbar->RoutedInput(OutputIndex(*crossbar, *pin->connected));
        if (routed < 0)
            return -1;
        const CapturePin& routedPin = crossbar->InputPin(routed);
        if (!routedPin.connected) {
            int related = -1;
            int type = -1;
            crossbar->PinInfo(true, routed, related, type);
            return type;
        }
        pin = &routedPin;
    }
    return fallback;
}

FilterGraph::~FilterGraph()
{
    Stop();
}

int FilterGraph::AddFilter(std::shared_ptr<CaptureFilter> filter, const std::string& name)
{
    auto clash = [&](const Entry& entry) { return entry.filter == filter || entry.name == name; };
    if (!filter || std::any_of(filters_.begin(), filters_.end(), clash))
        return -1;
    filters_.push_back({std::move(filter), name});
    return 0;
}

int FilterGraph::RemoveFilter(CaptureFilter* filter)
{
    auto found = std::find_if(filters_.begin(), filters_.end(),
                              [&](const Entry& entry) { return entry.filter.get() == filter; });
    if (found == filters_.end())
        return -1;
    for (auto& pin : filter->Pins())
        DisconnectPin(*pin);
    filters_.erase(found);
    return 0;
}

std::shared_ptr<CaptureFilter> FilterGraph::FindFilter(const std::string& name) const
{
    for (const Entry& entry : filters_)
        if (entry.name == name)
            return entry.filter;
    return nullptr;
}

std::vector<std::string> FilterGraph::FilterNames() const
{
    std::vector<std::string> names;
    for (const Entry& entry : filters_)
        names.push_back(entry.name);
    return names;
}

int FilterGraph::RenderStream(PinCategory category, std::optional<MediaType> media, CaptureFilter& source,
                              CaptureFilter* intermediate, CaptureFilter* sink)
{
    CapturePin* from = FreePin(source, PinDirection::Output, category, media);
    if (!from)
        return -1;
    if (intermediate) {
        if (ConnectToFilter(*from, *intermediate) != 0)
            return -1;
        from = FreePin(*intermediate, PinDirection::Output, PinCategory::None, std::nullopt);
        if (!from)
            return -1;
    }
    if (sink)
        return ConnectToFilter(*from, *sink);
    std::shared_ptr<CaptureFilter> renderer;
    if (from->media == MediaType::Video)
        renderer = std::make_shared<VideoRenderer>();
    else if (from->media == MediaType::Audio)
        renderer = std::make_shared<AudioRenderer>();
    if (!renderer || ConnectToFilter(*from, *renderer) != 0)
        return -1;
    if (AddFilter(renderer, from->media == MediaType::Video ? "Video Renderer" : "Audio Renderer") != 0) {
        DisconnectPin(*from);
        return -1;
    }
    return 0;
}

int FilterGraph::SetAll(FilterState state)
{
    int result = 0;
    for (const Entry& entry : filters_)
        if (entry.filter->SetState(state, clock_) != 0)
            result = -1;
    state_ = state;
    return result;
}

int FilterGraph::Run()
{
    // Pausing first lets the filters get ready before the clock starts.
    if (state_ == FilterState::Stopped) {
        if (SetAll(FilterState::Paused) != 0)
            return -1;
        clock_.Start();
    }
    return SetAll(FilterState::Running);
}

int FilterGraph::Pause()
{
    return SetAll(FilterState::Paused);
}

int FilterGraph::Stop()
{
    return SetAll(FilterState::Stopped);
}

template <class T> std::shared_ptr<T> FilterGraph::FirstOf() const
{
    for (const Entry& entry : filters_)
        if (auto found = std::dynamic_pointer_cast<T>(entry.filter))
            return found;
    return nullptr;
}

std::shared_ptr<VideoRenderer> FilterGraph::VideoWindow() const
{
    return FirstOf<VideoRenderer>();
}

std::shared_ptr<AudioRenderer> FilterGraph::BasicAudio() const
{
    return FirstOf<AudioRenderer>();
}

bool HasAnalogAudioPin(const CaptureFilter& filter)
{
    const auto& pins = filter.Pins();
    return std::any_of(pins.begin(), pins.end(), [](const auto& pin) { return pin->media == MediaType::AnalogAudio; });
}
