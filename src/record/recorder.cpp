#include "record/recorder.h"

#include "encode/stream_buffers.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "shared/live_params.h"
#include "shared/server_state.h"

#include "record/recording_file.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>


namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::unique_ptr<RecordingFile> gFile;
std::string gFilePath;
// Why the file's writer asked the recording to stop; read on the window
// thread once it has.
std::mutex gFailureMutex;
std::string gFailure;

void OnWriteFailure(const std::string& reason)
{
    {
        std::lock_guard hold(gFailureMutex);
        gFailure = reason;
    }
    PostAppMessage(MessageTarget::Recorder, kMsgStopRecording);
}

// Two minutes at the profile's bit rate, and never less than 50 MB.
constexpr int64_t kLeastFreeBytes = 50LL * 1024 * 1024;
constexpr int64_t kFreeSeconds = 120;
// A refusal told again within this time (motion asks at every comparison)
// goes to the log only once.
constexpr uint32_t kRepeatQuietMs = 10 * 60 * 1000;

int RefuseRecording(const std::string& text)
{
    static std::string lastText;
    static uint32_t lastTick = 0;
    const uint32_t now = GetTickCount();
    if (text == lastText && now - lastTick < kRepeatQuietMs)
        return -1;
    lastText = text;
    lastTick = now;
    return ShowFailure(text.c_str());
}

int OpenEncoders(EncoderBranch& branch)
{
    const AVCodec* video = FindEncoder("wmv2", AVMEDIA_TYPE_VIDEO);
    if (!video)
        return ShowFailure("Unknown video codec.");
    const AVCodec* audio = FindEncoder("wmav2", AVMEDIA_TYPE_AUDIO);
    if (!audio)
        return ShowFailure("Unknown audio codec.");
    const RecordingParams& params = gRecordingParams;
    if (gStream.video.present && OpenVideoBranch(branch, video, params.profile.videoBitRate, params.width,
                                                 params.height, params.profile.frameRate) != 0)
        return -1;
    if (gStream.audio.present && OpenAudioBranch(branch, audio, params.profile.audioBitRate,
                                                 params.profile.audioSampleRate, params.profile.stereo) != 0)
        return -1;
    return 0;
}

} // namespace

int64_t RecordingSpaceNeeded(const RecordingProfile& profile)
{
    const int64_t bitsPerSecond = int64_t(std::max(profile.videoBitRate, 0)) + std::max(profile.audioBitRate, 0);
    return std::max(kLeastFreeBytes, kFreeSeconds * bitsPerSecond / 8);
}

std::string RecordingFolderRefusal(const std::string& folder)
{
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return "The recording folder " + folder + " does not exist.";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "The recording folder " + folder + " cannot be written to.";
    struct statvfs disk {};
    const int64_t needed = RecordingSpaceNeeded(gRecordingParams.profile);
    if (::statvfs(folder.c_str(), &disk) == 0 && int64_t(disk.f_bavail) * int64_t(disk.f_frsize) < needed) {
        const int64_t freeMb = int64_t(disk.f_bavail) * int64_t(disk.f_frsize) / (1024 * 1024);
        return "The recording folder " + folder + " has " + std::to_string(freeMb) +
               " MB free; a recording needs at least " + std::to_string(needed / (1024 * 1024)) + " MB.";
    }
    return {};
}

std::string RecordingFileName(int channel)
{
    const SystemTime now = GetLocalTime();
    char name[128];
    std::snprintf(name, sizeof name, "Rec_ch%d_%d%s%d_%02d_%02d_%02d.avi", channel, now.day,
                  kMonths[(now.month + 11) % 12], now.year, now.hour, now.minute, now.second);
    return name;
}

int OpenRecorder(const std::string& fileName)
{
    SettingsRecord& record = gSettings.record;
    if (record.recordingFolder[0] == 0)
        std::snprintf(record.recordingFolder, sizeof record.recordingFolder, "%s", HomeDir().c_str());
    const std::string refusal = RecordingFolderRefusal(record.recordingFolder);
    if (!refusal.empty())
        return RefuseRecording(refusal);
    const std::string path = std::string(record.recordingFolder) + "/" +
                             (fileName.empty() ? RecordingFileName(record.currentChannel) : fileName);
    EncoderBranch& branch = gRecorder.branch;
    if (OpenOutputContext(branch, path) != 0 || OpenEncoders(branch) != 0)
        return -1;
    {
        std::lock_guard hold(gFailureMutex);
        gFailure.clear();
    }
    gFile = std::make_unique<RecordingFile>();
    std::string error;
    if (!gFile->Open(path, OnWriteFailure, error)) {
        gFile.reset();
        Log("The recording file " + path + " could not be created: " + error + ".");
        return ShowFailure("Could not open output file.");
    }
    gFilePath = path;
    branch.output->pb = gFile->Io();
    branch.output->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Every packet goes to the file's writer as it is made.
    branch.output->flush_packets = 1;
    if (const int written = avformat_write_header(branch.output.get(), nullptr); written < 0) {
        // A file without its header could not be played: nothing is kept.
        branch.output->pb = nullptr;
        gFile->Close(error);
        gFile.reset();
        std::remove(path.c_str());
        Log("The recording header could not be written to " + path + ": " + FfmpegError(written));
        return ShowFailure("Could not open output file.");
    }
    gRecorder.headerWritten = true;
    gRecorder.recordedBytes = 0;
    gRecorder.elapsedSeconds = 0;
    gRecorder.recordedAudioFrames = 0;
    gRecorder.firstLiveFrame = -1;
    gRecorder.startTick = GetTickCount();
    return 0;
}

void CloseRecorder()
{
    EncoderBranch& branch = gRecorder.branch;
    CloseBranchEncoders(branch);
    if (gRecorder.headerWritten)
        av_write_trailer(branch.output.get());
    gRecorder.headerWritten = false;
    // The file closes before the context that writes to it is freed.
    std::string error;
    if (gFile && !gFile->Close(error))
        Log("The recording " + gFilePath + " could not be written to the end: " + error + ".");
    if (branch.output)
        branch.output->pb = nullptr;
    gFile.reset();
    branch.output.reset();
}

std::string TakeRecordingFailure()
{
    std::lock_guard hold(gFailureMutex);
    return std::exchange(gFailure, {});
}

const std::string& RecordingPath()
{
    return gFilePath;
}
