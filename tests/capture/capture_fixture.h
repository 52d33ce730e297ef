#pragma once
// A process as start-up leaves it for capture: settings, encoder parameters,
// large buffers, the graph objects and the device lists; messages recorded.

#include "capture/capture_graph.h"
#include "platform/capture/virtual_devices.h"
#include "platform/recording_sink.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Lists the devices again, e.g. after AddVirtualDevice.
    static void Enumerate();
    // The slot of a device in a names list, or -1.
    static int VideoSlot(const std::string& name);
    static int AudioSlot(const std::string& name);
    static bool GraphHas(const std::string& filterName);

    RecordingMessageSink messages;
    TempConfig config;
};

// Keeps every sample a grabber hands over.
class SampleLog : public GrabberCallback {
public:
    struct Entry {
        double time;
        std::vector<uint8_t> bytes;
    };
    int BufferCB(double sampleTime, const uint8_t* buffer, int length) override;
    std::vector<Entry> Entries() const;
    size_t Count() const;

private:
    mutable std::mutex lock_;
    std::vector<Entry> entries_;
};

// Runs the built graph for a while with log on grabber, then stops it.
void CaptureFor(std::chrono::milliseconds duration, SampleGrabber& grabber, SampleLog& log);

// A virtual video device with the given sizes and crossbars.
VirtualDeviceDescription VideoDevice(const std::string& name, std::vector<FrameSize> sizes,
                              std::vector<std::vector<int>> crossbars = {});
