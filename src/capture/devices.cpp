#include "capture/devices.h"

CaptureDeviceNames gDeviceNames;
