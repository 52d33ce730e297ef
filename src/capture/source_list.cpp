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

std::string SaveAndRelist(const std::vector<NetworkSourceDescription>& sources)
{
    if (SaveNetworkSources(sources) != 0)
        return "\"" + NetworkSourcesPath() + "\" could not be written.";
    RelistCaptureDevices();
    ReconcileChannelDevices();
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
