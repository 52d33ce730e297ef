#include "capture/devices.h"

std::vector<std::string> gVideoDeviceNames{"None"};
std::vector<std::string> gAudioDeviceNames{"None"};
