// Feeds arbitrary bytes to a command session as a handheld would send them
// on its control connection, and reads every reply, until the session ends.

#include "shared/resources.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "encode/pipeline.h"
#include "encode/stream_buffers.h"
#include "platform/messages.h"
#include "record/recording_control.h"
#include "server/catalogue.h"
#include "server/net_state.h"
#include "server/session_state.h"

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The one the sessions hold, as the program's lives as long as it.
Tuner tuner;

bool Initialise()
{
    if (AllocateLargeBuffers() != 0)
        return false;
    AttachStreamBuffers();
    SetDefaultSettings();
    StoreScrambled(gSettings.record.userName, sizeof gSettings.record.userName, "demo");
    StoreScrambled(gSettings.record.password, sizeof gSettings.record.password, "demo");
    gSettings.channels[3].enabled = 1;
    // Starts are calls the session makes itself; channel 3 has no capture
    // device, so every one fails at once. The posted recording requests are
    // served as the program serves them.
    ServeRecordingRequests(tuner);
    // Waits that guard a real handheld only slow the search down: the
    // schedule list's pause, and the growing wait after failed logins.
    SetScheduleListPause(0);
    SetLoginThrottle(0, 0);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = Initialise();
    if (!ready)
        return 0;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return 0;
    // Each input is a new handheld: failed logins of the last one do not
    // slow it down.
    SetLoginThrottle(0, 0);
    gNet.controlSocket = ends[0];
    gNet.dataSocket = kInvalidSocket;
    gNet.sessionExit = 0;
    std::thread handheld([&] {
        for (size_t sent = 0; sent < size;) {
            ssize_t n = ::send(ends[1], data + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        ::shutdown(ends[1], SHUT_WR);
        char reply[4096];
        while (::recv(ends[1], reply, sizeof reply, 0) > 0) {
        }
    });
    RunCommandSession(tuner);
    handheld.join();
    ::close(ends[1]);
    return 0;
}
