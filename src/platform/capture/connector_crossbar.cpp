#include "platform/capture/connector_crossbar.h"

#include <array>
#include <atomic>

namespace {

class ConnectorCrossbar : public CrossbarFilter {
public:
    explicit ConnectorCrossbar(std::vector<int> videoTypes) : types_(std::move(videoTypes))
    {
        const int count = static_cast<int>(types_.size());
        for (int i = 0; i < count; ++i)
            inputs_.push_back(&AddPin(PinDirection::Input, MediaType::AnalogVideo));
        for (int i = 0; i < count; ++i)
            inputs_.push_back(&AddPin(PinDirection::Input, MediaType::AnalogAudio));
        outputs_[0] = &AddPin(PinDirection::Output, MediaType::AnalogVideo);
        outputs_[1] = &AddPin(PinDirection::Output, MediaType::AnalogAudio);
        routed_[1] = count;
    }

    int InputCount() const override { return static_cast<int>(inputs_.size()); }
    int OutputCount() const override { return 2; }
    CapturePin& InputPin(int index) override { return *inputs_.at(index); }
    CapturePin& OutputPin(int index) override { return *outputs_.at(index); }

    int PinInfo(bool input, int index, int& related, int& physicalType) const override
    {
        const int count = static_cast<int>(types_.size());
        if (!input && (index == 0 || index == 1)) {
            related = 1 - index;
            physicalType = index == 0 ? kPhysVideoDecoder : kPhysAudioDecoder;
            return 0;
        }
        if (!input || index < 0 || index >= 2 * count)
            return -1;
        related = index < count ? index + count : index - count;
        int video = types_[index % count];
        physicalType = index < count ? video : video == kPhysVideoTuner ? kPhysAudioTuner : kPhysAudioLine;
        return 0;
    }

    int CanRoute(int output, int input) const override
    {
        const int count = static_cast<int>(types_.size());
        bool video = output == 0 && input >= 0 && input < count;
        bool audio = output == 1 && input >= count && input < 2 * count;
        return video || audio ? 0 : -1;
    }

    int Route(int output, int input) override
    {
        if (CanRoute(output, input) != 0)
            return -1;
        routed_[output] = input;
        return 0;
    }

    int RoutedInput(int output) const override { return output == 0 || output == 1 ? routed_[output].load() : -1; }

private:
    std::vector<int> types_;
    std::vector<CapturePin*> inputs_;
    std::array<CapturePin*, 2> outputs_{};
    std::array<std::atomic<int>, 2> routed_{};
};

} // namespace

std::vector<std::shared_ptr<CrossbarFilter>> ChainCrossbars(const std::vector<std::vector<int>>& crossbars,
                                                            CapturePin& videoIn, CapturePin* audioIn)
{
    std::vector<std::shared_ptr<CrossbarFilter>> chain;
    CapturePin* videoFeed = &videoIn;
    CapturePin* audioFeed = audioIn;
    for (const std::vector<int>& types : crossbars) {
        auto crossbar = std::make_shared<ConnectorCrossbar>(types);
        ConnectPins(crossbar->OutputPin(0), *videoFeed);
        if (audioFeed)
            ConnectPins(crossbar->OutputPin(1), *audioFeed);
        videoFeed = &crossbar->InputPin(0);
        audioFeed = &crossbar->InputPin(static_cast<int>(types.size()));
        chain.push_back(std::move(crossbar));
    }
    return chain;
}
