#include "ui/channel_lineup.h"

#include "capture/devices.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "platform/messages.h"

#include <algorithm>
#include <cstring>

namespace {

// Stores text in a zero-terminated field, cut where a character ends.
void CopyText(char* field, size_t fieldSize, const std::string& text)
{
    const std::string kept = CutWhereACharacterEnds(text, fieldSize - 1);
    std::memset(field, 0, fieldSize);
    std::memcpy(field, kept.data(), kept.size());
}

} // namespace

std::string CutWhereACharacterEnds(const std::string& text, size_t limit)
{
    size_t length = std::min(text.size(), limit);
    while (length < text.size() && length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return text.substr(0, length);
}

int DeviceEntry(int deviceIndex, size_t entryCount)
{
    const bool listed = deviceIndex >= 0 && deviceIndex != kNoDevice && static_cast<size_t>(deviceIndex) + 1 < entryCount;
    return listed ? deviceIndex + 1 : 0;
}

std::string DeviceName(const std::vector<std::string>& names, int deviceIndex)
{
    const int entry = DeviceEntry(deviceIndex, names.size());
    return entry < static_cast<int>(names.size()) ? names[entry] : kNoDeviceName;
}

int ChooseDevice(int selectionWord, int column, int entry)
{
    const int byte = entry > 0 ? entry - 1 : 0xFF;
    if (column == kColumnVideo)
        return (selectionWord & 0x00FF) | byte << 8;
    return (selectionWord & 0xFF00) | byte;
}

bool RowHasDevice(const std::string& video, const std::string& audio)
{
    return video != kNoDeviceName || audio != kNoDeviceName;
}

bool RefuseCheckedRow(bool checked, const std::string& video, const std::string& audio)
{
    if (!checked || RowHasDevice(video, audio))
        return false;
    ShowMessage("Please click on 'None' under Video Device and Audio Device columns and select a stream type for "
                "video and/or audio.",
                1, 1);
    return true;
}

int CaptureOptionsGuard()
{
    const PipelineActivity activity = CurrentActivity();
    if (activity.monitoring && AskConfirm("Client is currently in background monitoring mode. This will stop "
                                        "monitoring. Do you wish to continue?") == IDCANCEL)
        return -1;
    if (activity.recording) {
        ShowMessage("Currently recording a channel. Please stop the recording first.", 1, 1);
        return -1;
    }
    if (activity.streaming) {
        ShowMessage("Currently streaming a channel. Please stop the streaming first.", 1, 1);
        return -1;
    }
    return 0;
}

void DeleteChannelRecord(int channel)
{
    for (int i = channel; i < kChannelCount - 1; ++i)
        gSettings.channels[i] = gSettings.channels[i + 1];
    ClearChannelEntry(gSettings.channels[kChannelCount - 1]);
}

void ClearAllChannelRecords()
{
    for (ChannelRecord& channel : gSettings.channels)
        ClearChannelEntry(channel);
}

int StoreLineup(const std::vector<LineupRow>& rows)
{
    int enabled = 0;
    for (size_t i = 0; i < rows.size() && i < kChannelCount; ++i) {
        ChannelRecord& channel = gSettings.channels[i];
        channel.enabled = rows[i].enabled ? 1 : 0;
        enabled += channel.enabled;
        channel.videoDevice = channel.editSelection >> 8 & 0xFF;
        channel.audioDevice = channel.editSelection & 0xFF;
        CopyText(channel.videoDeviceName, sizeof channel.videoDeviceName,
                 DeviceName(gDeviceNames.video, channel.videoDevice));
        CopyText(channel.audioDeviceName, sizeof channel.audioDeviceName,
                 DeviceName(gDeviceNames.audio, channel.audioDevice));
        CopyText(channel.description, sizeof channel.description, rows[i].description);
    }
    gSettings.record.enabledChannels = enabled;
    return SaveSettings();
}
