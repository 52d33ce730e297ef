#pragma once
// The capture devices found on this PC, by the names shown to the user.
// Entry 0 of each list is "None"; entry i + 1 is device slot i.

#include <string>
#include <vector>

constexpr int kMaxCaptureDevices = 32;

extern std::vector<std::string> gVideoDeviceNames;
extern std::vector<std::string> gAudioDeviceNames;
