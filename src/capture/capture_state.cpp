#include "capture/capture_state.h"

std::atomic<int> gCaptureRunning{0};
