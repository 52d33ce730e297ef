#include "guide_verbs.h"

#include "guide/guide_download.h"
#include "guide/guide_import.h"
#include "guide/guide_refresh.h"
#include "guide/guide_store.h"
#include "guide/recording_rules.h"
#include "verb_status.h"

#include <QCoreApplication>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <ctime>
#include <optional>

namespace {

constexpr int64_t kDaySeconds = 24 * 3600;

std::optional<int> ChannelNumber(const std::string& text)
{
    int number = -1;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), number);
    if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || number < 0 || number > 999)
        return std::nullopt;
    return number;
}

// "YYYY-MM-DD HH:MM" in the PC's zone.
std::optional<int64_t> LocalTime(const std::string& text)
{
    std::tm fields{};
    int year = 0, month = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d", &year, &month, &fields.tm_mday, &fields.tm_hour,
                    &fields.tm_min) != 5)
        return std::nullopt;
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_isdst = -1;
    const std::time_t at = std::mktime(&fields);
    if (at == -1)
        return std::nullopt;
    return static_cast<int64_t>(at);
}

std::unique_ptr<GuideStore> OpenStore()
{
    std::string error;
    std::unique_ptr<GuideStore> store = GuideStore::Open(GuideDatabasePath(), error);
    if (!store)
        std::fprintf(stderr, "%s\n", error.c_str());
    return store;
}

// A download needs Qt's event loop, which the tool runs only for it.
template <typename Importing>
GuideImportResult WithEventLoop(Importing importing)
{
    int argc = 1;
    char name[] = "orvandel-setup";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    return importing();
}

int Told(const GuideImportResult& result)
{
    if (!result.imported)
        return Refuse("The guide was not imported, and the old guide stays: " + result.error);
    std::printf("Imported %s\n", DescribeImport(result).c_str());
    return kDone;
}

// The program refreshes the guide from the same source each day, so a file
// is remembered by its whole path.
int Import(const std::string& source)
{
    const std::unique_ptr<GuideStore> store = OpenStore();
    if (!store)
        return kRefused;
    std::string where = source;
    if (!IsGuideUrl(source)) {
        std::error_code ignored;
        const std::string path = std::filesystem::absolute(source, ignored).lexically_normal().string();
        where = path.empty() ? source : path;
    }
    return Told(WithEventLoop([&] { return ImportGuideFrom(*store, where, EnabledLineup()); }));
}

int Refresh()
{
    const std::unique_ptr<GuideStore> store = OpenStore();
    if (!store)
        return kRefused;
    return Told(WithEventLoop([&] { return RefreshGuide(*store, EnabledLineup()); }));
}

int Show(const std::map<std::string, std::string>& options)
{
    std::optional<int64_t> at = static_cast<int64_t>(std::time(nullptr));
    if (options.contains("--at") && !(at = LocalTime(options.at("--at"))))
        return Usage("--at needs a local time, \"YYYY-MM-DD HH:MM\"");
    std::optional<int> channel;
    if (options.contains("--channel") && !(channel = ChannelNumber(options.at("--channel"))))
        return Usage("--channel needs a number from 0 to 999");
    const std::unique_ptr<GuideStore> store = OpenStore();
    if (!store)
        return kRefused;
    const std::vector<GuideEntry> entries =
        channel ? store->OnChannelBetween(*channel, *at, *at + kDaySeconds) : store->OnAt(*at);
    if (!store->Error().empty())
        return Refuse("The guide could not be read: " + store->Error());
    if (entries.empty())
        std::printf("Nothing in the guide%s at %s.\n", channel ? (" of channel " + std::to_string(*channel)).c_str() : "",
                    LocalTimeText(*at, "%Y-%m-%d %H:%M").c_str());
    for (const GuideEntry& entry : entries)
        std::printf("%s\n", DescribeEntry(entry).c_str());
    return kDone;
}

int Map(const std::string& guideChannel, const std::string& channelText)
{
    const std::optional<int> channel = ChannelNumber(channelText);
    if (!channel)
        return Usage("guide map needs a channel number from 0 to 999");
    const std::unique_ptr<GuideStore> store = OpenStore();
    if (!store)
        return kRefused;
    if (!store->Map(guideChannel, *channel))
        return Refuse(store->Error());
    std::printf("The guide's \"%s\" is channel %d.\n", guideChannel.c_str(), *channel);
    return kDone;
}

// An option's whole number from 0 to 600 (minutes, or recordings kept).
std::optional<int> BoundedNumber(const VerbOptions& options, const char* name, int fallback)
{
    if (!options.contains(name))
        return fallback;
    const std::string& text = options.at(name);
    int minutes = -1;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), minutes);
    if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || minutes < 0 || minutes > 600)
        return std::nullopt;
    return minutes;
}

// The rule and what it will record, or why not.
void PrintRulePlan(const RecordingRule& rule, const std::vector<PlannedRecording>& plan)
{
    std::printf("%s\n", DescribeRule(rule).c_str());
    int shown = 0;
    for (const PlannedRecording& planned : plan) {
        if (planned.ruleId != rule.id)
            continue;
        ++shown;
        std::printf("  %s\n", DescribePlanned(planned).c_str());
        if (planned.conflict.starts_with("conflicts"))
            std::printf("  (\"rules prefer %lld\" lets this rule win)\n", static_cast<long long>(rule.id));
    }
    if (shown == 0)
        std::printf("  nothing in the guide matches it yet\n");
}

} // namespace

int RecordVerb(const std::vector<std::string>& positional, const VerbOptions& options)
{
    if (positional.size() != 1 || positional[0].empty())
        return Usage("record needs the programme's TITLE");
    RecordingRule rule;
    rule.title = positional[0];
    rule.series = options.contains("--series");
    rule.titleContains = options.contains("--contains");
    rule.newOnly = options.contains("--new-only");
    const std::optional<int> early = BoundedNumber(options, "--early", rule.earlyMinutes);
    const std::optional<int> late = BoundedNumber(options, "--late", rule.lateMinutes);
    const std::optional<int> keep = BoundedNumber(options, "--keep", 0);
    if (!early || !late || !keep)
        return Usage("--early, --late and --keep need a number from 0 to 600");
    rule.earlyMinutes = *early;
    rule.lateMinutes = *late;
    rule.keep = *keep;
    if (options.contains("--channel")) {
        const std::optional<int> channel = ChannelNumber(options.at("--channel"));
        if (!channel)
            return Usage("--channel needs a number from 0 to 999");
        rule.channel = *channel;
    }
    const std::unique_ptr<GuideStore> store = OpenStore();
    if (!store)
        return kRefused;
    RecordingRules rules(*store);
    rule.id = rules.Add(rule);
    if (rule.id == 0)
        return Refuse("The rule could not be stored: " + rules.Error());
    PrintRulePlan(rule, rules.Plan(static_cast<int64_t>(std::time(nullptr))));
    return kDone;
}

int RulesVerb(const std::vector<std::string>& positional)
{
    const std::unique_ptr<GuideStore> store = OpenStore();
    if (!store)
        return kRefused;
    RecordingRules rules(*store);
    if (positional.size() == 2 && (positional[0] == "remove" || positional[0] == "prefer")) {
        const bool removing = positional[0] == "remove";
        int64_t id = 0;
        const std::string& text = positional[1];
        if (std::from_chars(text.data(), text.data() + text.size(), id).ptr != text.data() + text.size() || id <= 0)
            return Usage("rules " + positional[0] + " needs a rule's number");
        if (!(removing ? rules.Remove(id) : rules.Prefer(id)))
            return Refuse(rules.Error());
        std::printf(removing ? "Rule %lld is removed.\n" : "Rule %lld wins its conflicts now.\n",
                    static_cast<long long>(id));
        if (removing)
            return kDone;
    } else if (!positional.empty()) {
        return Usage("rules takes nothing, remove ID or prefer ID");
    }
    const std::vector<PlannedRecording> plan = rules.Plan(static_cast<int64_t>(std::time(nullptr)));
    const std::vector<RecordingRule> all = rules.All();
    if (all.empty())
        std::printf("No recording rules.\n");
    for (const RecordingRule& rule : all)
        PrintRulePlan(rule, plan);
    return kDone;
}

int GuideVerb(const std::vector<std::string>& positional, const std::map<std::string, std::string>& options)
{
    if (positional.size() == 2 && positional[0] == "import")
        return Import(positional[1]);
    if (positional.size() == 1 && positional[0] == "refresh")
        return Refresh();
    if (positional.size() == 1 && positional[0] == "show")
        return Show(options);
    if (positional.size() == 3 && positional[0] == "map")
        return Map(positional[1], positional[2]);
    return Usage("guide needs import FILE|URL, refresh, show [--channel N] [--at \"YYYY-MM-DD HH:MM\"] or map GUIDE-ID "
                 "CHANNEL");
}
