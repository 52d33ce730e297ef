#include "app/view_commands.h"

#include "config/settings.h"
#include "platform/paths.h"

int StepChannel(int step)
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
    record.currentChannel = channel;
    return channel;
}

void ToggleAutostart()
{
    SettingsRecord& record = gSettings.record;
    if (record.autostart) {
        if (RemoveAutostartEntry() == 0)
            record.autostart = 0;
    } else if (WriteAutostartEntry(ExecutablePath() + " /u") == 0) {
        record.autostart = 1;
    }
}
