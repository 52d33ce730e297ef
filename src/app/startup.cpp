#include "app/startup.h"

#include "app/resources.h"
#include "app/server_state.h"
#include "capture/capture_graph.h"
#include "config/settings.h"
#include "encode/live_params.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "net/connectivity.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "record/recorder.h"
#include "server/net_state.h"
#include "server/sender.h"
#include "server/server_control.h"

extern "C" {
#include <libavutil/log.h>
}

int RunInitialisationSequence()
{
    ResetServerState();
    gState.previewVisible = 0;
    gState.previewMuted = 1;
    gNet.testPending = 1;
    gBehindNat = 1;
    gPortsMapped = 0;
    SetDefaultSettings();
    SetDefaultEncoderParams();
    // The encoders' own statistics and notes have no reader in a desktop program.
    av_log_set_level(AV_LOG_ERROR);
    if (CreateGraphObjects() != 0)
        return 0;
    EnumerateCaptureDevices();
    CreateProgramEvents();
    if (AllocateLargeBuffers() != 0) {
        ShowMessage("Out of memory!", 1, 0);
        return 0;
    }
    AttachStreamBuffers();
    ResetSeekIndex();
    LoadSettings();
    AuthorizeInFirewall(ExecutablePath());
    StartAddressWatcher();
    ReconcileChannelDevices();
    return 1;
}

void ShutdownProcess()
{
    SaveSettings();
    StopCapture();
    gState.disconnected = 1;
    gState.running = 0;
    EndSession();
    StopStreaming();
    CloseRecorder();
    CloseListeningSockets();
    ReleaseGraphObjects();
    // Bounded waits: a thread stuck in a network call must not keep the
    // program from ending. One that does not end in time is left running,
    // so the buffers it may touch stay allocated.
    StopAddressWatcher(2000);
    bool ended = gNetworkThread.Wait(2000);
    ended = gSessionThread.Wait(2000) && ended;
    if (ended)
        FreeLargeBuffers();
}

bool AccountIsStored()
{
    const SettingsRecord& record = gSettings.record;
    return record.email[0] && record.userName[0] && record.password[0];
}
