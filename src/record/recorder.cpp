#include "record/recorder.h"

#include "encode/stream_buffers.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "shared/live_params.h"
#include "shared/server_state.h"

#include <cstdio>


namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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

std::string RecordingFileName(int channel)
{
    const SystemTime now = GetLocalTime();
    char name[128];
    std::snprintf(name, sizeof name, "Rec_ch%d_%d%s%d_%02d_%02d_%02d.avi", channel, now.day,
                  kMonths[(now.month + 11) % 12], now.year, now.hour, now.minute, now.second);
    return name;
}

int OpenRecorder()
{
    SettingsRecord& record = gSettings.record;
    if (record.recordingFolder[0] == 0)
        std::snprintf(record.recordingFolder, sizeof record.recordingFolder, "%s", HomeDir().c_str());
    const std::string path = std::string(record.recordingFolder) + "/" + RecordingFileName(record.currentChannel);
    EncoderBranch& branch = gRecorder.branch;
    if (OpenOutputContext(branch, path) != 0 || OpenEncoders(branch) != 0)
        return -1;
    if (avio_open(&branch.output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
        return ShowFailure("Could not open output file.");
    if (avformat_write_header(branch.output.get(), nullptr) < 0) {
        // A file without its header could not be played: nothing is kept.
        avio_closep(&branch.output->pb);
        std::remove(path.c_str());
        Log("The recording header could not be written to " + path + ".");
        return ShowFailure("Could not open output file.");
    }
    gRecorder.headerWritten = true;
    gRecorder.recordedBytes = 0;
    gRecorder.elapsedSeconds = 0;
    gRecorder.recordedAudioFrames = 0;
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
    // The file closes before the context that names it is freed.
    if (branch.output)
        avio_closep(&branch.output->pb);
    branch.output.reset();
}
