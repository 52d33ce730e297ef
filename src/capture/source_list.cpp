#include "capture/source_list.h"

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "config/settings.h"

#include <algorithm>

namespace {

std::vector<std::string> TakenDeviceNames(const std::vector<NetworkSourceDescription>& sources)
{
    std::vector<std::string> names(gDeviceNames.video.begin() + 1, gDeviceNames.video.end());
    names.insert(names.end(), gDeviceNames.audio.begin() + 1, gDeviceNames.audio.end());
    for (const NetworkSourceDescription& source : sources)
        names.push_back(source.name);
    return names;
}

constexpr int kNoSlot = 0xFF;

std::string NameAt(const std::vector<std::string>& names, int slot)
{
    return slot >= 0 && slot + 1 < static_cast<int>(names.size()) ? names[slot + 1] : std::string();
}

int SlotOf(const std::vector<std::string>& names, const std::string& name)
{
    for (size_t entry = 1; entry < names.size(); ++entry)
        if (!name.empty() && names[entry] == name)
            return static_cast<int>(entry) - 1;
    return -1;
}

// Channel records hold devices by their place in the lists, the stored
// ones and those chosen in an open lineup (video slot << 8 | audio slot):
// across a new listing each follows its device's name.
void RelistKeepingChoices()
{
    struct Pending {
        std::string video;
        std::string audio;
    };
    std::vector<Pending> pending(kChannelCount);
    for (int index = 0; index < kChannelCount; ++index) {
        const int32_t selection = gSettings.channels[index].editSelection;
        pending[index] = {NameAt(gDeviceNames.video, selection >> 8 & 0xFF), NameAt(gDeviceNames.audio, selection & 0xFF)};
    }
    RelistCaptureDevices();
    for (int index = 0; index < kChannelCount; ++index) {
        ChannelRecord& channel = gSettings.channels[index];
        const int video = SlotOf(gDeviceNames.video, pending[index].video);
        const int audio = SlotOf(gDeviceNames.audio, pending[index].audio);
        channel.editSelection = (video < 0 ? kNoSlot : video) << 8 | (audio < 0 ? kNoSlot : audio);
        const int storedVideo = SlotOf(gDeviceNames.video, channel.videoDeviceName);
        const int storedAudio = SlotOf(gDeviceNames.audio, channel.audioDeviceName);
        channel.videoDevice = storedVideo < 0 ? kNoDevice : storedVideo;
        channel.audioDevice = storedAudio < 0 ? kNoDevice : storedAudio;
    }
}

std::string SaveAndRelist(const std::vector<NetworkSourceDescription>& sources)
{
    if (SaveNetworkSources(sources) != 0)
        return "\"" + NetworkSourcesPath() + "\" could not be written.";
    RelistKeepingChoices();
    return {};
}

} // namespace

std::string NetworkSourceRefusal(const NetworkSourceDescription& source)
{
    return NetworkSourceProblem(source, TakenDeviceNames(LoadNetworkSources()));
}

bool DeviceNameTaken(const std::string& name)
{
    const std::vector<std::string> taken = TakenDeviceNames(LoadNetworkSources());
    return std::find(taken.begin(), taken.end(), name) != taken.end();
}

std::string AddNetworkSource(const NetworkSourceDescription& source)
{
    std::vector<NetworkSourceDescription> sources = LoadNetworkSources();
    if (std::string problem = NetworkSourceProblem(source, TakenDeviceNames(sources)); !problem.empty())
        return problem;
    sources.push_back(source);
    return SaveAndRelist(sources);
}

std::string RemoveNetworkSource(const std::string& name)
{
    std::vector<NetworkSourceDescription> sources = LoadNetworkSources();
    const auto found = std::find_if(sources.begin(), sources.end(), [&](const auto& source) { return source.name == name; });
    if (found == sources.end())
        return "There is no source \"" + name + "\".";
    sources.erase(found);
    return SaveAndRelist(sources);
}

std::vector<int> ChannelsOnDevice(const std::string& name)
{
    std::vector<int> channels;
    for (int index = 0; index < kChannelCount; ++index)
        if (gSettings.channels[index].enabled && name == gSettings.channels[index].videoDeviceName)
            channels.push_back(index);
    return channels;
}
