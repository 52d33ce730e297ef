#include "net/connectivity.h"

#include "shared/resources.h"
#include "shared/server_state.h"
#include "config/settings.h"
#include "net/port_mapping_policy.h"
#include "net/web_client.h"
#include "net/web_host.h"
#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/thread.h"

#include <cstring>
#include <mutex>
#include <strings.h>

namespace {

constexpr char kEchoPath[] = "/cgi-bin/Orvandelip.cgi";
constexpr size_t kPublicAddressSize = 128;

std::atomic<int> retryPeriodMs{10000};
std::atomic<int> refreshPeriodMs{1200000};
std::atomic<int> stopRequested{0};
// Set by StopAddressWatcher; the watcher waits on it between its checks.
AutoResetEvent wakeUp;
// Started at start-up; StopAddressWatcher waits for it at shutdown.
WorkerThread watcherThread;

struct WatcherState {
    std::string publicAddress;
    int lastResult = -1;
};

bool HasOkStatus(std::string_view response)
{
    for (std::string_view status : {"200 OK", "200 ok", "200 Ok"}) {
        if (response.find(status) != std::string_view::npos)
            return true;
    }
    return false;
}

// The address the echo service sees this machine come from, or empty.
std::string ReadPublicAddress()
{
    char response[kWebResponseSize];
    size_t received = 0;
    if (HttpGet(WebUrl(kEchoPath), kHttp10, response, &received) != 0)
        return {};
    const std::string_view text(response, received);
    const size_t blankLine = text.find("\r\n\r\n");
    if (!HasOkStatus(text) || blankLine == std::string_view::npos)
        return {};
    const char* body = response + blankLine + 4;
    return std::string(body, strnlen(body, kPublicAddressSize - 1));
}

bool RegistrationIsDue()
{
    const uint32_t sinceLast = GetTickCount() - LastRegistrationTick();
    return sinceLast > static_cast<uint32_t>(refreshPeriodMs.load());
}

// The first address seen only becomes known; a later change means the
// directory holds a stale address for this server, and the router, perhaps
// restarted, may have lost its mappings.
void CheckPublicAddress(WatcherState& state)
{
    std::lock_guard hold(gReachability.lock);
    const std::string address = ReadPublicAddress();
    if (!address.empty() && strcasecmp(address.c_str(), state.publicAddress.c_str()) != 0) {
        const bool changed = !state.publicAddress.empty();
        state.lastResult = changed ? RegisterWithDirectory(0) : 0;
        if (changed)
            PortMapping().RenewMappings();
        state.publicAddress = address;
    } else if ((address.empty() || state.lastResult == -1) && RegistrationIsDue()) {
        state.lastResult = RegisterWithDirectory(0);
    }
}

int WatchPublicAddress()
{
    WatcherState state;
    while (!stopRequested) {
        if (IsServerRunning() && gSettings.record.directoryDisabled == 0 && UserNameIsStored())
            CheckPublicAddress(state);
        wakeUp.Wait(state.lastResult == 0 ? refreshPeriodMs.load() : retryPeriodMs.load());
    }
    return 0;
}

} // namespace

int StartAddressWatcher()
{
    if (watcherThread.Registered())
        return -1;
    stopRequested = 0;
    wakeUp.Reset();
    return watcherThread.Start(WatchPublicAddress) ? 0 : -1;
}

void StopAddressWatcher(int waitMs)
{
    stopRequested = 1;
    wakeUp.Set();
    watcherThread.Wait(waitMs);
}

void SetAddressWatcherPeriods(int retryMs, int refreshMs)
{
    retryPeriodMs = retryMs;
    refreshPeriodMs = refreshMs;
}
