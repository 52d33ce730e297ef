// The file transcoder alone, its rings drained as fast as they fill, against
// the ffmpeg tool doing the same transcode to a null output: a 60 s 640x480
// H.264/AAC clip to MPEG-4 320x240 at 24 frames/s, 200 kbit/s, and MP3 at
// 64 kbit/s, 44,100 Hz stereo.

#include "config/settings.h"
#include "encode/live_setup.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "media/file_transcoder.h"
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

// Takes every chunk as soon as it is complete, until told to end.
void DrainRings(const std::atomic<bool>& ended)
{
    static uint8_t chunks[kVideoChunk + kAudioChunk + 8];
    while (!ended) {
        TakenChunks taken;
        {
            std::lock_guard hold(gBufferMutex);
            TakeChunk(chunks, taken);
        }
        if (taken.count == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

RunCost OrvandelCost()
{
    FileTranscodeJob job;
    job.mediaPath = kClip;
    job.request = StreamRequest{};
    job.request.profile = 0x11;  // 320x240, quality 1: MPEG-4 200 kbit/s, MP3 64 kbit/s, 24 frames/s
    job.request.videoStream = job.request.audioStream = job.request.subtitleStream = -1;
    job.writeToFile = true;
    ResetStreamBuffers();
    gFileStreamCancel = 0;
    gEvents.encoderThreadStart.Set();
    std::atomic<bool> ended{false};
    const double cpuBefore = ProcessCpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    std::thread drain(DrainRings, std::cref(ended));
    const int result = FileTranscoderThread(job);
    ended = true;
    drain.join();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
    if (result != 0)
        return {-1, wall.count()};
    std::printf("  Orvandel: %d pictures, %.1f s of sound\n", gLiveEncoder.framesEncoded.load(), gStream.audio.lastTime);
    return {ProcessCpuSeconds() - cpuBefore, wall.count()};
}

} // namespace

int main()
{
    av_log_set_level(AV_LOG_ERROR);
    if (RunCommandCost(std::string("exec ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x480:rate=30 -f "
                            "lavfi -i sine=frequency=440:sample_rate=48000 -t 60 -c:v libx264 -preset fast -c:a aac "
                            "-ac 2 ") +
                kClip)
            .cpuSeconds < 0)
        return 1;
    SetDefaultSettings();
    SetDefaultEncoderParams();
    if (AllocateLargeBuffers() != 0)
        return 1;
    AttachStreamBuffers();
    std::printf("Transcoding 60 s of 640x480 H.264/AAC to MPEG-4 320x240 24 frames/s 200 kbit/s and MP3 64 kbit/s:\n");
    const RunCost ours = OrvandelCost();
    const RunCost tool = RunCommandCost(std::string("exec ffmpeg -nostdin -loglevel error -y -threads 0 -i ") + kClip +
                              " -vf scale=320:240:flags=bicubic -r 24 -fps_mode cfr -c:v mpeg4 -b:v 200k -bt 4000k -g 60 -threads 4 "
                              "-c:a libmp3lame -b:a 64k -ar 44100 -ac 2 -f null /dev/null");
    std::printf("  Orvandel     CPU %6.2f s   wall %6.2f s\n", ours.cpuSeconds, ours.wallSeconds);
    std::printf("  ffmpeg tool  CPU %6.2f s   wall %6.2f s\n", tool.cpuSeconds, tool.wallSeconds);
    std::printf("  ratio        CPU %6.2f     wall %6.2f   (target <= 1.00)\n", ours.cpuSeconds / tool.cpuSeconds,
                ours.wallSeconds / tool.wallSeconds);
    FreeLargeBuffers();
    std::remove(kClip);
    return ours.cpuSeconds < 0 || tool.cpuSeconds < 0 ? 1 : 0;
}
