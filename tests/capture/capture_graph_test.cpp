#include "capture_fixture.h"

#include "shared/server_state.h"
#include "capture/crossbar_router.h"
#include "capture/devices.h"
#include "capture/motion.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "shared/live_params.h"
#include "encode/stream_buffers.h"
#include "server/session_state.h"

#include <cstring>
#include <thread>

namespace {

const char* const kBadFormat = "Cannot set video parameters for capture.";

FrameSize CaptureSizeOf(std::vector<FrameSize> sizes)
{
    auto filter = [&] {
        AddVirtualDevice(VideoDevice("Sized", std::move(sizes)));
        for (const auto& device : VirtualDevices(DeviceCategory::Video))
            if (device->FriendlyName() == "Sized")
                return device->Bind();
        return std::shared_ptr<CaptureFilter>();
    }();
    return ChooseCaptureSize(*filter->VideoConfig());
}

void ExpectSize(int width, int height, FrameSize size)
{
    EXPECT_EQ(width, size.width);
    EXPECT_EQ(height, size.height);
}

using CaptureSizeTest = CaptureTest;

TEST_F(CaptureSizeTest, NearestSizeAtOrAbove640x480UnlessTheFirstIsSmaller)
{
    ExpectSize(640, 480, CaptureSizeOf({{320, 240}, {640, 480}, {720, 576}}));
    ResetVirtualDevices();
    ExpectSize(720, 480, CaptureSizeOf({{720, 480}, {800, 600}}));
    ResetVirtualDevices();
    ExpectSize(352, 288, CaptureSizeOf({{352, 288}, {720, 576}}));
    ResetVirtualDevices();
    ExpectSize(640, 480, CaptureSizeOf({}));
}

TEST_F(CaptureSizeTest, TheTvCardCapturesAt640x480)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
    EXPECT_EQ(640, gCapture.format.width);
    EXPECT_EQ(480, gCapture.format.height);
    EXPECT_TRUE(HasMotionReference());
}

using DeviceListTest = CaptureTest;

TEST_F(DeviceListTest, TheTvCardIsListedAsVideoAndAudioBeforeTheSoundInputs)
{
    EXPECT_EQ((std::vector<std::string>{"None", "Virtual TV Tuner"}), gDeviceNames.video);
    EXPECT_EQ((std::vector<std::string>{"None", "Virtual TV Tuner", "Virtual Line In"}), gDeviceNames.audio);
    EXPECT_EQ(gCapture.videoMonikers[0], gCapture.audioMonikers[0]);
}

TEST_F(DeviceListTest, TheThirtyThirdDeviceIsNotListed)
{
    for (int n = 2; n <= 33; ++n)
        AddVirtualDevice(VideoDevice("Card " + std::to_string(n), {{640, 480}}));
    Enumerate();
    EXPECT_EQ(33u, gDeviceNames.video.size());
    EXPECT_EQ(32, gCapture.videoDeviceCount);
    EXPECT_EQ("Card 32", gDeviceNames.video.back());
    EXPECT_EQ(-1, VideoSlot("Card 33"));
}

TEST_F(DeviceListTest, ChannelRecordsFollowTheirDevicesByName)
{
    ChannelRecord& found = gSettings.channels[0];
    std::strcpy(found.videoDeviceName, "Virtual TV Tuner");
    std::strcpy(found.audioDeviceName, "Virtual Line In");
    ChannelRecord& missing = gSettings.channels[1];
    std::strcpy(missing.videoDeviceName, "Unplugged Card");
    missing.videoDevice = 0;
    std::strcpy(missing.audioDeviceName, "Virtual TV Tuner");
    ChannelRecord& unnamed = gSettings.channels[2];
    unnamed.videoDevice = 0;
    unnamed.audioDevice = 7;
    ReconcileChannelDevices();

    EXPECT_EQ(0, found.videoDevice);
    EXPECT_EQ(1, found.audioDevice);
    EXPECT_EQ(0x0001, found.editSelection);

    EXPECT_STREQ("Unplugged Card", missing.videoDeviceName);
    EXPECT_EQ(kNoDevice, missing.videoDevice);
    EXPECT_EQ(0, missing.audioDevice);
    EXPECT_EQ(0xFF00, missing.editSelection);

    // An empty name takes the name its index points at, but no device yet.
    EXPECT_STREQ("Virtual TV Tuner", unnamed.videoDeviceName);
    EXPECT_STREQ("None", unnamed.audioDeviceName);
    EXPECT_EQ(kNoDevice, unnamed.videoDevice);
    EXPECT_EQ(kNoDevice, unnamed.audioDevice);
    EXPECT_EQ(0xFFFF, unnamed.editSelection);
}

using GraphBuildTest = CaptureTest;

TEST_F(GraphBuildTest, TheTvCardForPictureAndSoundIsOneCaptureFilter)
{
    const int card = VideoSlot("Virtual TV Tuner");
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(card, AudioSlot("Virtual TV Tuner"), gLiveParams.frameRate));
    EXPECT_TRUE(GraphHas("VCap"));
    EXPECT_FALSE(GraphHas("ACap"));
    for (const char* name : {"VGrabber", "AGrabber", "CCGrabber", "VBI Codec", "Video Renderer", "Audio Renderer"})
        EXPECT_TRUE(GraphHas(name)) << name;
    EXPECT_TRUE(GraphHasVideo());
    EXPECT_TRUE(GraphHasAudio());
    EXPECT_TRUE(GraphFormat().stereo);
    EXPECT_EQ(44100, GraphFormat().audioSampleRate);
    EXPECT_EQ(16, GraphFormat().audioSampleBits);
    EXPECT_EQ(3, gCapture.crossbarInputCount);
    EXPECT_EQ(kVolumeSilent, gCapture.graph->BasicAudio()->Volume());
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(GraphBuildTest, AnAudioOnlyChannelBuildsOnlyTheSoundBranch)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(kNoDevice, AudioSlot("Virtual Line In"), gLiveParams.frameRate));
    EXPECT_TRUE(GraphHas("ACap"));
    EXPECT_FALSE(GraphHas("VCap"));
    EXPECT_FALSE(GraphHas("VGrabber"));
    EXPECT_FALSE(GraphHasVideo());
    EXPECT_TRUE(GraphHasAudio());
}

TEST_F(GraphBuildTest, AnOversizedConnectedFormatFailsAndLeavesNothingBound)
{
    AddVirtualDevice(VideoDevice("HD Card", {{1920, 1088}}));
    Enumerate();
    EXPECT_EQ(-1, SelectCaptureDevicesByIndex(VideoSlot("HD Card"), kNoDevice, gLiveParams.frameRate));
    EXPECT_TRUE(messages.Saw(kBadFormat));
    EXPECT_TRUE(gCapture.graph->FilterNames().empty());
    EXPECT_EQ(nullptr, gCapture.videoCapture);
    EXPECT_EQ(nullptr, gCapture.selectedVideo);
    EXPECT_FALSE(HasMotionReference());
}

TEST_F(GraphBuildTest, FailuresAreSilentWhileMessagesAreOff)
{
    AddVirtualDevice(VideoDevice("HD Card", {{1920, 1088}}));
    Enumerate();
    SetMessagesShown(false);
    EXPECT_EQ(-1, SelectCaptureDevicesByIndex(VideoSlot("HD Card"), kNoDevice, gLiveParams.frameRate));
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(GraphBuildTest, WithoutACaptionGrabberTheGraphStillBuildsAndRuns)
{
    LimitSampleGrabbers(1);
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
    EXPECT_TRUE(messages.Saw("Could not obtain a CC grabber filter."));
    EXPECT_FALSE(GraphHas("CCGrabber"));
    EXPECT_FALSE(GraphHas("VBI Codec"));
    SampleLog frames;
    CaptureFor(std::chrono::milliseconds(300), *gCapture.videoGrabber, frames);
    EXPECT_GT(frames.Count(), 0u);
}

TEST_F(GraphBuildTest, ACardWithoutVbiLinesFeedsCaptionsStraightFromItsCaptionOutput)
{
    VirtualDeviceDescription device = VideoDevice("Caption Card", {{320, 240}}, {{1}});
    device.tuner = true;
    device.captionPin = true;
    AddVirtualDevice(device);
    Enumerate();
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Caption Card"), kNoDevice, gLiveParams.frameRate));
    EXPECT_FALSE(GraphHas("VBI Codec"));
    ASSERT_TRUE(GraphHas("CCGrabber"));
    ASSERT_EQ(0, TuneChannel(9, 1, 1));
    SampleLog pairs;
    CaptureFor(std::chrono::milliseconds(300), *gCapture.captionGrabber, pairs);
    EXPECT_GT(pairs.Count(), 3u);
}

TEST_F(GraphBuildTest, TeardownRemovesTheWholeChain)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(0, 0, gLiveParams.frameRate));
    TearDownCaptureGraph();
    EXPECT_TRUE(gCapture.graph->FilterNames().empty());
    EXPECT_EQ(nullptr, gCapture.router);
    EXPECT_EQ(nullptr, gCapture.videoWindow);
}

TEST_F(GraphBuildTest, StartAndStopFollowTheRunningFlagAndThePreview)
{
    std::vector<std::pair<int, int>> sizes;
    SetFrameResizer([&](int width, int height) { sizes.emplace_back(width, height); });
    SetPreviewVisible(true);
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(0, kNoDevice, gLiveParams.frameRate));
    ASSERT_EQ(0, StartCapture());
    EXPECT_TRUE(IsCaptureRunning());
    EXPECT_EQ(0, StartCapture());
    PreviewPicture picture;
    for (int wait = 0; wait < 100 && !TakePreviewPicture(picture, 0); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(picture.shown);
    EXPECT_EQ(640, picture.width);
    EXPECT_EQ(0, StopCapture());
    EXPECT_FALSE(IsCaptureRunning());
    TakePreviewPicture(picture, 0);
    EXPECT_FALSE(picture.shown);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{640, 480}, {340, 2}}), sizes);
    SetFrameResizer(nullptr);
}

TEST_F(GraphBuildTest, ThePreviewVolumeFollowsTheMuteSwitch)
{
    EXPECT_EQ(-1, SetPreviewVolume(0));
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(kNoDevice, AudioSlot("Virtual Line In"), gLiveParams.frameRate));
    EXPECT_EQ(kVolumeSilent, gCapture.graph->BasicAudio()->Volume());
    EXPECT_EQ(0, SetPreviewVolume(0));
    EXPECT_EQ(kVolumeFull, gCapture.graph->BasicAudio()->Volume());
}

} // namespace
