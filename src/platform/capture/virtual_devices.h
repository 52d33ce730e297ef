#pragma once
// The virtual capture devices, always present: the "Virtual TV Tuner" card
// and the "Virtual Line In" sound input. Tests describe further devices here.

#include "platform/capture/capture_layer.h"

#include <string>
#include <vector>

struct VirtualDeviceDescription {
    std::string name;
    bool video = true;                  // false: a sound input only
    bool analogAudio = false;           // a video device that also delivers its own sound
    std::vector<FrameSize> capabilities;
    // Crossbars from the one feeding the capture filter upstream. Each lists
    // its video inputs by connector type in pin order and gets one related
    // audio input per video input; input 0 of every crossbar but the last
    // is fed by the next one.
    std::vector<std::vector<int>> crossbars;
    bool tuner = false;
    bool rawVbi = false;                // sampled line 21, for the VBI codec
    bool captionPin = false;            // caption byte pairs straight from the device
    AudioFormat audio;
};

VirtualDeviceDescription VirtualTvTuner();
VirtualDeviceDescription VirtualLineIn();

// Registers one more virtual device, listed after those before it.
void AddVirtualDevice(const VirtualDeviceDescription& device);
// Back to the two built-in devices.
void ResetVirtualDevices();
std::vector<std::shared_ptr<DeviceMoniker>> VirtualDevices(DeviceCategory category);

// Lets only count more sample grabbers be made (-1: no limit), so that tests
// can see a graph built without one.
void LimitSampleGrabbers(int count);

// The virtual tuner's channels and those on which it finds a signal.
constexpr int kVirtualFirstChannel = 2;
constexpr int kVirtualLastChannel = 69;
bool VirtualChannelHasSignal(int channel);
