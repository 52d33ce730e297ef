// CPU per frame of the live video path against the ffmpeg command-line tool
// on the same raw frames, and the latency from a frame's sample time to the
// arrival of its chunk at a handheld on loopback.

#include "shared/resources.h"
#include "shared/server_state.h"
#include "encode/live_encoder.h"
#include "shared/live_params.h"
#include "encode/live_setup.h"
#include "encode/stream_buffers.h"
#include "server/net_state.h"
#include "server/sender.h"
#include "bench_stats.h"
#include "tool_cost.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrameBytes = kWidth * kHeight * 3;
constexpr int kFrames = 300;
constexpr int kFrameRate = 25;

struct Codec {
    const char* name;
    uint8_t selector;
    int bitRate;
    const char* commandLine;  // encoder options of the ffmpeg tool matching ours, but for the threads
};

const Codec kCodecs[] = {
    {"MPEG-4 100 kbit/s", 0, 100000, "-c:v mpeg4 -b:v 100k -bt 4000k -g 60 -f m4v"},
    {"H.264 300 kbit/s", 2, 300000,
     "-c:v libx264 -b:v 300k -bt 4000k -g 60 -coder 0 -trellis 1 -refs 3 -qmin 10 -qmax 51 "
     "-i_qfactor 0.71 -flags +loop -bf 0 -rc-lookahead 0 -x264-params subme=6:mixed-refs=1:sliced-threads=1 -f h264"},
};

// A moving picture: diagonal colour bands drifting, a bright block crossing.
std::vector<uint8_t> RenderFrames()
{
    std::vector<uint8_t> frames(static_cast<size_t>(kFrameBytes) * kFrames);
    for (int f = 0; f < kFrames; ++f) {
        uint8_t* frame = frames.data() + static_cast<size_t>(f) * kFrameBytes;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                uint8_t* pixel = frame + (y * kWidth + x) * 3;
                const bool block = std::abs(x - (f * 4) % kWidth) < 40 && std::abs(y - 240) < 40;
                pixel[0] = block ? 250 : static_cast<uint8_t>((x + y + f * 3) & 0xFF);
                pixel[1] = block ? 250 : static_cast<uint8_t>((x * 2 - f * 2) & 0xFF);
                pixel[2] = block ? 250 : static_cast<uint8_t>((y * 3 + f) & 0xFF);
            }
        }
    }
    return frames;
}

void OpenEncoder(const Codec& codec, int frameRate)
{
    ResetStreamBuffers();
    SetDefaultEncoderParams();
    gCapture.format.width = kWidth;
    gCapture.format.height = kHeight;
    gLiveParams.videoCodec = codec.selector;
    gLiveParams.videoBitRate = codec.bitRate;
    gLiveParams.frameRate = static_cast<uint8_t>(frameRate);
    gLiveEncoder.outputWidth = 320;
    gLiveEncoder.outputHeight = 240;
    SetStreaming(true);
    if (OpenLiveEncoder(true, false) != 0)
        std::exit(1);
}

// Drops what the encoder appended, as a sender that keeps up would.
void DiscardVideo()
{
    std::lock_guard hold(gStream.lock);
    gStream.video.fullness = 0;
}

// The cost of encoding the first count frames and closing the encoder
// again. The opening is left out: after the tool's fork, its first write to
// each page of the rings costs a fault that has nothing to do with encoding.
double OrvandelCpuSeconds(const Codec& codec, const std::vector<uint8_t>& frames, int count)
{
    OpenEncoder(codec, kFrameRate);
    const double start = ProcessCpuSeconds();
    for (int f = 0; f < count; ++f) {
        gLatestVideoSample = {frames.data() + static_cast<size_t>(f) * kFrameBytes, kFrameBytes};
        EncodeVideoSample(static_cast<double>(f) / kFrameRate);
        DiscardVideo();
    }
    CloseLiveEncoder();
    return ProcessCpuSeconds() - start;
}

double ToolCpuSeconds(const Codec& codec, const std::string& rawPath, int count, int threads)
{
    const std::string command = "exec ffmpeg -loglevel error -y -f rawvideo -pix_fmt bgr24 -s 640x480 -r 25 -i " +
                                rawPath + " -frames:v " + std::to_string(count) +
                                " -vf vflip,scale=320:240:flags=bicubic -threads " + std::to_string(threads) + " " +
                                codec.commandLine + " /dev/null";
    const RunCost cost = RunCommandCost(command);
    return cost.cpuSeconds < 0 ? NAN : cost.cpuSeconds;
}

// Each side's cost per frame is the difference between runs of N and 2N
// frames: start-up, the tool's process and file opening included, counts
// for neither. The runs interleave (ours, the tool's, ours...), so that
// whatever else the machine does falls on both, and each repeat gives one
// ratio; the median of the ratios decides.
void CompareWithTool(const std::vector<uint8_t>& frames)
{
    constexpr int kRepeats = 5;
    const std::string rawPath = "/tmp/orvandel-bench-frames.bgr";
    FILE* raw = std::fopen(rawPath.c_str(), "wb");
    std::fwrite(frames.data(), 1, frames.size(), raw);
    std::fclose(raw);
    const int half = kFrames / 2;
    std::printf("CPU per frame, 640x480 bottom-up B,G,R to 320x240 at %d frames/s, the difference between runs of "
                "%d and %d frames; median (spread) of %d interleaved repeats:\n",
                kFrameRate, half, kFrames, kRepeats);
    // The live encoder runs a picture of this size on one thread; the tool is
    // timed with the four threads the encoders were set up with before, and
    // on one thread like ours.
    for (const Codec& codec : kCodecs) {
        std::vector<double> ours, toolFourThreads, toolOneThread, ratioFour, ratioOne;
        auto tool = [&](int threads) {
            return (ToolCpuSeconds(codec, rawPath, kFrames, threads) - ToolCpuSeconds(codec, rawPath, half, threads)) /
                   half;
        };
        for (int repeat = 0; repeat < kRepeats; ++repeat) {
            ours.push_back((OrvandelCpuSeconds(codec, frames, kFrames) - OrvandelCpuSeconds(codec, frames, half)) /
                           half * 1000);
            toolFourThreads.push_back(tool(4) * 1000);
            toolOneThread.push_back(tool(1) * 1000);
            ratioFour.push_back(ours.back() / toolFourThreads.back());
            ratioOne.push_back(ours.back() / toolOneThread.back());
        }
        std::printf("  %-18s Orvandel %s ms\n", codec.name, MedianAndSpread(ours).c_str());
        std::printf("  %-18s ffmpeg tool, 4 threads %s ms: ratio %s (target <= 0.60)\n", "",
                    MedianAndSpread(toolFourThreads).c_str(), MedianAndSpread(ratioFour).c_str());
        std::printf("  %-18s ffmpeg tool, 1 thread %s ms: ratio %s\n", "", MedianAndSpread(toolOneThread).c_str(),
                    MedianAndSpread(ratioOne).c_str());
    }
    std::remove(rawPath.c_str());
}

struct LoopbackLink {
    int senderEnd = -1;
    int receiverEnd = -1;
};

LoopbackLink Connect()
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    LoopbackLink link;
    link.receiverEnd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(link.receiverEnd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    link.senderEnd = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    return link;
}

// Reads packets and notes, for each video chunk, how long after its stamp it arrived.
void ReceiveLatencies(int socket, double clockStart, std::vector<double>& latencies)
{
    std::vector<uint8_t> payload(kVideoChunk);
    uint32_t header;
    while (::recv(socket, &header, 4, MSG_WAITALL) == 4) {
        const int size = header & kVideoHeaderBit ? kVideoChunk : kAudioChunk;
        if (::recv(socket, payload.data(), size, MSG_WAITALL) != size)
            break;
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        if (header & kVideoHeaderBit)
            latencies.push_back(now - clockStart - (header & 0xFFFFFF) / 1000.0);
    }
}

void MeasureLatency(int quality, const std::vector<uint8_t>& frames)
{
    ChooseLiveParameters(static_cast<uint8_t>(0x10 | quality), 0, 0, 0, true);
    const Codec codec{"", 0, gLiveParams.videoBitRate, ""};
    const int frameRate = gLiveParams.frameRate;
    OpenEncoder(codec, frameRate);
    gStream.video.present = true;
    LoopbackLink link = Connect();
    gNet.transport = 1;
    gNet.dataSocket = link.senderEnd;
    StartSender(quality);
    std::vector<double> latencies;
    const double clockStart =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    std::thread receiver(ReceiveLatencies, link.receiverEnd, clockStart, std::ref(latencies));
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < 10 * frameRate; ++f) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * f / frameRate));
        gLatestVideoSample = {frames.data() + static_cast<size_t>(f % kFrames) * kFrameBytes, kFrameBytes};
        EncodeVideoSample(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    gNet.dataSocket = kInvalidSocket;
    StopSender();
    ::shutdown(link.senderEnd, SHUT_RDWR);
    receiver.join();
    ::close(link.senderEnd);
    ::close(link.receiverEnd);
    CloseLiveEncoder();
    double sum = 0;
    double worst = 0;
    for (double latency : latencies) {
        sum += latency;
        worst = std::max(worst, latency);
    }
    std::printf("  quality %d (MPEG-4 %d kbit/s, %d frames/s): %zu chunks, mean %.0f ms, worst %.0f ms\n", quality,
                gLiveParams.videoBitRate / 1000, frameRate, latencies.size(),
                latencies.empty() ? 0 : 1000 * sum / latencies.size(), 1000 * worst);
}

} // namespace

int main()
{
    av_log_set_level(AV_LOG_ERROR);
    if (AllocateLargeBuffers() != 0)
        return 1;
    AttachStreamBuffers();
    const std::vector<uint8_t> frames = RenderFrames();
    CompareWithTool(frames);
    std::printf("Latency from a frame's sample time to its video chunk's arrival on loopback TCP\n"
                "(video only, 10 s in real time each):\n");
    for (int quality : {0, 1, 2})
        MeasureLatency(quality, frames);
    FreeLargeBuffers();
    return 0;
}
