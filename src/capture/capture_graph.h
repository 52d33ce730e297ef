#pragma once
// The analog capture graph: the devices found on this PC, and the one graph
// that carries a channel's pictures, sound and caption bytes to the grabber
// callbacks, the preview and the preview's sound. Everything here runs on
// the main window's thread. Operations return 0 on success, -1 on failure.

#include "capture/devices.h"
#include "platform/capture/capture_layer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class CrossbarRouter;

// What the built graph's devices deliver to the grabbers.
struct CaptureFormat {
    int width = 0;
    int height = 0;
    uint8_t frameRate = 0;  // 15 when the device does not say
    bool stereo = true;
    int audioSampleRate = 44100;
    int audioSampleBits = 16;

    // A bottom-up B,G,R picture's bytes.
    int FrameBytes() const { return width * height * 3; }
};

struct CaptureObjects {
    std::unique_ptr<FilterGraph> graph;
    std::shared_ptr<SampleGrabber> videoGrabber;
    std::shared_ptr<SampleGrabber> audioGrabber;
    std::shared_ptr<SampleGrabber> captionGrabber;
    std::shared_ptr<CaptureFilter> vbiCodec;
    std::shared_ptr<VideoRenderer> videoWindow;
    std::unique_ptr<CrossbarRouter> router;
    // The same filter in both when one device supplies picture and sound.
    std::shared_ptr<CaptureFilter> videoCapture;
    std::shared_ptr<CaptureFilter> audioCapture;
    // Slot i is the device shown at position i + 1 of the names list.
    std::shared_ptr<DeviceMoniker> videoMonikers[kMaxCaptureDevices];
    std::shared_ptr<DeviceMoniker> audioMonikers[kMaxCaptureDevices];
    std::shared_ptr<DeviceMoniker> selectedVideo;
    std::shared_ptr<DeviceMoniker> selectedAudio;
    int videoDeviceCount = 0;
    int audioDeviceCount = 0;
    int crossbarInputCount = 0;
    CaptureFormat format;
};

extern CaptureObjects gCapture;

// The main view's preview window and its sound, which the graph shows or
// leaves out when it is built. Hidden and muted at start-up.
bool IsPreviewVisible();
void SetPreviewVisible(bool on);
bool IsPreviewMuted();
void SetPreviewMuted(bool on);

// Once at start-up, before anything else of capture.
int CreateGraphObjects();
// At shutdown: stops and tears down the graph, then drops it and the devices.
void ReleaseGraphObjects();

// Rebuilds both device name lists from "None": video devices, then as audio
// devices the video devices with an analog audio pin followed by the sound
// inputs; the network sources of "Sources.ini" last in each; at most 32 of
// each. 0 when any device was found.
int EnumerateCaptureDevices();
// The same lists again (after the sources changed), keeping the devices of
// the graph that is built.
int RelistCaptureDevices();

// Matches every channel record's device names with the lists (after the
// settings are loaded).
void ReconcileChannelDevices();

// Stops and tears down the current graph and builds one for these devices
// (either may be nullptr), asking the video device for wantedFrameRate
// pictures a second (0: its own rate). What the devices then deliver is
// the graph's format.
int SelectCaptureDevices(const std::shared_ptr<DeviceMoniker>& video, const std::shared_ptr<DeviceMoniker>& audio,
                         int wantedFrameRate);
// The same by device slot, as channel records store them (255: none).
int SelectCaptureDevicesByIndex(int videoIndex, int audioIndex, int wantedFrameRate);
const CaptureFormat& GraphFormat();

int BuildCaptureGraph(int wantedFrameRate);
void TearDownCaptureGraph();
int StartCapture();
int StopCapture();

// Connects the first free output of upstream that some free input of
// downstream takes.
int ConnectFilters(CaptureFilter& upstream, CaptureFilter& downstream);

// The capture size from a device's capabilities: 640 x 480 when offered,
// else the nearest size above it, except that a first size below it stays.
FrameSize ChooseCaptureSize(const VideoStreamConfig& config);

// Whether the built graph carries pictures, and sound, to the grabbers.
bool GraphHasVideo();
bool GraphHasAudio();

// How the graph resizes the main frame around the preview.
void SetFrameResizer(std::function<void(int width, int height)> resizer);

// The view's Preview Window command: resizes the frame for the switch and,
// while capturing, shows or hides the preview.
void ApplyPreviewVisibility();

// The preview's sound: -10,000 when muted, else 0. -1 when the graph has no
// audio renderer, -2 when the volume cannot be set.
int SetPreviewVolume(int muted);
