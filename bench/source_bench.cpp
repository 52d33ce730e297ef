// Network sources: a network tuner that an ffmpeg process serves over HTTP as
// MPEG-TS (H.264 and AAC at 640x480, 25 pictures a second, in real time).
// Run by hand; it prints its figures.
// - the time from StartLiveStream to the first video chunk on the real
//   program, over several rounds;
// - the share of one core that reading, decoding and delivering the source
//   costs, measured in this process with the source's filter alone, for a
//   moving test picture and for a picture with heavy grain;
// - how long after the source's return its pictures are delivered again,
//   after it was away for 3 s and for 10 s.

#include "demo_program.h"
#include "platform/capture/capture_layer.h"
#include "platform/capture/network_source.h"
#include "server/protocol.h"
#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/process.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kChannel = 7;
constexpr uint8_t kQuality0At320x240 = 0x10;
constexpr int kRounds = 5;
constexpr int kCpuSeconds = 20;

// The source's stream, made once so that serving it costs next to nothing:
// "moving", a test picture that moves, or a colour with heavy grain, whose
// bit rate is high.
std::string SourceFile(const std::string& picture)
{
    static const std::string folder = [] {
        char name[] = "/tmp/orvandel-source-bench.XXXXXX";
        return std::string(mkdtemp(name) ? name : "/tmp");
    }();
    const std::string path = folder + "/" + picture + ".ts";
    if (std::filesystem::exists(path))
        return path;
    const std::string video =
        picture == "moving" ? "testsrc2=s=640x480:r=25" : "color=c=" + picture + ":s=640x480:r=25,noise=alls=20:allf=t";
    RunProcess({"/usr/bin/ffmpeg", "-v", "quiet", "-f", "lavfi", "-i", video, "-f", "lavfi", "-i",
                "sine=frequency=440:sample_rate=48000", "-t", "30", "-c:v", "libx264", "-preset", "veryfast", "-tune",
                "zerolatency", "-g", "25", "-c:a", "aac", "-f", "mpegts", path},
               120000);
    return path;
}

class SourceServer {
public:
    explicit SourceServer(int port) : port_(port) {}
    ~SourceServer() { Stop(); }

    bool Start(const std::string& picture)
    {
        const std::string file = SourceFile(picture);
        pid_ = StartProcess({"/usr/bin/ffmpeg", "-v", "quiet", "-re", "-stream_loop", "-1", "-i", file, "-c", "copy",
                             "-f", "mpegts", "-listen", "1", Url()});
        const Clock::time_point started = Clock::now();
        while (!TcpPortListening(port_) && SecondsSince(started) < 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return TcpPortListening(port_);
    }

    void Stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    int port_;
    pid_t pid_ = -1;
};

bool RunSetup(const DemoProgram& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv = {"/usr/bin/env", "HOME=" + program.folder,
                                     "XDG_CONFIG_HOME=" + program.folder + "/config", BinPath("orvandel-setup")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunProcess(argv, 30000).exitCode == 0;
}

// Seconds from the request to the first video chunk; -1 when none came.
double FirstVideoChunk(int port)
{
    HandheldLink link;
    if (!link.Open(port, "demo", "demo"))
        return -1;
    const Clock::time_point asked = Clock::now();
    if (link.Ask(kStartLiveStream, HandheldLink::LiveRequest(kChannel, kQuality0At320x240), 30000) != kStartLiveStream)
        return -1;
    double seconds = -1;
    while (seconds < 0 && SecondsSince(asked) < 20) {
        const std::vector<uint8_t> head = ReadBytes(link.data, 4, 10000);
        if (head.size() != 4)
            break;
        uint32_t header = 0;
        std::memcpy(&header, head.data(), 4);
        if (header >> 24 == 0xCC) {
            ReadBytes(link.data, header & 0xFFFFFF, 10000);
            continue;
        }
        const bool video = (header & 0x80000000) != 0;
        ReadBytes(link.data, video ? 8384 : 4190, 10000);
        if (video)
            seconds = SecondsSince(asked);
    }
    link.Ask(kStopStream, {}, 10000);
    return seconds;
}

void MeasureStarts()
{
    DemoProgram program;
    if (!StartDemoProgram(program)) {
        std::printf("the program did not start\n");
        return;
    }
    StopDemoProgram(program);
    SourceServer server(FreePortTriple());
    if (!RunSetup(program, {"source", "add", "Street", server.Url()}) ||
        !RunSetup(program, {"channel", std::to_string(kChannel), "--video", "Street", "--audio", "Street", "--input",
                            "Tuner"}) ||
        !StartDemoProgram(program)) {
        std::printf("the source could not be set up\n");
        return;
    }
    std::vector<double> starts;
    for (int round = 0; round < kRounds; ++round) {
        if (!server.Start("red"))
            break;
        starts.push_back(FirstVideoChunk(program.port));
        server.Stop();
    }
    StopDemoProgram(program);
    std::sort(starts.begin(), starts.end());
    std::printf("StartLiveStream -> first video chunk, HTTP MPEG-TS source (%zu rounds):", starts.size());
    for (double seconds : starts)
        std::printf(" %.2f", seconds);
    if (!starts.empty())
        std::printf(" s; median %.2f s\n", starts[starts.size() / 2]);
}

// Remembers when the middle of the picture first showed the colour awaited.
class ColourWatch : public GrabberCallback {
public:
    void Await(bool blue)
    {
        awaitBlue_ = blue;
        seen_ = false;
    }
    int BufferCB(double, const uint8_t* buffer, int length) override
    {
        ++pictures_;
        const int middle = length / 2 / 3 * 3;
        const bool blue = buffer && buffer[middle] > 150 && buffer[middle + 2] < 100;
        const bool red = buffer && buffer[middle + 2] > 150 && buffer[middle] < 100;
        if (!seen_ && (awaitBlue_ ? blue : red)) {
            seenAt_ = Clock::now();
            seen_ = true;
        }
        return 0;
    }
    bool Seen() const { return seen_; }
    Clock::time_point SeenAt() const { return seenAt_; }
    int Pictures() const { return pictures_; }

private:
    std::atomic<bool> awaitBlue_{false};
    std::atomic<bool> seen_{false};
    Clock::time_point seenAt_;
    std::atomic<int> pictures_{0};
};

double CpuSecondsOfThisProcess()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void PrintCpu(const char* picture, const ColourWatch& watch)
{
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double cpuBefore = CpuSecondsOfThisProcess();
    const int picturesBefore = watch.Pictures();
    const Clock::time_point measured = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kCpuSeconds));
    const double seconds = SecondsSince(measured);
    std::printf("one source at 640x480, 25 pictures/s (H.264 + AAC), %s: %.1f %% of one core, %.1f pictures/s "
                "delivered\n",
                picture, 100 * (CpuSecondsOfThisProcess() - cpuBefore) / seconds,
                (watch.Pictures() - picturesBefore) / seconds);
}

void MeasureSourceAlone()
{
    SourceServer server(FreePortTriple());
    SetNetworkSources({{"Street", server.Url(), true}});
    const std::shared_ptr<CaptureFilter> source = NetworkSourceDevices().at(0)->Bind();
    if (!server.Start("moving") || source->VideoConfig()->SetFormat({640, 480, kUnitsPerSecond / 25}) != 0) {
        std::printf("the source could not be served\n");
        return;
    }
    FilterGraph graph;
    graph.AddFilter(source, "source");
    ColourWatch watch;
    for (MediaType media : {MediaType::Video, MediaType::Audio}) {
        auto grabber = std::make_shared<SampleGrabber>();
        grabber->SetMediaType(media);
        if (media == MediaType::Video)
            grabber->SetCallback(&watch);
        graph.AddFilter(grabber, media == MediaType::Video ? "video" : "audio");
        ConnectPins(*FreePin(*source, PinDirection::Output, PinCategory::None, media),
                    *FreePin(*grabber, PinDirection::Input, PinCategory::None, media));
    }
    if (graph.Run() != 0) {
        std::printf("the source did not start: %s\n", source->StartFailure().c_str());
        return;
    }
    PrintCpu("a moving test picture", watch);
    server.Stop();
    watch.Await(false);
    server.Start("red");
    const Clock::time_point restarted = Clock::now();
    while (!watch.Seen() && SecondsSince(restarted) < 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PrintCpu("a red picture with heavy grain (a high bit rate)", watch);

    bool blue = false;
    for (int away : {3, 10}) {
        // Steady first: a source that drops again soon after its return
        // goes on with its backoff.
        std::this_thread::sleep_for(std::chrono::seconds(kSourceSteadySeconds + 1));
        server.Stop();
        std::this_thread::sleep_for(std::chrono::seconds(away));
        blue = !blue;
        watch.Await(blue);
        server.Start(blue ? "blue" : "red");
        const Clock::time_point returned = Clock::now();
        while (!watch.Seen() && SecondsSince(returned) < 40)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::printf("away %d s: pictures again %.1f s after the source's return\n", away,
                    watch.Seen() ? std::chrono::duration<double>(watch.SeenAt() - returned).count() : -1.0);
    }
    graph.Stop();
}

} // namespace

int main()
{
    av_log_set_level(AV_LOG_QUIET);
    for (const char* picture : {"moving", "red", "blue"})
        std::printf("source stream \"%s\": %.1f Mbit/s\n", picture,
                    std::filesystem::file_size(SourceFile(picture)) * 8 / 30.0 / 1e6);
    MeasureStarts();
    MeasureSourceAlone();
    return 0;
}
