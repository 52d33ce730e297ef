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

int StartServer()
{
    gNet.testPending = gSettings.record.directoryDisabled == 0 ? 1 : 0;
    if (gState.disconnected)
        ResetStreamBuffers();
    gNetworkThread.Wait(0);  // collects a listener that has ended by itself
    if (gNetworkThread.Registered())
        return 0;
    // A new start tries the directory service at once.
    gState.directoryUnreached = 0;
    // Set here rather than by the thread, so that a Stop right after this
    // Start is never undone by a thread that has not run yet.
    gState.running = 1;
    if (!gNetworkThread.Start(RunNetworkStartup)) {
        gState.running = 0;
        ShowMessage("Could not create the listener thread.", 1, 0);
        gState.disconnected = 1;
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

void StopServer()
{
    if (gState.configuringPorts)
        return;
    gState.disconnected = 1;
    gState.running = 0;
    EndSession();
    StopStreaming();
    CloseListeningSockets();
    gNetworkThread.WaitForExit();
    // The session ends by itself once its sockets are closed; stopped means
    // no thread of the server left running.
    gSessionThread.WaitForExit();
    UpdateStatusText();
}
