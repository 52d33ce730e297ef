#include "platform/capture/channel_tables.h"
#include "platform/capture/frame_convert.h"
#include "platform/capture/hardware_devices.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

TEST(ChannelPlanTest, CountryAndInputTypeChooseThePlan)
{
    EXPECT_EQ(ChannelPlan::NorthAmericaBroadcast, PlanFor(1, 1));
    EXPECT_EQ(ChannelPlan::NorthAmericaCable, PlanFor(1, 0));
    EXPECT_EQ(ChannelPlan::WesternEurope, PlanFor(49, 1));
    EXPECT_EQ(ChannelPlan::WesternEurope, PlanFor(31, 0));
    EXPECT_EQ(ChannelPlan::None, PlanFor(33, 1));
    int low = 0, high = 0;
    EXPECT_EQ(-1, PlanChannelRange(ChannelPlan::None, low, high));
    ASSERT_EQ(0, PlanChannelRange(ChannelPlan::NorthAmericaCable, low, high));
    EXPECT_EQ(1, low);
    EXPECT_EQ(158, high);
    ASSERT_EQ(0, PlanChannelRange(ChannelPlan::WesternEurope, low, high));
    EXPECT_EQ(2, low);
    EXPECT_EQ(69, high);
}

TEST(ChannelPlanTest, NorthAmericanBroadcastCarriers)
{
    const ChannelPlan plan = ChannelPlan::NorthAmericaBroadcast;
    EXPECT_EQ(55250, ChannelFrequencyKhz(plan, 2));
    EXPECT_EQ(67250, ChannelFrequencyKhz(plan, 4));
    EXPECT_EQ(77250, ChannelFrequencyKhz(plan, 5));
    EXPECT_EQ(175250, ChannelFrequencyKhz(plan, 7));
    EXPECT_EQ(211250, ChannelFrequencyKhz(plan, 13));
    EXPECT_EQ(471250, ChannelFrequencyKhz(plan, 14));
    EXPECT_EQ(801250, ChannelFrequencyKhz(plan, 69));
    EXPECT_EQ(-1, ChannelFrequencyKhz(plan, 1));
    EXPECT_EQ(-1, ChannelFrequencyKhz(plan, 70));
}

TEST(ChannelPlanTest, NorthAmericanCableCarriers)
{
    const ChannelPlan plan = ChannelPlan::NorthAmericaCable;
    EXPECT_EQ(73250, ChannelFrequencyKhz(plan, 1));
    EXPECT_EQ(61250, ChannelFrequencyKhz(plan, 3));
    EXPECT_EQ(121250, ChannelFrequencyKhz(plan, 14));
    EXPECT_EQ(169250, ChannelFrequencyKhz(plan, 22));
    EXPECT_EQ(217250, ChannelFrequencyKhz(plan, 23));
    EXPECT_EQ(301250, ChannelFrequencyKhz(plan, 37));
    EXPECT_EQ(643250, ChannelFrequencyKhz(plan, 94));
    EXPECT_EQ(91250, ChannelFrequencyKhz(plan, 95));
    EXPECT_EQ(649250, ChannelFrequencyKhz(plan, 100));
    EXPECT_EQ(997250, ChannelFrequencyKhz(plan, 158));
}

TEST(ChannelPlanTest, WesternEuropeanCarriers)
{
    const ChannelPlan plan = ChannelPlan::WesternEurope;
    EXPECT_EQ(48250, ChannelFrequencyKhz(plan, 2));
    EXPECT_EQ(62250, ChannelFrequencyKhz(plan, 4));
    EXPECT_EQ(175250, ChannelFrequencyKhz(plan, 5));
    EXPECT_EQ(224250, ChannelFrequencyKhz(plan, 12));
    EXPECT_EQ(-1, ChannelFrequencyKhz(plan, 13));
    EXPECT_EQ(471250, ChannelFrequencyKhz(plan, 21));
    EXPECT_EQ(855250, ChannelFrequencyKhz(plan, 69));
}

TEST(ChannelPlanTest, TunerUnits)
{
    EXPECT_EQ(884u, TunerUnitsOfKhz(55250, false));  // 62.5 kHz steps
    EXPECT_EQ(884000u, TunerUnitsOfKhz(55250, true)); // 62.5 Hz steps
}

TEST(V4l2InputTest, InputsBecomeConnectorTypesByTypeAndName)
{
    EXPECT_EQ(kPhysVideoTuner, V4l2InputPhysicalType(V4L2_INPUT_TYPE_TUNER, "Television"));
    EXPECT_EQ(kPhysVideoTuner, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "Tuner 1"));
    EXPECT_EQ(kPhysVideoComposite, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "Composite1"));
    EXPECT_EQ(kPhysVideoSVideo, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "S-Video"));
    EXPECT_EQ(kPhysVideoSVideo, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "SVIDEO 2"));
    EXPECT_EQ(kPhysVideoYRYBY, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "Component"));
    EXPECT_EQ(kPhysVideoSerialDigital, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "HDMI"));
    EXPECT_EQ(kPhysVideoComposite, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "Camera 1"));
    EXPECT_EQ(kPhysVideoAux, V4l2InputPhysicalType(V4L2_INPUT_TYPE_CAMERA, "Input 3"));
}

TEST(FrameConvertTest, RgbBecomesBottomUpBgr)
{
    // Two rows of two pixels: red, green over blue, white.
    const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    std::vector<uint8_t> out(12);
    FrameConverter converter;
    ASSERT_EQ(0, converter.Convert(V4L2_PIX_FMT_RGB24, 2, 2, 0, rgb.data(), rgb.size(), out.data()));
    const std::vector<uint8_t> expected = {255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0};
    EXPECT_EQ(expected, out);
}

TEST(FrameConvertTest, PaddedYuyvRowsConvert)
{
    // 4 x 2 pixels, rows padded to 12 bytes: a white row over a black one.
    const std::vector<uint8_t> yuyv = {235, 128, 235, 128, 235, 128, 235, 128, 0, 0, 0, 0,
                                       16,  128, 16,  128, 16,  128, 16,  128, 0, 0, 0, 0};
    std::vector<uint8_t> out(4 * 2 * 3);
    FrameConverter converter;
    ASSERT_EQ(0, converter.Convert(V4L2_PIX_FMT_YUYV, 4, 2, 12, yuyv.data(), yuyv.size(), out.data()));
    for (int i = 0; i < 12; ++i) {
        EXPECT_LE(out[i], 8) << i;        // bottom row first: black
        EXPECT_GE(out[12 + i], 247) << i; // then the white top row
    }
}

TEST(FrameConvertTest, UnknownFormatsAndShortPicturesFail)
{
    std::vector<uint8_t> picture(8, 0);
    std::vector<uint8_t> out(4 * 2 * 3);
    FrameConverter converter;
    EXPECT_EQ(-1, converter.Convert(V4L2_PIX_FMT_MJPEG, 4, 2, 0, picture.data(), picture.size(), out.data()));
    EXPECT_EQ(-1, converter.Convert(V4L2_PIX_FMT_YUYV, 4, 2, 0, picture.data(), picture.size(), out.data()));
}

// In a mount namespace of the test's own, /dev holds one video node whose
// driver is absent: listing the devices skips it and logs the node and the
// system's reason. Runs in a child, whose standard error is the log.
TEST(V4l2DevicesTest, ANodeThatCannotBeOpenedIsLoggedWithTheReason)
{
    int output[2];
    ASSERT_EQ(0, pipe(output));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(output[1], STDERR_FILENO);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/dev", "tmpfs", 0, "size=64k") != 0 ||
            mknod("/dev/video0", S_IFCHR | 0600, makedev(81, 250)) != 0)
            _exit(2);
        if (open("/dev/video0", O_RDWR | O_NONBLOCK) >= 0)
            _exit(3);
        std::fprintf(stderr, "errno %d\n", errno);
        _exit(V4l2Devices().empty() ? 0 : 4);
    }
    close(output[1]);
    std::string log;
    char buffer[4096];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;)
        log.append(buffer, static_cast<size_t>(got));
    close(output[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "this machine refuses a mount namespace with its own /dev";
    ASSERT_EQ(0, WEXITSTATUS(status)) << log;
    int error = 0;
    ASSERT_EQ(1, std::sscanf(log.c_str(), "errno %d", &error)) << log;
    EXPECT_NE(std::string::npos, log.find("/dev/video0: opening failed: " + std::string(std::strerror(error))))
        << log;
}

} // namespace
