#include "net/update_check.h"

#include "config/settings.h"
#include "net/web_client.h"
#include "net/web_host.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "platform/thread.h"

#include <atomic>
#include <mutex>

namespace {

constexpr std::string_view kVersionKey = "version=";

WorkerThread checkThread;
// Set by the Help command; kept once set.
std::atomic<bool> manualCheck{false};

// What the last check brought back, handed from its thread to the window thread.
struct CheckOutcome {
    bool fetched = false;
    std::optional<std::string> published;
};
std::mutex outcomeLock;
CheckOutcome lastOutcome;

int RunUpdateCheck()
{
    char response[kWebResponseSize] = "";
    size_t received = 0;
    CheckOutcome outcome;
    outcome.fetched =
        HttpGet(response, sizeof response, &received, WebUrl(kVersionDocumentPath).c_str(), kHttp11) == 0;
    if (outcome.fetched)
        outcome.published = PublishedVersion(std::string_view(response, received));
    else
        Log("The update check could not reach " + WebHost() + ".");
    {
        std::lock_guard hold(outcomeLock);
        lastOutcome = outcome;
    }
    PostAppMessage(MessageTarget::Frame, kMsgUpdateCheckDone);
    return outcome.published ? 0 : -1;
}

} // namespace

std::optional<std::string> PublishedVersion(std::string_view response)
{
    const size_t key = response.find(kVersionKey);
    if (key == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = response.substr(key + kVersionKey.size());
    return std::string(rest.substr(0, rest.find('<')));
}

UpdateNotice NoticeFor(bool fetched, const std::optional<std::string>& published, bool manual, bool dontAsk)
{
    if (!fetched)
        return manual ? UpdateNotice::ConnectionError : UpdateNotice::Nothing;
    if (!published)
        return UpdateNotice::Nothing;
    if (*published != kOwnVersion && (!dontAsk || manual))
        return UpdateNotice::NewVersion;
    return manual ? UpdateNotice::NoNewVersion : UpdateNotice::Nothing;
}

void ClearManualUpdateRequest()
{
    manualCheck = false;
}

bool StartUpdateCheck(bool manual)
{
    if (manual)
        manualCheck = true;
    // A check that has ended is collected here, freeing its slot.
    if (checkThread.Registered() && !checkThread.Wait(0))
        return false;
    return checkThread.Start(RunUpdateCheck);
}

bool WaitForUpdateCheck(int limitMs)
{
    return checkThread.Wait(limitMs);
}

UpdateNotice TakeUpdateNotice()
{
    CheckOutcome outcome;
    {
        std::lock_guard hold(outcomeLock);
        outcome = lastOutcome;
    }
    return NoticeFor(outcome.fetched, outcome.published, manualCheck, gSettings.record.dontAskNewVersion != 0);
}

std::string LastPublishedVersion()
{
    std::lock_guard hold(outcomeLock);
    return lastOutcome.published.value_or("");
}
