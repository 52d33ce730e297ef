#include "shared/server_state.h"

#include "config/settings.h"
#include "shared/live_params.h"
#include "platform/messages.h"

#include <mutex>

ServerState gState;

namespace {

std::mutex statusLock;
std::string statusText = "Status: Disconnected";

const char* StateText()
{
    if (gState.streaming)
        return "Status: Streaming";
    if (gState.connected)
        return "Status: Connected";
    if (gState.disconnected)
        return "Status: Disconnected";
    if (gState.configuringPorts)
        return "Status: Configuring ports, please wait...";
    if (gState.testing)
        return "Status: Testing connectivity, please wait...";
    if (gState.initializing)
        return "Status: Initializing connection...";
    return "Status: Ready";
}

bool CurrentChannelMonitored()
{
    int channel = gSettings.record.currentChannel;
    return channel >= 0 && channel < kChannelCount && gSettings.channels[channel].motionDetection &&
           gState.captureRunning && gState.monitoring;
}

std::string BuildStatusText()
{
    std::string text = StateText();
    if (gState.recording)
        text += ", Recording";
    else if (gState.recordingStoppedEarly)
        text += ", Recording stopped early";
    if (CurrentChannelMonitored()) {
        int countdown = gState.monitoringCountdown;
        int frameRate = gLiveParams.frameRate;
        if (countdown > 1 && frameRate > 0)
            text += ", Monitoring in " + std::to_string(countdown * 30 / frameRate) + " seconds...";
        else
            text += ", Monitoring";
    }
    if (gState.directoryUnreached)
        text += ", Directory not reached";
    if (text.size() > kStatusTextSize - 1)
        text.resize(kStatusTextSize - 1);
    return text;
}

} // namespace

void ResetServerState()
{
    gState.streaming = 0;
    gState.fileEncoding = 0;
    gState.connected = 0;
    gState.disconnected = 1;
    gState.configuringPorts = 0;
    gState.testing = 0;
    gState.initializing = 0;
    gState.recording = 0;
    gState.recordingStoppedEarly = 0;
    gState.monitoring = 0;
    gState.monitoringCountdown = 0;
    gState.running = 0;
}

void UpdateStatusText()
{
    {
        // Built under the lock: a thread that changed a flag and then
        // updates must never be overtaken by one that read the flags before.
        std::lock_guard hold(statusLock);
        statusText = BuildStatusText();
    }
    PostAppMessage(MessageTarget::Frame, kMsgStatusText);
}

std::string StatusText()
{
    std::lock_guard hold(statusLock);
    return statusText;
}

int ShowFailure(const char* text, const char* callerFile)
{
    ShowMessage(text, gState.showMessages, 0, callerFile);
    return -1;
}
