// Live streams on the real program: it starts headless on the virtual TV
// card with a demo set-up, and this bench plays the handheld.
// - Without arguments, over loopback TCP for each quality and codec: the
//   time from the stream request to the first video chunk and to the first
//   picture a decoder can show, and the whole program's CPU over 20 s of
//   streaming. The virtual card's own rendering is measured alone, in this
//   process, so that it can be subtracted: a real card delivers by DMA.
// - "links [SECONDS]": channel 5 at quality 1 (200 + 64 kbit/s) for SECONDS
//   (default 300) over TCP and UDT, on a loopback without a limit and on
//   one limited by tc to half and a quarter of the stream's rate, each in a
//   network namespace of its own: the delay of the video chunks, how the
//   video bit rate moved, the catch-up cuts and the StopStream answer.

#include "demo_program.h"
#include "platform/capture/capture_layer.h"
#include "platform/capture/virtual_devices.h"
#include "server/protocol.h"
#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/process.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace {

constexpr int kChannel = 5;
constexpr uint8_t kSizeClass320x240 = 0x10;
constexpr int kStreamSeconds = 20;
constexpr uint32_t kVideoPayload = 8384;
constexpr uint32_t kAudioPayload = 4190;

// Feeds the video payloads to a decoder and tells when the first picture
// comes out of it.
class FirstPicture {
public:
    explicit FirstPicture(AVCodecID codec)
        : context_(avcodec_alloc_context3(avcodec_find_decoder(codec))), parser_(av_parser_init(codec)),
          packet_(av_packet_alloc()), frame_(av_frame_alloc())
    {
        avcodec_open2(context_.get(), avcodec_find_decoder(codec), nullptr);
    }

    bool Feed(const uint8_t* bytes, int count)
    {
        while (count > 0 && !shown_) {
            int used = av_parser_parse2(parser_.get(), context_.get(), &packet_->data, &packet_->size, bytes, count,
                                        AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0)
                return false;
            bytes += used;
            count -= used;
            if (packet_->size > 0 && avcodec_send_packet(context_.get(), packet_.get()) == 0)
                shown_ = avcodec_receive_frame(context_.get(), frame_.get()) == 0;
        }
        return shown_;
    }

private:
    struct FreeContext { void operator()(AVCodecContext* c) const { avcodec_free_context(&c); } };
    struct FreeParser { void operator()(AVCodecParserContext* p) const { av_parser_close(p); } };
    struct FreePacket { void operator()(AVPacket* p) const { av_packet_free(&p); } };
    struct FreeFrame { void operator()(AVFrame* f) const { av_frame_free(&f); } };
    std::unique_ptr<AVCodecContext, FreeContext> context_;
    std::unique_ptr<AVCodecParserContext, FreeParser> parser_;
    std::unique_ptr<AVPacket, FreePacket> packet_;
    std::unique_ptr<AVFrame, FreeFrame> frame_;
    bool shown_ = false;
};

struct StreamFigures {
    double reply = -1;
    double firstChunk = -1;
    double firstPicture = -1;
    double cpuPercent = -1;
};

// Reads one packet of the media stream; false when the stream broke off.
bool ReadPacket(int socket, uint32_t& header, std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> head = ReadBytes(socket, 4, 10000);
    if (head.size() != 4)
        return false;
    std::memcpy(&header, head.data(), 4);
    const uint32_t top = header >> 24;
    const uint32_t size = top == 0xCC ? header & 0xFFFFFF : (header & 0x80000000) ? kVideoPayload : kAudioPayload;
    payload = ReadBytes(socket, size, 10000);
    return payload.size() == size;
}

StreamFigures RunStream(int port, pid_t program, uint8_t quality, uint8_t codec)
{
    StreamFigures figures;
    HandheldLink link;
    if (!link.Open(port, "demo", "demo"))
        return figures;
    const Clock::time_point asked = Clock::now();
    if (link.Ask(kStartLiveStream, HandheldLink::LiveRequest(kChannel, kSizeClass320x240 | quality, 0, 0, 0, codec),
                 30000) != kStartLiveStream)
        return figures;
    figures.reply = SecondsSince(asked);
    if (ReadBytes(link.data, 4, 10000).size() != 4)
        return figures;
    FirstPicture decoder(codec == 2 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    uint32_t header = 0;
    std::vector<uint8_t> payload;
    double cpuAtFirstChunk = 0;
    Clock::time_point firstChunkAt;
    while (ReadPacket(link.data, header, payload)) {
        if (!(header & 0x80000000) || header >> 24 == 0xCC)
            continue;
        if (figures.firstChunk < 0) {
            figures.firstChunk = SecondsSince(asked);
            firstChunkAt = Clock::now();
            cpuAtFirstChunk = ProcessCpuSeconds(program);
        }
        if (figures.firstPicture < 0 && decoder.Feed(payload.data(), static_cast<int>(payload.size())))
            figures.firstPicture = SecondsSince(asked);
        if (SecondsSince(firstChunkAt) >= kStreamSeconds) {
            figures.cpuPercent = 100 * (ProcessCpuSeconds(program) - cpuAtFirstChunk) / SecondsSince(firstChunkAt);
            break;
        }
    }
    link.Ask(kStopStream, {}, 10000);
    return figures;
}

// The virtual card streaming channel 5 at 640x480 into grabbers that do
// nothing: the share of one core its rendering costs.
double CardAloneCpuPercent(int frameRate)
{
    std::shared_ptr<CaptureFilter> card;
    for (const auto& moniker : VirtualDevices(DeviceCategory::Video))
        if (moniker->FriendlyName() == "Virtual TV Tuner")
            card = moniker->Bind();
    if (!card || !card->Tuner() || card->Tuner()->SetChannel(kChannel, -1, -1) != 0 ||
        card->VideoConfig()->SetFormat({640, 480, kUnitsPerSecond / frameRate}) != 0)
        return -1;
    FilterGraph graph;
    graph.AddFilter(card, "card");
    for (MediaType media : {MediaType::Video, MediaType::Audio}) {
        auto grabber = std::make_shared<SampleGrabber>();
        grabber->SetMediaType(media);
        graph.AddFilter(grabber, media == MediaType::Video ? "video" : "audio");
        ConnectPins(*FreePin(*card, PinDirection::Output, PinCategory::None, media),
                    *FreePin(*grabber, PinDirection::Input, PinCategory::None, media));
    }
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const Clock::time_point started = Clock::now();
    graph.Run();
    std::this_thread::sleep_for(std::chrono::seconds(kStreamSeconds));
    graph.Stop();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    const double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                       seconds(before.ru_stime);
    return 100 * cpu / SecondsSince(started);
}

constexpr int kStreamKbps = 264;

int CountLines(const std::string& path, const std::string& text)
{
    std::ifstream log(path);
    int count = 0;
    for (std::string line; std::getline(log, line);)
        count += line.find(text) != std::string::npos;
    return count;
}

// One link case, in this process's own network namespace (a child's): a
// loopback limited to share of the stream's rate (0: no limit).
int LinkCaseInNamespace(const std::string& transport, double share, int seconds)
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::printf("%-4s %6.2f: this machine refuses network namespaces (%s)\n", transport.c_str(), share,
                    std::strerror(errno));
        return 1;
    }
    const std::string rate = std::to_string(static_cast<int>(kStreamKbps * share)) + "kbit";
    if (RunProcess({"/usr/sbin/ip", "link", "set", "lo", "up", "mtu", "1500"}, 10000).exitCode != 0 ||
        (share > 0 && RunProcess({"/usr/sbin/tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", rate, "burst",
                                  "16kb", "latency", "500ms"},
                                 10000)
                              .exitCode != 0)) {
        std::printf("%-4s %6.2f: the namespace's loopback could not be set up\n", transport.c_str(), share);
        return 1;
    }
    // The program's log, which names each rate change and cut, goes to a file.
    const std::string log = "/tmp/orvandel-link-bench-" + std::to_string(getpid()) + ".log";
    const int logFile = open(log.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    dup2(logFile, 2);
    close(logFile);
    DemoProgram program;
    if (!StartDemoProgram(program))
        return 1;
    const ProcessResult watched =
        RunProcess({BinPath("orvandel-handheld"), "--port", std::to_string(program.port), "--transport", transport,
                    "--user", "demo", "--password", "demo", "live", std::to_string(kChannel), "--quality", "1",
                    "--seconds", std::to_string(seconds)},
                   (seconds + 120) * 1000);
    StopDemoProgram(program);
    std::filesystem::remove_all(program.folder);
    std::printf("%-4s %7s %8s %8s %7s %6d %5d  %s\n", transport.c_str(),
                share > 0 ? std::to_string(static_cast<int>(kStreamKbps * share)).c_str() : "-",
                watched.Value("video_delay_median_ms").c_str(), watched.Value("video_delay_worst_ms").c_str(),
                watched.Value("stop_answer_ms").c_str(), CountLines(log, "live video now at"),
                CountLines(log, "dropped to catch up"), watched.Value("video_kbps_each_10s").c_str());
    std::fflush(stdout);
    std::filesystem::remove(log);
    return 0;
}

int RunLinks(int seconds)
{
    std::printf("Channel 5 at quality 1 (%d kbit/s), %d s per case. Delay: a video chunk's arrival after the\n"
                "stream's start less its time stamp. Changes: video bit rate changes; cuts: catch-up cuts.\n",
                kStreamKbps, seconds);
    std::printf("%-4s %7s %8s %8s %7s %6s %5s  %s\n", "via", "kbit/s", "median", "worst", "stop", "changes",
                "cuts", "video kbit/s in each 10 s");
    std::printf("%-4s %7s %8s %8s %7s\n", "", "link", "(ms)", "(ms)", "(ms)");
    std::fflush(stdout);
    for (const char* transport : {"tcp", "udt"})
        for (double share : {0.0, 0.5, 0.25}) {
            const pid_t child = fork();
            if (child == 0)
                _exit(LinkCaseInNamespace(transport, share, seconds));
            waitpid(child, nullptr, 0);
        }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "links")
        return RunLinks(argc > 2 ? std::atoi(argv[2]) : 300);
    av_log_set_level(AV_LOG_QUIET);
    DemoProgram program;
    if (!StartDemoProgram(program)) {
        std::fprintf(stderr, "live_bench: the program did not start\n");
        return 1;
    }
    std::printf("Live streams of channel 5 (virtual TV card, 640x480 capture) at 320x240, loopback TCP\n");
    std::printf("%-8s %-8s %10s %14s %16s %12s\n", "codec", "quality", "reply (s)", "1st chunk (s)",
                "1st picture (s)", "CPU (%)");
    const struct { const char* name; uint8_t selector; } codecs[] = {{"MPEG-4", 0}, {"H.264", 2}};
    for (const auto& codec : codecs) {
        for (uint8_t quality = 0; quality <= 2; ++quality) {
            StreamFigures f = RunStream(program.port, program.pid, quality, codec.selector);
            std::printf("%-8s %-8d %10.2f %14.2f %16.2f %12.1f\n", codec.name, quality, f.reply, f.firstChunk,
                        f.firstPicture, f.cpuPercent);
            std::fflush(stdout);
        }
    }
    StopDemoProgram(program);
    std::printf("The virtual card alone, rendering 640x480 for %d s: %.1f %% at 15 frames/s, %.1f %% at 24\n",
                kStreamSeconds, CardAloneCpuPercent(15), CardAloneCpuPercent(24));
    std::filesystem::remove_all(program.folder);
    return 0;
}
