#include "capture_fixture.h"

#include "capture/channel_setup.h"
#include "capture/crossbar_router.h"
#include "config/settings.h"
#include "shared/live_params.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> RouteNames(const CrossbarRouter& router)
{
    std::vector<std::string> names;
    int count = 0;
    router.RouteCount(count);
    for (int route = 0; route < count; ++route) {
        char name[32];
        EXPECT_EQ(0, router.RouteInputName(route, name, sizeof name));
        names.push_back(name);
    }
    return names;
}

class CrossbarRouterTest : public CaptureTest {
protected:
    // Builds the graph for a virtual card with these crossbars and a tuner.
    void BuildCard(std::vector<std::vector<int>> crossbars)
    {
        VirtualDeviceDescription device = VideoDevice("Card", {{320, 240}}, std::move(crossbars));
        device.tuner = true;
        AddVirtualDevice(device);
        Enumerate();
        ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Card"), kNoDevice, gLiveParams.frameRate));
        ASSERT_NE(nullptr, gCapture.router);
    }
};

TEST_F(CrossbarRouterTest, OneCrossbarOffersItsThreeVideoInputsAndNoAudioInput)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
    const CrossbarRouter& router = *gCapture.router;
    EXPECT_EQ((std::vector<std::string>{"Video Tuner", "Video Composite", "Video SVideo"}), RouteNames(router));
    for (const auto& route : router.Routes()) {
        ASSERT_EQ(1u, route.size());
        EXPECT_LT(route[0].inputType, 0x1000);
        EXPECT_EQ(kPhysVideoDecoder, route[0].outputType);
        EXPECT_EQ(route[0].videoInput + 3, route[0].audioInput);
    }
    int type = 0;
    EXPECT_EQ(0, router.RouteInputType(2, type));
    EXPECT_EQ(kPhysVideoSVideo, type);
    EXPECT_EQ(-1, router.RouteInputType(3, type));
    char name[6];
    EXPECT_EQ(-1, router.RouteInputName(3, name, sizeof name));
    EXPECT_EQ(-1, router.RouteInputName(0, nullptr, 10));
    EXPECT_EQ(0, router.RouteInputName(0, name, sizeof name));
    EXPECT_STREQ("Video", name);
}

TEST_F(CrossbarRouterTest, SelectingARouteSwitchesVideoAndItsRelatedAudio)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
    CrossbarRouter& router = *gCapture.router;
    EXPECT_EQ(0, router.SelectRoute(1));
    const RoutingStep& step = router.Routes()[1][0];
    EXPECT_EQ(1, step.crossbar->RoutedInput(0));
    EXPECT_EQ(4, step.crossbar->RoutedInput(1));
    int selected = -1;
    router.SelectedRoute(selected);
    EXPECT_EQ(1, selected);
    EXPECT_EQ(-1, router.SelectRoute(3));
}

TEST_F(CrossbarRouterTest, ChainedCrossbarsYieldEveryReachableInputAndRouteBoth)
{
    BuildCard({{kPhysVideoAux, kPhysVideoComposite}, {kPhysVideoTuner, kPhysVideoComposite, kPhysVideoSVideo}});
    CrossbarRouter& router = *gCapture.router;
    EXPECT_EQ((std::vector<std::string>{"Video Tuner", "Video Composite", "Video SVideo", "Video Composite"}),
              RouteNames(router));
    const auto& throughBoth = router.Routes()[2];
    ASSERT_EQ(2u, throughBoth.size());
    EXPECT_EQ(1, throughBoth[0].depth);
    EXPECT_EQ(0, throughBoth[1].depth);
    EXPECT_EQ(1, router.Routes()[3].size());

    ASSERT_EQ(0, router.SelectRoute(3));
    EXPECT_EQ(1, throughBoth[1].crossbar->RoutedInput(0));
    ASSERT_EQ(0, router.SelectRoute(2));
    EXPECT_EQ(2, throughBoth[0].crossbar->RoutedInput(0));
    EXPECT_EQ(0, throughBoth[1].crossbar->RoutedInput(0));
}

TEST_F(CrossbarRouterTest, ACardWithoutCrossbarHasNoRouterAndATunerlessOneNoTuner)
{
    AddVirtualDevice(VideoDevice("Webcam", {{640, 480}}));
    Enumerate();
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Webcam"), kNoDevice, gLiveParams.frameRate));
    EXPECT_EQ(nullptr, gCapture.router);
    EXPECT_EQ(nullptr, FindTuner());
    EXPECT_EQ(-1, TuneChannel(5, 1, 1));
}

TEST_F(CrossbarRouterTest, TuningPutsTheChannelOnTheTuner)
{
    ASSERT_EQ(0, SelectCaptureDevicesByIndex(VideoSlot("Virtual TV Tuner"), kNoDevice, gLiveParams.frameRate));
    EXPECT_EQ(0, TuneChannel(13, 1, 0));
    EXPECT_EQ(13, FindTuner()->Channel());
    int low = 0, high = 0;
    FindTuner()->ChannelMinMax(low, high);
    EXPECT_EQ(2, low);
    EXPECT_EQ(69, high);
    bool found = false;
    EXPECT_EQ(0, FindTuner()->AutoTune(9, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(0, FindTuner()->AutoTune(10, found));
    EXPECT_FALSE(found);
}

using ChannelSetupTest = CrossbarRouterTest;

TEST_F(ChannelSetupTest, ANewRecordPreselectsTheTunerRoute)
{
    BuildCard({{kPhysVideoComposite, kPhysVideoTuner, kPhysVideoSVideo}});
    ChannelRecord& record = gSettings.channels[4];
    record.editSelection = VideoSlot("Card") << 8 | 0xFF;
    ChannelSetupModel model;
    LoadChannelSetup(record, model);
    EXPECT_EQ((std::vector<std::string>{"Video Composite", "Video Tuner", "Video SVideo"}), model.routeNames);
    EXPECT_EQ(1, model.tunerRoute);
    EXPECT_EQ(1, model.videoInput);
    EXPECT_TRUE(model.tunerFound);

    record.videoCrossbarIn = 2;
    LoadChannelSetup(record, model);
    EXPECT_EQ(2, model.videoInput);
}

TEST_F(ChannelSetupTest, OkStoresTheValuesAndClearsTheUnfilledBoxes)
{
    ChannelRecord record = gSettings.channels[0];
    record.videoCrossbarOut = record.audioCrossbarIn = record.audioCrossbarOut = 3;
    ChannelSetupModel model;
    model.routeNames = {"Video Tuner", "Video Composite"};
    model.videoInput = 1;
    model.channel = 9;
    model.country = 49;
    model.antenna = false;
    model.motion = true;
    StoreChannelSetup(model, record);
    EXPECT_EQ(1, record.videoCrossbarIn);
    EXPECT_EQ(-1, record.videoCrossbarOut);
    EXPECT_EQ(-1, record.audioCrossbarIn);
    EXPECT_EQ(-1, record.audioCrossbarOut);
    EXPECT_EQ(9, record.tunerChannel);
    EXPECT_EQ(49, record.tunerCountry);
    EXPECT_EQ(0, record.tunerInputType);
    EXPECT_EQ(1, record.motionDetection);

    model.routeNames.clear();
    StoreChannelSetup(model, record);
    EXPECT_EQ(-1, record.videoCrossbarIn);
}

TEST_F(ChannelSetupTest, ARecordWithoutDevicesLoadsEmpty)
{
    ChannelRecord& record = gSettings.channels[0];
    record.tunerChannel = 7;
    ChannelSetupModel model;
    LoadChannelSetup(record, model);
    EXPECT_TRUE(model.routeNames.empty());
    EXPECT_FALSE(model.tunerFound);
    EXPECT_EQ(-1, model.videoInput);
    EXPECT_EQ(7, model.channel);
}

TEST(SpinStepTest, StaysWithinZeroToOneThousand)
{
    EXPECT_EQ(1000, StepSpinValue(1000, 1));
    EXPECT_EQ(1000, StepSpinValue(999, 5));
    EXPECT_EQ(0, StepSpinValue(0, -1));
    EXPECT_EQ(0, StepSpinValue(-1, 1));
    EXPECT_EQ(41, StepSpinValue(40, 1));
}

} // namespace
