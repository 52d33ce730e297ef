// The file transcoder, alone with its rings drained as fast as they fill
// and then writing a .tvs file at the High settings, against the ffmpeg tool
// doing the same transcodes to a null output, on a 60 s 640x480 H.264/AAC
// clip.

#include "config/settings.h"
#include "encode/live_setup.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "media/file_transcoder.h"
#include "server/tvs_encoding.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"
#include "tool_cost.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr const char* kClip = "/tmp/orvandel-bench-film.mp4";
constexpr const char* kTvsFile = "/tmp/orvandel-bench-film.tvs";

// Takes every chunk as soon as it is complete, until told to end.
void DrainRings(const std::atomic<bool>& ended)
{
    static uint8_t chunks[kVideoChunk + kAudioChunk + 8];
    while (!ended) {
        TakenChunks taken;
        {
            std::lock_guard hold(gStream.lock);
            TakeChunk(chunks, taken);
        }
        if (taken.count == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

RunCost TranscoderCost()
{
    FileTranscodeJob job;
    job.mediaPath = kClip;
    job.request = StreamRequest{};
    job.request.profile = 0x11;  // 320x240, quality 1: MPEG-4 200 kbit/s, MP3 64 kbit/s, 24 frames/s
    job.request.videoStream = job.request.audioStream = job.request.subtitleStream = -1;
    job.writeToFile = true;
    ResetStreamBuffers();
    // Transcoded on this thread, let go at once, as a sender that keeps up would.
    FileProducer producer;
    producer.LetGo();
    std::atomic<bool> ended{false};
    const double cpuBefore = ProcessCpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    std::thread drain(DrainRings, std::cref(ended));
    const int result = TranscodeFile(job, producer);
    ended = true;
    drain.join();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
    if (result != 0)
        return {-1, wall.count()};
    std::printf("  Orvandel: %d pictures, %.1f s of sound\n", gLiveEncoder.framesEncoded.load(), gStream.audio.lastTime);
    return {ProcessCpuSeconds() - cpuBefore, wall.count()};
}

// The Encode File work at its High settings: 1024x768, the custom rate
// (2,000 kbit/s before a handheld asked for another) and MP3 at 128 kbit/s.
RunCost TvsCost()
{
    TvsRequest request;
    request.inputPath = kClip;
    request.outputPath = kTvsFile;
    request.resolution = 2;
    request.bitRate = 0;
    request.endSeconds = 60;
    const double cpuBefore = ProcessCpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    TvsEncoding encoding;
    if (!encoding.Start(request, request.endSeconds).empty())
        return {};
    while (!encoding.Done())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    encoding.Finish();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
    std::printf("  Orvandel: %d pictures, %.1f s of sound\n", gLiveEncoder.framesEncoded.load(), gStream.audio.lastTime);
    return {ProcessCpuSeconds() - cpuBefore, wall.count()};
}

void Compare(const char* title, const RunCost& ours, const std::string& toolOptions)
{
    const RunCost tool = RunCommandCost(std::string("exec ffmpeg -nostdin -loglevel error -y -threads 0 -i ") + kClip +
                                        " -r 24 -fps_mode cfr -bt 4000k -g 60 -threads 4 -ar 44100 -ac 2 " +
                                        toolOptions + " -f null /dev/null");
    std::printf("%s\n", title);
    std::printf("  Orvandel     CPU %6.2f s   wall %6.2f s\n", ours.cpuSeconds, ours.wallSeconds);
    std::printf("  ffmpeg tool  CPU %6.2f s   wall %6.2f s\n", tool.cpuSeconds, tool.wallSeconds);
    std::printf("  ratio        CPU %6.2f     wall %6.2f   (target <= 1.00)\n", ours.cpuSeconds / tool.cpuSeconds,
                ours.wallSeconds / tool.wallSeconds);
}

} // namespace

int main()
{
    av_log_set_level(AV_LOG_ERROR);
    if (RunCommandCost(std::string("exec ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x480:rate=30 "
                                   "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 -c:v libx264 -preset fast "
                                   "-c:a aac -ac 2 ") +
                       kClip)
            .cpuSeconds < 0)
        return 1;
    SetDefaultSettings();
    SetDefaultEncoderParams();
    if (AllocateLargeBuffers() != 0)
        return 1;
    AttachStreamBuffers();
    std::printf("60 s of 640x480 H.264/AAC at 30 frames/s, to MPEG-4 at 24 frames/s and MP3 at 44,100 Hz:\n");
    Compare("The file transcoder alone, 320x240 at 200 kbit/s, MP3 64 kbit/s:", TranscoderCost(),
            "-vf scale=320:240:flags=bicubic -c:v mpeg4 -b:v 200k -c:a libmp3lame -b:a 64k");
    Compare("A .tvs file at the High settings, 1024x768 at 2,000 kbit/s, MP3 128 kbit/s:", TvsCost(),
            "-vf scale=1024:768:flags=bicubic -c:v mpeg4 -b:v 2000k -c:a libmp3lame -b:a 128k");
    FreeLargeBuffers();
    std::remove(kClip);
    std::remove(kTvsFile);
    return 0;
}
