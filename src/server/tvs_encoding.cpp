#include "server/tvs_encoding.h"

#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "media/file_transcoder.h"
#include "media/tvs_format.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "server/sender.h"
#include "server/session_state.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>

namespace {

constexpr uint8_t kNoStream = 0xFF;
constexpr int kBitsPerSample = 16;
// "High" is the custom rate a handheld last asked for; before any did, this.
constexpr int32_t kHighKbpsWithoutRequest = 2000;
// The transcoder answers once the input is open.
constexpr int kTranscoderStartLimitMs = 30000;
// After a cancel the transcoder still marks the ends; the sender gets this
// long to write them, so that the file closes as a stream does.
constexpr int kEndPacketLimitMs = 3000;
constexpr int kSliceMs = 20;

// Waits in short slices until done() or the limit, serving the calls of
// other threads meanwhile, since this runs on the window thread.
bool WaitServing(const std::function<bool()>& done, int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (OnWindowThread())
            ServeWindowThreadCalls();
        Sleep(kSliceMs);
    }
    return true;
}

int SecondsOfLastPacket()
{
    return static_cast<int>(gSender.lastChunkTime.load() / 1000);
}

FileTranscodeJob JobFor(const TvsRequest& request, int durationSeconds)
{
    FileTranscodeJob job;
    job.mediaPath = request.inputPath;
    job.request.profile = TvsProfile(request.resolution, request.bitRate);
    const int32_t asked = gSession.request.customBitRateKbps;
    job.request.customBitRateKbps = asked > 0 ? asked : kHighKbpsWithoutRequest;
    job.request.startSeconds = request.startSeconds;
    job.request.videoCodec = 0;
    job.request.audioFormat = 0;
    job.request.videoStream = job.request.audioStream = job.request.subtitleStream = -1;
    job.durationLimitSeconds = durationSeconds;
    job.writeToFile = true;
    return job;
}

} // namespace

std::string TvsOutputPath(const std::string& path)
{
    return path.find(".tvs") == std::string::npos ? path + ".tvs" : path;
}

uint8_t TvsProfile(int resolution, int bitRate)
{
    return static_cast<uint8_t>(resolution << 4 | (3 - bitRate));
}

TvsCheck CheckTvsRequest(TvsRequest& request, const std::function<bool(const char* question)>& confirm)
{
    if (request.inputPath.empty())
        return {false, kNoInputText};
    if (request.outputPath.empty())
        return {false, kNoOutputText};
    request.outputPath = TvsOutputPath(request.outputPath);
    std::error_code error;
    if (std::filesystem::exists(request.outputPath, error) && !confirm(kOverwriteText))
        return {false, ""};
    if (request.endSeconds < request.startSeconds)
        return {false, kStartPastEndText};
    if (request.endSeconds == 0)
        return {false, kZeroDurationText};
    const int duration = request.startSeconds > 0 ? request.endSeconds - request.startSeconds : request.endSeconds;
    return {true, "", duration};
}

std::string TvsEncoding::Start(const TvsRequest& request, int durationSeconds)
{
    Finish();
    gSender.writeToFile = 1;
    gSender.endWritten = 0;
    gSender.lastChunkTime = 0;
    ResetSeekIndex();
    file_.reset(std::fopen(request.outputPath.c_str(), "wb"));
    if (!file_) {
        Log("\"" + request.outputPath + "\" could not be created: " + std::strerror(errno));
        return kCannotOpenOutputText;
    }
    path_ = request.outputPath;
    startSeconds_ = request.startSeconds;
    durationSeconds_ = durationSeconds;
    const FileTranscodeJob job = JobFor(request, durationSeconds);
    const StartResult started =
        StartFileEncoding([job](FileProducer& producer) { TranscodeFile(job, producer); }, kTranscoderStartLimitMs);
    running_ = true;
    if (!started.Succeeded())
        return Abandon(kCouldNotStartText, started.Reason());
    if (!WriteHeader())
        return Abandon(kWriteErrorText);
    gSender.file = file_.get();
    if (StartSender(job.request.profile & 0x0F) != 0)
        return Abandon(kCouldNotStartText);
    LetFileProducerGo();
    return "";
}

// A start that failed leaves no file behind, and no thread.
std::string TvsEncoding::Abandon(const char* message, const std::string& cause)
{
    Log(std::string("\"") + path_ + "\": " + message + (cause.empty() ? "" : " " + cause));
    StopFileEncoding();
    running_ = false;
    gSender.file = nullptr;
    gSender.writeToFile = 0;
    file_.reset();
    std::error_code error;
    std::filesystem::remove(path_, error);
    return message;
}

bool TvsEncoding::WriteHeader()
{
    TvsHeader header{};
    header.params = gLiveParams;
    header.params.audioSampleBits = kBitsPerSample;
    // The stream header's duration has no place in the file.
    header.params.durationMs = 0;
    header.params.videoCodec = gStream.video.present ? 0 : kNoStream;
    header.params.audioCodec = gStream.audio.present ? 0 : kNoStream;
    return std::fwrite(&header, sizeof header, 1, file_.get()) == 1;
}

bool TvsEncoding::Done() const
{
    return gSender.endWritten != 0;
}

int TvsEncoding::PositionSeconds() const
{
    return std::max(0, SecondsOfLastPacket() - startSeconds_);
}

double TvsEncoding::Percent() const
{
    return durationSeconds_ > 0 ? PositionSeconds() * 100.0 / durationSeconds_ : 0;
}

void TvsEncoding::Finish()
{
    if (!running_)
        return;
    running_ = false;
    if (!StopFileEncoding())
        Log("\"" + path_ + "\": the transcoder did not end; the file is closed as far as it got.");
    WaitServing([this] { return Done(); }, kEndPacketLimitMs);
    StopSender();
    CompleteFile();
}

// The seek index goes at the end; the header learns where it is, how long
// it is and the time of the last packet.
void TvsEncoding::CompleteFile()
{
    std::FILE* file = file_.get();
    gSender.file = nullptr;
    gSender.writeToFile = 0;
    if (!file)
        return;
    const long indexOffset = std::ftell(file);
    const uint32_t count = static_cast<uint32_t>(gSender.seekCount);
    const uint32_t lastTime = gSender.lastChunkTime;
    const uint32_t closing[2] = {static_cast<uint32_t>(indexOffset), count};
    const bool written = indexOffset >= 0 &&
                         std::fwrite(gSender.seekIndex, sizeof gSender.seekIndex[0], count, file) == count &&
                         std::fseek(file, kTvsLastTimeOffset, SEEK_SET) == 0 &&
                         std::fwrite(&lastTime, sizeof lastTime, 1, file) == 1 &&
                         std::fseek(file, offsetof(TvsHeader, indexOffset), SEEK_SET) == 0 &&
                         std::fwrite(closing, sizeof closing, 1, file) == 1;
    if (std::fclose(file_.release()) != 0 || !written)
        Log("\"" + path_ + "\": " + kWriteErrorText);
}
