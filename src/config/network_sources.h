#pragma once
// The network sources the user set up, kept in "Sources.ini" beside the
// settings file (whose layout stays as it is): one section per source,
//   [Garden camera]
//   url=rtsp://192.168.1.20/stream
//   sound=yes
// Channel records refer to a source by its name, as to any capture device.

#include "platform/capture/network_source.h"

#include <string>
#include <vector>

std::string NetworkSourcesPath();

// What the file holds; nothing when it is missing. A line that makes no
// sense is logged and skipped.
std::vector<NetworkSourceDescription> LoadNetworkSources();
std::vector<NetworkSourceDescription> ParseNetworkSources(const std::string& text);
// 0, or -1 after logging why the file could not be written.
int SaveNetworkSources(const std::vector<NetworkSourceDescription>& sources);

// Why a source cannot be added beside the devices already named, in words
// for the user; empty when it can.
std::string NetworkSourceProblem(const NetworkSourceDescription& source, const std::vector<std::string>& takenNames);

// The channels of an IPTV playlist (.m3u/.m3u8): each URL line, named by the
// "#EXTINF" line before it (the title after its first comma outside quotes),
// or by the URL when it has none.
std::vector<NetworkSourceDescription> ParsePlaylist(const std::string& text);
