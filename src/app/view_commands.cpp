#include "app/view_commands.h"

#include "shared/server_state.h"
#include "capture/capture_graph.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "platform/messages.h"
#include "platform/paths.h"

int StepChannel(Tuner& tuner, int step)
{
    SettingsRecord& record = gSettings.record;
    if (record.enabledChannels == 0)
        return -1;
    const int current = record.currentChannel;
    // A current index from a damaged file still walks the whole ring once.
    int channel = current >= 0 && current < kChannelCount ? current : 0;
    for (int steps = 0; steps < kChannelCount; ++steps) {
        channel = (channel + step + kChannelCount) % kChannelCount;
        if (channel == current)
            return -1;
        if (gSettings.channels[channel].enabled)
            break;
    }
    if (!gSettings.channels[channel].enabled)
        return -1;
    tuner.Choose(channel);
    return channel;
}

void ToggleAutostart()
{
    SettingsRecord& record = gSettings.record;
    if (record.autostart) {
        if (RemoveAutostartEntry() == 0)
            record.autostart = 0;
    } else if (WriteAutostartEntry(DesktopExecProgram(ExecutablePath()) + " /u") == 0) {
        record.autostart = 1;
    }
}

ServerCommandStates CurrentServerCommandStates()
{
    const bool disconnected = IsDisconnected();
    return {disconnected, !disconnected, IsRecording()};
}

void ToggleRecording()
{
    if (!IsRecording()) {
        PostAppMessage(MessageTarget::Recorder, kMsgStartRecording,
                       static_cast<uintptr_t>(gSettings.record.currentChannel));
        return;
    }
    for (ScheduleSlot& slot : gSettings.record.schedules) {
        if (slot.used && slot.active) {
            slot.used = 0;
            slot.active = 0;
            break;
        }
    }
    PostAppMessage(MessageTarget::Recorder, kMsgStopRecording);
}

void TogglePreviewMute()
{
    SetPreviewMuted(!IsPreviewMuted());
    const int result = SetPreviewVolume(IsPreviewMuted());
    if (result == -1)
        ShowMessage("Cannot set audio volume.", 1, 1);
    else if (result == -2)
        ShowMessage("Cannot change audio volume.", 1, 1);
}

int EncodeFileGuard(bool windowOpen)
{
    const char* refusal = nullptr;
    if (windowOpen)
        refusal = "You cannot encode more than one file simultaneously.";
    else if (IsStreaming())
        refusal = "Cannot encode a file while streaming. Please stop the streaming first.";
    else if (IsConfiguringPorts() || IsTesting())
        refusal = "Please wait for the Orvandel to go to ready state.";
    if (!refusal)
        return 0;
    ShowMessage(refusal, 1, 1);
    return -1;
}
