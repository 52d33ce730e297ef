#include "capture/capture_state.h"
#include "capture/devices.h"

std::atomic<int> gCaptureRunning{0};
std::vector<std::string> gVideoDeviceNames{"None"};
std::vector<std::string> gAudioDeviceNames{"None"};
