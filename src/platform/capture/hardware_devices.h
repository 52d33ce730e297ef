#pragma once
// Capture hardware: V4L2 video devices (/dev/video*) with their inputs as a
// crossbar, their tuner and sliced line-21 captions, and ALSA capture devices.

#include "platform/capture/capture_layer.h"

#include <cstdint>
#include <string>

std::vector<std::shared_ptr<DeviceMoniker>> V4l2Devices();
std::vector<std::shared_ptr<DeviceMoniker>> AlsaCaptureDevices();

// The crossbar connector type of a V4L2 input, from its type and name.
int V4l2InputPhysicalType(uint32_t inputType, const std::string& name);

// A frequency in kHz in the tuner's units (62.5 Hz with lowUnits, else 62.5 kHz).
uint32_t TunerUnitsOfKhz(int khz, bool lowUnits);
