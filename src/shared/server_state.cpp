#include "shared/server_state.h"

#include "config/settings.h"
#include "shared/live_params.h"
#include "platform/messages.h"

#include <atomic>
#include <mutex>

namespace {

struct ServerState {
    std::atomic<bool> streaming{false};
    std::atomic<bool> fileEncoding{false};
    std::atomic<bool> connected{false};
    std::atomic<bool> disconnected{true};
    std::atomic<bool> configuringPorts{false};
    std::atomic<bool> testing{false};
    std::atomic<bool> initializing{false};
    std::atomic<bool> recording{false};
    std::atomic<bool> recordingStoppedEarly{false};
    std::atomic<bool> monitoring{false};
    std::atomic<int> monitoringCountdown{0};
    std::atomic<bool> motionDetected{false};
    std::atomic<bool> running{false};
    std::atomic<bool> showMessages{true};
    std::atomic<bool> userShowMessages{true};
    std::atomic<bool> captureRunning{false};
    std::atomic<bool> unattended{false};
    std::atomic<bool> directoryUnreached{false};
};

ServerState state;

std::mutex statusLock;
std::string statusText = "Status: Disconnected";

const char* StateText()
{
    if (state.streaming)
        return "Status: Streaming";
    if (state.connected)
        return "Status: Connected";
    if (state.disconnected)
        return "Status: Disconnected";
    if (state.configuringPorts)
        return "Status: Configuring ports, please wait...";
    if (state.testing)
        return "Status: Testing connectivity, please wait...";
    if (state.initializing)
        return "Status: Initializing connection...";
    return "Status: Ready";
}

bool CurrentChannelMonitored()
{
    int channel = gSettings.record.currentChannel;
    return channel >= 0 && channel < kChannelCount && gSettings.channels[channel].motionDetection &&
           state.captureRunning && state.monitoring;
}

std::string BuildStatusText()
{
    std::string text = StateText();
    if (state.recording)
        text += ", Recording";
    else if (state.recordingStoppedEarly)
        text += ", Recording stopped early";
    if (CurrentChannelMonitored()) {
        int countdown = state.monitoringCountdown;
        int frameRate = gLiveParams.frameRate;
        if (countdown > 1 && frameRate > 0)
            text += ", Monitoring in " + std::to_string(countdown * 30 / frameRate) + " seconds...";
        else
            text += ", Monitoring";
    }
    if (state.directoryUnreached)
        text += ", Directory not reached";
    if (text.size() > kStatusTextSize - 1)
        text.resize(kStatusTextSize - 1);
    return text;
}

} // namespace

bool IsServerRunning() { return state.running; }
void SetServerRunning(bool on) { state.running = on; }

bool IsConnected() { return state.connected; }
void SetConnected(bool on) { state.connected = on; }

bool IsDisconnected() { return state.disconnected; }
void SetDisconnected(bool on) { state.disconnected = on; }

bool IsConfiguringPorts() { return state.configuringPorts; }
void SetConfiguringPorts(bool on) { state.configuringPorts = on; }

bool IsTesting() { return state.testing; }
void SetTesting(bool on) { state.testing = on; }

bool IsInitializing() { return state.initializing; }
void SetInitializing(bool on) { state.initializing = on; }

bool IsDirectoryUnreached() { return state.directoryUnreached; }
void SetDirectoryUnreached(bool on) { state.directoryUnreached = on; }

bool IsStreaming() { return state.streaming; }
void SetStreaming(bool on) { state.streaming = on; }

bool IsFileEncoding() { return state.fileEncoding; }
void SetFileEncoding(bool on) { state.fileEncoding = on; }

bool IsRecording() { return state.recording; }
void SetRecording(bool on) { state.recording = on; }

bool IsRecordingStoppedEarly() { return state.recordingStoppedEarly; }
void SetRecordingStoppedEarly(bool on) { state.recordingStoppedEarly = on; }

bool IsMonitoring() { return state.monitoring; }
void SetMonitoring(bool on) { state.monitoring = on; }

bool IsMotionDetected() { return state.motionDetected; }
void SetMotionDetected(bool on) { state.motionDetected = on; }

bool IsCaptureRunning() { return state.captureRunning; }
void SetCaptureRunning(bool on) { state.captureRunning = on; }

bool IsUnattended() { return state.unattended; }
void SetUnattended(bool on) { state.unattended = on; }

bool MessagesShown() { return state.showMessages; }
void SetMessagesShown(bool on) { state.showMessages = on; }

bool UserMessagesShown() { return state.userShowMessages; }
void SetUserMessagesShown(bool on) { state.userShowMessages = on; }

int MonitoringCountdown() { return state.monitoringCountdown; }
void SetMonitoringCountdown(int periods) { state.monitoringCountdown = periods; }
void CountDownMonitoring() { --state.monitoringCountdown; }

bool ClearDirectoryUnreached() { return state.directoryUnreached.exchange(false); }
bool MarkMotionDetected() { return state.motionDetected.exchange(true); }

void ResetServerState()
{
    state.streaming = false;
    state.fileEncoding = false;
    state.connected = false;
    state.disconnected = true;
    state.configuringPorts = false;
    state.testing = false;
    state.initializing = false;
    state.recording = false;
    state.recordingStoppedEarly = false;
    state.monitoring = false;
    state.monitoringCountdown = 0;
    state.running = false;
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
    ShowMessage(text, state.showMessages, 0, callerFile);
    return -1;
}
