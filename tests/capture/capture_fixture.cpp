#include "capture_fixture.h"

#include "capture/grabber_callbacks.h"
#include "shared/resources.h"
#include "shared/server_state.h"
#include "capture/devices.h"
#include "config/settings.h"
#include "shared/live_params.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"

#include <algorithm>
#include <thread>

void CaptureTest::SetUp()
{
    SetMessageSink(&messages);
    ResetServerState();
    SetMessagesShown(true);
    SetPreviewVisible(false);
    SetPreviewMuted(true);
    SetDefaultSettings();
    SetDefaultEncoderParams();
    gGrabbers.ResetExitSignals();
    ASSERT_EQ(0, AllocateLargeBuffers());
    ResetStreamBuffers();
    ResetVirtualDevices();
    LimitSampleGrabbers(-1);
    ASSERT_EQ(0, CreateGraphObjects());
    Enumerate();
}

void CaptureTest::TearDown()
{
    ReleaseGraphObjects();
    ResetVirtualDevices();
    LimitSampleGrabbers(-1);
    ResetServerState();
    FreeLargeBuffers();
    SetMessageSink(nullptr);
}

void CaptureTest::Enumerate()
{
    ASSERT_EQ(0, EnumerateCaptureDevices());
}

namespace {

int SlotOf(const std::vector<std::string>& names, const std::string& name)
{
    auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin()) - 1;
}

} // namespace

int CaptureTest::VideoSlot(const std::string& name)
{
    return SlotOf(gDeviceNames.video, name);
}

int CaptureTest::AudioSlot(const std::string& name)
{
    return SlotOf(gDeviceNames.audio, name);
}

bool CaptureTest::GraphHas(const std::string& filterName)
{
    return gCapture.graph->FindFilter(filterName) != nullptr;
}

int SampleLog::BufferCB(double sampleTime, const uint8_t* buffer, int length)
{
    std::lock_guard hold(lock_);
    entries_.push_back({sampleTime, std::vector<uint8_t>(buffer, buffer + length)});
    return 0;
}

std::vector<SampleLog::Entry> SampleLog::Entries() const
{
    std::lock_guard hold(lock_);
    return entries_;
}

size_t SampleLog::Count() const
{
    std::lock_guard hold(lock_);
    return entries_.size();
}

void CaptureFor(std::chrono::milliseconds duration, SampleGrabber& grabber, SampleLog& log)
{
    grabber.SetCallback(&log);
    ASSERT_EQ(0, StartCapture());
    std::this_thread::sleep_for(duration);
    EXPECT_EQ(0, StopCapture());
}

VirtualDeviceDescription VideoDevice(const std::string& name, std::vector<FrameSize> sizes,
                              std::vector<std::vector<int>> crossbars)
{
    VirtualDeviceDescription device;
    device.name = name;
    device.capabilities = std::move(sizes);
    device.crossbars = std::move(crossbars);
    return device;
}
