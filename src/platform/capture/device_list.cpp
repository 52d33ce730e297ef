#include "platform/capture/capture_layer.h"
#include "platform/capture/hardware_devices.h"
#include "platform/capture/virtual_devices.h"

std::vector<std::shared_ptr<DeviceMoniker>> EnumerateDevices(DeviceCategory category)
{
    std::vector<std::shared_ptr<DeviceMoniker>> devices = VirtualDevices(category);
    auto hardware = category == DeviceCategory::Video ? V4l2Devices() : AlsaCaptureDevices();
    devices.insert(devices.end(), hardware.begin(), hardware.end());
    return devices;
}
