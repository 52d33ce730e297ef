#include "server/server_control.h"

#include "shared/server_state.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "shared/resources.h"
#include "server/listener.h"
#include "server/net_state.h"

int StartServer(Tuner& tuner)
{
    gNet.testPending = gSettings.record.directoryDisabled == 0 ? 1 : 0;
    if (IsDisconnected())
        ResetStreamBuffers();
    gNet.networkThread.Wait(0);  // collects a listener that has ended by itself
    if (gNet.networkThread.Registered())
        return 0;
    // A new start tries the directory service at once.
    SetDirectoryUnreached(false);
    // Set here rather than by the thread, so that a Stop right after this
    // Start is never undone by a thread that has not run yet.
    SetServerRunning(true);
    if (!gNet.networkThread.Start([&tuner] { return RunNetworkStartup(tuner); })) {
        SetServerRunning(false);
        ShowMessage("Could not create the listener thread.", 1, 0);
        SetDisconnected(true);
        return -1;
    }
    return 0;
}

void CloseListeningSockets()
{
    // Shut down, not closed: the listener may be waiting on them and closes
    // them itself, so their numbers are never reused under it. The UDT data
    // listener needs nothing: its accept looks at the running flag.
    ShutdownShared(gNet.dataListenSocket);
    ShutdownShared(gNet.controlListenSocket);
}

void EndServing(Tuner& tuner)
{
    SetDisconnected(true);
    SetServerRunning(false);
    EndSession();
    StopStreaming(tuner);
    CloseListeningSockets();
}

void StopServer(Tuner& tuner)
{
    if (IsConfiguringPorts())
        return;
    EndServing(tuner);
    gNet.networkThread.WaitForExit();
    // The session ends by itself once its sockets are closed; stopped means
    // no thread of the server left running.
    gNet.sessionThread.WaitForExit();
    UpdateStatusText();
}
