#include "guide/guide_refresh.h"

#include "guide/guide_download.h"
#include "platform/log.h"

#include <charconv>
#include <ctime>
#include <memory>
#include <random>

namespace {

constexpr int64_t kLeastGapSeconds = 12 * 3600;
constexpr int64_t kRetrySeconds = 3600;
constexpr int kLookMs = 60 * 1000;
constexpr int kStopLimitMs = 2000;
const std::string kRefreshMinute = "guide_refresh_minute";

int64_t FactNumber(GuideStore& store, const std::string& name, int64_t fallback)
{
    const std::string text = store.Fact(name);
    int64_t number = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), number);
    return parsed.ec == std::errc() && parsed.ptr == text.data() + text.size() ? number : fallback;
}

// The local time of day's minute on the day of fields, in UTC seconds.
int64_t AtMinute(std::tm fields, int minuteOfDay)
{
    fields.tm_hour = minuteOfDay / 60;
    fields.tm_min = minuteOfDay % 60;
    fields.tm_sec = 0;
    fields.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&fields));
}

} // namespace

int64_t NextGuideRefresh(int64_t imported, int minuteOfDay)
{
    const int64_t earliest = imported + kLeastGapSeconds;
    const std::time_t day = static_cast<std::time_t>(earliest);
    std::tm fields{};
    localtime_r(&day, &fields);
    const int64_t sameDay = AtMinute(fields, minuteOfDay);
    if (sameDay >= earliest)
        return sameDay;
    ++fields.tm_mday;
    return AtMinute(fields, minuteOfDay);
}

int GuideRefreshMinute(GuideStore& store)
{
    const int64_t kept = FactNumber(store, kRefreshMinute, -1);
    if (kept >= 0 && kept < 24 * 60)
        return static_cast<int>(kept);
    std::random_device random;
    const int minute = std::uniform_int_distribution<int>(0, 24 * 60 - 1)(random);
    if (!store.SetFact(kRefreshMinute, std::to_string(minute)))
        Log("The guide's refresh minute cannot be kept: " + store.Error());
    return minute;
}

GuideImportResult RefreshGuide(GuideStore& store, const std::vector<LineupChannel>& lineup, const StopRequest* stop)
{
    const std::string source = store.Fact(kGuideSource);
    if (source.empty())
        return ImportFailed("refresh", "no guide was imported yet, so there is nothing to refresh from");
    return ImportGuideFrom(store, source, lineup, stop);
}

bool GuideRefresh::Start()
{
    stop_.Clear();
    return thread_.Start([this] { return Run(); });
}

void GuideRefresh::Stop()
{
    stop_.Ask();
    if (thread_.WaitForExit(kStopLimitMs))
        return;
    Log("The guide's refresh did not end in time; it is waited for.");
    thread_.WaitForExit();
}

int GuideRefresh::Run()
{
    do
        RefreshIfDue(static_cast<int64_t>(std::time(nullptr)));
    while (!stop_.PauseFor(kLookMs));
    return 0;
}

void GuideRefresh::RefreshIfDue(int64_t now)
{
    std::string error;
    const std::unique_ptr<GuideStore> store = GuideStore::Open(databasePath_.empty() ? GuideDatabasePath() : databasePath_, error);
    if (!store) {
        Log("The guide cannot be refreshed: " + error);
        return;
    }
    const std::string source = store->Fact(kGuideSource);
    if (source.empty() || now < retryAt_)
        return;
    const int64_t imported = FactNumber(*store, kGuideImportedAt, 0);
    if (now < NextGuideRefresh(imported, GuideRefreshMinute(*store)))
        return;
    // Without the lineup every channel would lose its automatic match.
    const std::vector<LineupChannel> lineup = lineup_();
    if (lineup.empty()) {
        Log("The guide is not refreshed now: no channel of the lineup is enabled, or it could not be asked for.");
        retryAt_ = now + kRetrySeconds;
        return;
    }
    Log("The guide is being refreshed from " + source + ".");
    const GuideImportResult result = RefreshGuide(*store, lineup, &stop_);
    retryAt_ = result.imported ? 0 : now + kRetrySeconds;
}
