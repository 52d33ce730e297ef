#pragma once
// The user's network sources as the capture options and orvandel-setup
// change them: each change is written to "Sources.ini" and shows in the
// device lists at once.

#include "config/network_sources.h"

#include <string>
#include <vector>

// Why the source cannot be added beside the devices and sources there are;
// empty when it can.
std::string NetworkSourceRefusal(const NetworkSourceDescription& source);
// Whether a capture device or a source has that name.
bool DeviceNameTaken(const std::string& name);
// Each: empty when done, else why not.
std::string AddNetworkSource(const NetworkSourceDescription& source);
std::string RemoveNetworkSource(const std::string& name);

// The enabled channels whose video device has that name.
std::vector<int> ChannelsOnDevice(const std::string& name);
