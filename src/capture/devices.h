#pragma once
// The capture devices found on this PC, by the names shown to the user.
// Entry 0 of each list is "None"; entry i + 1 is device slot i.

#include <string>
#include <vector>

constexpr int kMaxCaptureDevices = 32;

struct CaptureDeviceNames {
    std::vector<std::string> video{"None"};
    std::vector<std::string> audio{"None"};
};

extern CaptureDeviceNames gDeviceNames;
