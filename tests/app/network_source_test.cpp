// Network sources with the real program: a network tuner that an ffmpeg
// process serves over HTTP as MPEG-TS, watched on the handheld and recorded
// while it drops and comes back; a source that never answers; and IP
// cameras (GStreamer's RTSP server) watched for motion.

#include "config/network_sources.h"
#include "config/settings.h"
#include "server/protocol.h"
#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/program_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStreetChannel = 7;
constexpr int kSilentChannel = 8;
constexpr uint8_t kQuality0 = 0x10;

struct Rgb {
    int red = -1;
    int green = -1;
    int blue = -1;
};

// The mean colour of one picture of a media file: the first picture from
// fromSeconds on, or from that many seconds before its end when negative.
Rgb MeanColour(const std::string& path, double fromSeconds)
{
    std::vector<std::string> argv = {"/usr/bin/ffmpeg", "-v", "error"};
    argv.insert(argv.end(), {fromSeconds < 0 ? "-sseof" : "-ss", std::to_string(fromSeconds)});
    argv.insert(argv.end(), {"-i", path, "-frames:v", "1", "-vf", "scale=1:1:flags=area", "-f", "rawvideo",
                             "-pix_fmt", "rgb24", "-"});
    const ProcessResult result = RunProcess(argv, 30000);
    if (result.output.size() != 3)
        return {};
    const auto byte = [&](int i) { return static_cast<int>(static_cast<uint8_t>(result.output[i])); };
    return {byte(0), byte(1), byte(2)};
}

bool IsRed(const Rgb& colour)
{
    return colour.red > 170 && colour.green < 70 && colour.blue < 70;
}

bool IsBlue(const Rgb& colour)
{
    return colour.blue > 170 && colour.red < 70 && colour.green < 70;
}

std::string Describe(const Rgb& colour)
{
    return std::to_string(colour.red) + "," + std::to_string(colour.green) + "," + std::to_string(colour.blue);
}

// A port that takes connections and never says a word.
class SilentServer {
public:
    SilentServer() : socket_(ListenOnLoopback(4, port_)) {}
    ~SilentServer() { ::close(socket_); }
    int Port() const { return port_; }

private:
    int port_ = 0;
    int socket_;
};

class NetworkSourceTest : public RunningProgramTest {
protected:
    void SetUp() override
    {
        port = FreePortTriple();
        sourcePort = FreePortTriple();
        log = config.Root() + "/program.log";
        launcher = {"/bin/sh", "-c", "exec \"$@\" 2>>" + log, "sh"};
        ASSERT_EQ(0, SaveNetworkSources({{"Street", "http://127.0.0.1:" + std::to_string(sourcePort) + "/", true},
                                         {"Silent", "http://127.0.0.1:" + std::to_string(silent.Port()) + "/", true}}));
        adjustSettings = [] {
            PutChannelOn(kStreetChannel, "Street");
            PutChannelOn(kSilentChannel, "Silent");
        };
        ASSERT_TRUE(StartProgram());
    }

    void TearDown() override
    {
        StopSource();
        RunningProgramTest::TearDown();
    }

    static void PutChannelOn(int index, const char* device)
    {
        ChannelRecord& channel = gSettings.channels[index];
        channel.enabled = 1;
        std::snprintf(channel.videoDeviceName, sizeof channel.videoDeviceName, "%s", device);
        std::snprintf(channel.audioDeviceName, sizeof channel.audioDeviceName, "%s", device);
        channel.videoDevice = channel.audioDevice = 0;
        channel.videoCrossbarIn = 0;
        channel.tunerChannel = -1;
        std::snprintf(channel.description, sizeof channel.description, "%s", device);
    }

    // A network tuner: a picture of one colour, with grain enough to fill the
    // stream's chunks, and a tone, in real time, served to one client at a
    // time.
    void StartSource(const std::string& colour)
    {
        source = StartProcess({"/usr/bin/ffmpeg", "-v", "error", "-re", "-f", "lavfi", "-i",
                               "color=c=" + colour + ":s=320x240:r=25,noise=alls=30:allf=t", "-f", "lavfi", "-i",
                               "sine=frequency=440:sample_rate=44100", "-c:v", "mpeg2video", "-g", "12", "-c:a", "mp2",
                               "-f", "mpegts", "-listen", "1",
                               "http://127.0.0.1:" + std::to_string(sourcePort) + "/"});
        const auto started = Clock::now();
        while (!TcpPortListening(sourcePort) && Clock::now() - started < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    void StopSource()
    {
        if (source <= 0)
            return;
        ::kill(source, SIGKILL);
        ::waitpid(source, nullptr, 0);
        source = -1;
    }

    int LogCount(const std::string& text) const { return CountInFile(log, text); }

    SilentServer silent;
    int sourcePort = 0;
    pid_t source = -1;
    std::string log;
};

TEST_F(NetworkSourceTest, AStreamFromAnHttpSourceShowsItsColours)
{
    StartSource("red");
    const ProcessResult result = Handheld({"live", std::to_string(kStreetChannel), "--quality", "0", "--codec",
                                           "mpeg4", "--seconds", "6", "--out", config.Root() + "/street"},
                                          60000);
    ASSERT_EQ("0xD4", result.Value("stream_code")) << result.output << ReadFileBytes(log);
    const std::string video = config.Root() + "/street.m4v";
    EXPECT_GT(ProbeFile(video).frames, 15 * 3) << ReadFileBytes(log);
    const Rgb colour = MeanColour(video, 3);
    EXPECT_TRUE(IsRed(colour)) << Describe(colour);
    EXPECT_EQ("mp3", ProbeFile(config.Root() + "/street.mp3").codec) << "the source's sound";
}

// The recording goes on through the drop with the last picture, and the
// source's new picture is in it within 10 s of its return.
TEST_F(NetworkSourceTest, ARecordingGoesOnThroughADropAndTakesTheSourceBack)
{
    StartSource("red");
    HandheldLink link;
    ASSERT_TRUE(link.Open(port, "viewer", "secret"));
    ASSERT_EQ(kStartRecording, link.Ask(kStartRecording, HandheldLink::Int32(kStreetChannel), 20000))
        << ReadFileBytes(log);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    StopSource();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    StartSource("blue");
    const auto returned = Clock::now();
    while (LogCount("\"Street\" is back") == 0 && Clock::now() - returned < std::chrono::seconds(12))
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double backAfter = std::chrono::duration<double>(Clock::now() - returned).count();
    std::printf("the source was back in the recording %.1f s after its return\n", backAfter);
    EXPECT_LE(backAfter, 10.0) << ReadFileBytes(log);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(kStopRecording, link.Ask(kStopRecording, {}, 15000));

    EXPECT_EQ(1, LogCount("The network source \"Street\" dropped")) << ReadFileBytes(log);
    const std::vector<std::string> files = Recordings(kStreetChannel);
    ASSERT_EQ(1u, files.size());
    const Rgb first = MeanColour(files[0], 2);
    const Rgb last = MeanColour(files[0], -1);
    EXPECT_TRUE(IsRed(first)) << Describe(first);
    EXPECT_TRUE(IsBlue(last)) << Describe(last);
    // 4 s before the drop, at least 4 s away, 3 s after the return.
    EXPECT_GE(ProbeFile(files[0], "v:0").frames, 10 * 10) << "the pictures went on meanwhile";
}

TEST_F(NetworkSourceTest, ASourceThatNeverAnswersIsRefusedInTimeAndStopsNothing)
{
    HandheldLink link;
    ASSERT_TRUE(link.Open(port, "viewer", "secret"));
    const auto asked = Clock::now();
    EXPECT_EQ(kRefused, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(kSilentChannel, kQuality0), 30000));
    const double refusedAfter = std::chrono::duration<double>(Clock::now() - asked).count();
    EXPECT_LE(refusedAfter, kSourceOpenLimitMs / 1000.0 + 3);
    EXPECT_EQ(1, LogCount("The network source \"Silent\" (http://127.0.0.1:" + std::to_string(silent.Port()) +
                          "/) could not be opened: no answer in time."))
        << ReadFileBytes(log);

    StartSource("red");
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(kStreetChannel, kQuality0), 20000));
    EXPECT_GE(link.DrainData(8388, 10000), 8388u) << "the next source streams";
    const auto stopping = Clock::now();
    EXPECT_EQ(kStopStream, link.Ask(kStopStream, {}, 10000));
    EXPECT_LE(std::chrono::duration<double>(Clock::now() - stopping).count(), 2.0);
}

// Two cameras serving files over RTSP: one sees a moving picture, the
// other a still one. Both channels are watched for motion, and motion
// starts a recording.
class CameraTest : public NetworkSourceTest {
protected:
    void SetUp() override
    {
        port = FreePortTriple();
        log = config.Root() + "/program.log";
        launcher = {"/bin/sh", "-c", "exec \"$@\" 2>>" + log, "sh"};
        const int cameraPort = FreePortTriple();
        const int stillPort = FreePortTriple();
        StartCamera(cameraPort, "testsrc2=s=320x240:r=25", "moving");
        StartCamera(stillPort, "color=c=gray:s=320x240:r=25", "still");
        ASSERT_EQ(0, SaveNetworkSources({{"Camera", "rtsp://127.0.0.1:" + std::to_string(cameraPort) + "/camera", false},
                                         {"Still", "rtsp://127.0.0.1:" + std::to_string(stillPort) + "/camera", false}}));
        adjustSettings = [] {
            PutChannelOn(kStreetChannel, "Camera");
            PutChannelOn(kSilentChannel, "Still");
            gSettings.channels[kStreetChannel].audioDeviceName[0] = 0;
            gSettings.channels[kSilentChannel].audioDeviceName[0] = 0;
            gSettings.channels[kStreetChannel].motionDetection = 1;
            gSettings.channels[kSilentChannel].motionDetection = 1;
            gSettings.record.recordOnMotion = 1;
        };
        ASSERT_TRUE(StartProgram());
    }

    void TearDown() override
    {
        NetworkSourceTest::TearDown();
        for (pid_t camera : cameras) {
            ::kill(camera, SIGTERM);
            ::waitpid(camera, nullptr, 0);
        }
    }

    void StartCamera(int cameraPort, const std::string& picture, const std::string& name)
    {
        const std::string file = config.Root() + "/" + name + ".mp4";
        // Made fast, so that it takes little from the tests that run beside.
        ASSERT_EQ(0, RunProcess({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", picture, "-t", "60", "-c:v",
                                 "libx264", "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p", file},
                                60000)
                         .exitCode);
        cameras.push_back(StartProcess({"/usr/bin/python3", std::string(ORVANDEL_TEST_SUPPORT_DIR) + "/rtsp_camera.py",
                                        std::to_string(cameraPort), file}));
        const auto started = Clock::now();
        while (!TcpPortListening(cameraPort) && Clock::now() - started < std::chrono::seconds(20))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(TcpPortListening(cameraPort)) << "the RTSP server did not start";
    }

    // A flag byte of a reply: the motion flag, or the recording flag.
    int Flag(HandheldLink& link, uint8_t command, size_t at)
    {
        std::vector<uint8_t> body;
        return link.Ask(command, {}, 5000, &body) == command && body.size() > at ? body[at] : -1;
    }

    std::vector<pid_t> cameras;
};

TEST_F(CameraTest, AMovingCameraReportsMotionAndRecordsItAStillOneDoesNot)
{
    HandheldLink link;
    ASSERT_TRUE(link.Open(port, "viewer", "secret"));
    ASSERT_EQ(kStartLiveStream, link.Ask(kStartLiveStream, HandheldLink::LiveRequest(kStreetChannel, kQuality0), 20000))
        << ReadFileBytes(log);
    EXPECT_GE(link.DrainData(8388 * 2, 10000), 8388u * 2) << "the camera streams";
    ASSERT_EQ(kStopStream, link.Ask(kStopStream, {}, 10000));

    ASSERT_EQ(kStartMonitoring, link.Ask(kStartMonitoring, HandheldLink::Int32(kSilentChannel), 20000))
        << ReadFileBytes(log);
    // The first comparison comes some 15 s in.
    std::this_thread::sleep_for(std::chrono::seconds(18));
    EXPECT_EQ(0, Flag(link, kGetMotionStatus, 0)) << "the still camera";

    ASSERT_EQ(kStartMonitoring, link.Ask(kStartMonitoring, HandheldLink::Int32(kStreetChannel), 20000));
    const auto since = Clock::now();
    while (Flag(link, kGetMotionStatus, 0) != 1 && Clock::now() - since < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(1, Flag(link, kGetMotionStatus, 0)) << "the moving camera";
    while (Flag(link, kGetRecordingStatus, 3) != 1 && Clock::now() - since < std::chrono::seconds(45))
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(1, Flag(link, kGetRecordingStatus, 3)) << "motion started a recording";
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(kStopRecording, link.Ask(kStopRecording, {}, 15000));
    EXPECT_EQ(kStopStream, link.Ask(kStopStream, {}, 10000));

    const std::vector<std::string> files = Recordings(kStreetChannel);
    ASSERT_EQ(1u, files.size());
    EXPECT_GT(ProbeFile(files[0], "v:0").frames, 0) << "the recording plays";
}

} // namespace
