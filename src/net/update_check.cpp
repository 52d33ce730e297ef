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

// What the last check brought back, handed from its thread to the window thread.
struct CheckOutcome {
    bool fetched = false;
    std::optional<std::string> published;
};

// Never destroyed: a check still waiting on the network when the program
// ends must not find them gone.
struct CheckState {
    WorkerThread thread;
    // Set by the Help command; kept once set.
    std::atomic<bool> manual{false};
    // From the check's end until the window thread took its notice: a new
    // check then waits, so that the user hears of one at a time.
    std::atomic<bool> noticePending{false};
    std::mutex outcomeLock;
    CheckOutcome lastOutcome;
};
CheckState& State()
{
    static auto* state = new CheckState;
    return *state;
}

int RunUpdateCheck()
{
    char response[kWebResponseSize] = "";
    size_t received = 0;
    CheckOutcome outcome;
    outcome.fetched = HttpGet(WebUrl(kVersionDocumentPath), kHttp11, response, &received) == 0;
    if (outcome.fetched)
        outcome.published = PublishedVersion(std::string_view(response, received));
    else
        Log("The update check could not reach " + WebHost() + ".");
    CheckState& state = State();
    {
        std::lock_guard hold(state.outcomeLock);
        state.lastOutcome = outcome;
    }
    state.noticePending = true;
    if (!PostAppMessage(MessageTarget::Frame, kMsgUpdateCheckDone))
        state.noticePending = false;
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
    State().manual = false;
}

bool StartUpdateCheck(bool manual)
{
    CheckState& state = State();
    if (manual)
        state.manual = true;
    // A check that has ended is collected here, freeing its slot; one whose
    // notice is still on its way counts as running.
    if (state.noticePending || (state.thread.Registered() && !state.thread.Wait(0)))
        return false;
    return state.thread.Start(RunUpdateCheck);
}

bool WaitForUpdateCheck(int limitMs)
{
    return State().thread.Wait(limitMs);
}

UpdateNotice TakeUpdateNotice()
{
    CheckState& state = State();
    CheckOutcome outcome;
    {
        std::lock_guard hold(state.outcomeLock);
        outcome = state.lastOutcome;
    }
    state.noticePending = false;
    return NoticeFor(outcome.fetched, outcome.published, state.manual, gSettings.record.dontAskNewVersion != 0);
}

std::string LastPublishedVersion()
{
    CheckState& state = State();
    std::lock_guard hold(state.outcomeLock);
    return state.lastOutcome.published.value_or("");
}
