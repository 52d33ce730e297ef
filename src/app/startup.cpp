#include "app/startup.h"

#include "capture/capture_graph.h"
#include "config/settings.h"
#include "encode/live_encoder.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "guide/guide_import.h"
#include "guide/guide_refresh.h"
#include "media/file_transcoder.h"
#include "net/connectivity.h"
#include "net/port_mapping_policy.h"
#include "net/update_check.h"
#include "platform/instance_lock.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "record/recording_control.h"
#include "record/recording_repair.h"
#include "record/schedule_thread.h"
#include "server/net_state.h"
#include "server/sender.h"
#include "server/server_control.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "shared/server_state.h"

#include <atomic>
#include <chrono>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

namespace {
// Live as long as the program: started with it, stopped first at shutdown.
ScheduleThread scheduleThread;
// The lineup is the window thread's: the refresh asks for it there.
constexpr int kLineupAskLimitMs = 10000;
GuideRefresh guideRefresh([] {
    std::vector<LineupChannel> lineup;
    CallOnWindowThread([&lineup] { lineup = EnabledLineup(); }, kLineupAskLimitMs);
    return lineup;
});
} // namespace

int RunInitialisationSequence(Tuner& tuner)
{
    ResetServerState();
    SetPreviewVisible(false);
    SetPreviewMuted(true);
    gNet.testPending = 1;
    gReachability.behindNat = 1;
    // Tests shorten how often an unattended server tries the directory again.
    if (const char* retry = std::getenv("ORVANDEL_DIRECTORY_RETRY_SECONDS"); retry && std::atoi(retry) > 0)
        SetDirectoryRetrySeconds(std::atoi(retry));
    gReachability.portsMapped = 0;
    SetDefaultSettings();
    SetDefaultEncoderParams();
    // The encoders' own statistics and notes have no reader in a desktop program.
    av_log_set_level(AV_LOG_ERROR);
    if (CreateGraphObjects() != 0)
        return 0;
    EnumerateCaptureDevices();
    gGrabbers.ResetExitSignals();
    gReachability.mappingEnded.Reset();
    if (AllocateLargeBuffers() != 0) {
        ShowMessage("Out of memory!", 1, 0);
        return 0;
    }
    AttachStreamBuffers();
    SetSampleConsumer(&LiveEncodeSteps());
    SetFileStreamProducer(&FileTranscoderFor);
    ResetSeekIndex();
    LoadSettings();
    if (!InstanceLock::TryTake())
        Log("Another Orvandel seems to run for this user; orvandel-setup will not change the settings meanwhile.");
    // Before any scheduled recording can start, and never under another
    // instance that may be recording into the folder.
    else if (gSettings.record.recordingFolder[0] != 0)
        RepairUnclosedRecordings(gSettings.record.recordingFolder);
    AuthorizeInFirewall(ExecutablePath());
    PortMapping().ReportRunsTo([](bool running) {
        SetConfiguringPorts(running);
        UpdateStatusText();
    });
    StartAddressWatcher();
    ServeRecordingRequests(tuner);
    if (!scheduleThread.Start(tuner))
        Log("No thread could be started for the scheduled recordings.");
    if (!guideRefresh.Start())
        Log("No thread could be started for the guide's daily refresh.");
    ClearManualUpdateRequest();
    StartUpdateCheck(false);
    ReconcileChannelDevices();
    return 1;
}

namespace {
// What shutdown gives the network, session and watcher threads together,
// within the 5 seconds the whole of it may take.
constexpr int kThreadsEndLimitMs = 3000;
} // namespace

void ShutdownProcess(Tuner& tuner)
{
    // First, so that no scheduled start is posted while the rest stops, and
    // the slots are saved as its last pass left them.
    scheduleThread.Stop();
    guideRefresh.Stop();
    StopServingRecordingRequests();
    SaveSettings();
    // From here a session that would ask the window thread goes on without
    // it: what it would have stopped, shutdown stops.
    CloseWindowThreadCalls();
    // Stopping the capture joins its streaming threads, so nothing encodes
    // or writes the recording after this.
    StopCapture();
    EndServing(tuner);
    FinishRecordingAtShutdown();
    ReleaseGraphObjects();
    // One bounded wait for all: a thread stuck in a network call must not
    // keep the program from ending. One that does not end in time is left
    // running, so the buffers it may touch stay allocated.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kThreadsEndLimitMs);
    auto left = [deadline] {
        const auto now = std::chrono::steady_clock::now();
        return now >= deadline ? 0 : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    };
    StopAddressWatcher(left());
    bool ended = gNet.networkThread.Wait(left());
    ended = gNet.sessionThread.Wait(left()) && ended;
    if (ended)
        FreeLargeBuffers();
    // It touches none of the buffers: whatever time is left.
    WaitForUpdateCheck(left());
}

namespace {
bool headless = false;
std::atomic<bool> firstRun{false};
} // namespace

void SetHeadless(bool withoutDisplay)
{
    headless = withoutDisplay;
}

bool RunningHeadless()
{
    return headless;
}

bool IsFirstRun() { return firstRun; }
void SetFirstRun(bool on) { firstRun = on; }

namespace {

bool AnyMediaFolderShared()
{
    for (const MediaFolderEntry& folder : gSettings.record.mediaFolders)
        if (folder.used)
            return true;
    return false;
}

} // namespace

void LogMissingSetUp()
{
    const std::string settings = SettingsFilePath();
    if (!AccountIsStored())
        Log(kNoAccountText);
    if (gSettings.record.enabledChannels == 0)
        Log("No channel is set up in the lineup. Set it up with Channel > Channel Lineup... on a desktop, or with "
            "\"orvandel-setup devices\" and \"orvandel-setup channel N --video DEVICE\" while Orvandel is stopped.");
    if (!AnyMediaFolderShared())
        Log("No media folder is shared. Add one with Settings > Select Media Folders... on a desktop, or with "
            "\"orvandel-setup folder add PATH\" while Orvandel is stopped. The settings live in " + settings + ".");
}

