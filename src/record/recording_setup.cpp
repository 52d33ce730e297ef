#include "record/recording_setup.h"

#include "config/settings.h"
#include "platform/messages.h"

#include <cstdio>
#include <cstring>

namespace {

struct QualityPreset {
    int32_t videoBitRate;
    int32_t audioBitRate;
    uint8_t frameRate;
};

// Indexed by RecordingQuality.
constexpr QualityPreset kPresets[] = {
    {2000000, 128000, 25}, {500000, 64000, 25}, {200000, 64000, 15}, {48000, 32000, 10}};

void WriteQuality(RecordingProfile& profile, RecordingQuality quality)
{
    const QualityPreset& preset = kPresets[static_cast<int>(quality)];
    profile.videoBitRate = preset.videoBitRate;
    profile.audioBitRate = preset.audioBitRate;
    profile.frameRate = preset.frameRate;
    profile.audioSampleRate = 44100;
    profile.audioSampleBits = 16;
    profile.stereo = 1;
}

} // namespace

TimeLimitFields SplitTimeLimit(int seconds)
{
    TimeLimitFields fields;
    fields.hours = seconds / 3600;
    fields.minutes = seconds / 60 - 60 * fields.hours;
    fields.seconds = seconds % 60;
    return fields;
}

int JoinTimeLimit(const TimeLimitFields& fields)
{
    return fields.hours * 3600 + fields.minutes * 60 + fields.seconds;
}

int WrapSpinValue(int value, int steps, int maximum)
{
    const int span = maximum + 1;
    return ((value + steps) % span + span) % span;
}

RecordingQuality QualityOfVideoBitRate(int videoBitRate)
{
    switch (videoBitRate) {
    case 48000:
        return RecordingQuality::Low;
    case 200000:
        return RecordingQuality::Medium;
    case 500000:
        return RecordingQuality::High;
    default:
        return RecordingQuality::Best;
    }
}

RecordingSetup LoadRecordingSetup()
{
    const SettingsRecord& record = gSettings.record;
    RecordingSetup setup;
    setup.folder.assign(record.recordingFolder, strnlen(record.recordingFolder, sizeof record.recordingFolder));
    setup.limitTime = record.limitRecordingTime != 0;
    setup.timeLimit = SplitTimeLimit(record.recordingTimeLimit);
    setup.limitSize = record.limitRecordingSize != 0;
    setup.sizeLimitMb = record.recordingSizeLimitMb;
    setup.quality = QualityOfVideoBitRate(record.recordingProfile.videoBitRate);
    setup.recordOnMotion = record.recordOnMotion != 0;
    setup.sizeIndex = record.recordingSizeIndex;
    return setup;
}

int ApplyRecordingSetup(const RecordingSetup& setup)
{
    if (setup.folder.size() >= kRecordingFolderLimit) {
        ShowMessage("Path to the recording output file is too long.", 1, 1);
        return -1;
    }
    SettingsRecord& record = gSettings.record;
    WriteQuality(record.recordingProfile, setup.quality);
    std::snprintf(record.recordingFolder, sizeof record.recordingFolder, "%s", setup.folder.c_str());
    record.limitRecordingTime = setup.limitTime ? 1 : 0;
    record.recordingTimeLimit = JoinTimeLimit(setup.timeLimit);
    record.limitRecordingSize = setup.limitSize ? 1 : 0;
    record.recordingSizeLimitMb = setup.sizeLimitMb;
    record.recordOnMotion = setup.recordOnMotion ? 1 : 0;
    record.recordingSizeIndex = setup.sizeIndex;
    SaveSettings();
    return 0;
}
