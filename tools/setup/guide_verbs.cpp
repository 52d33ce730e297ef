#include "guide_verbs.h"

#include "guide/guide_import.h"
#include "guide/guide_store.h"
#include "verb_status.h"

#include <charconv>
#include <cstdio>
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

std::string LocalText(int64_t at, const char* format)
{
    const std::time_t time = static_cast<std::time_t>(at);
    std::tm fields{};
    localtime_r(&time, &fields);
    char text[64];
    std::strftime(text, sizeof text, format, &fields);
    return text;
}

void PrintEntry(const GuideEntry& entry)
{
    const GuideProgramme& programme = entry.programme;
    std::string line = std::to_string(entry.channel) + "  " + LocalText(programme.start, "%Y-%m-%d %H:%M") + "-" +
                       LocalText(programme.stop.value_or(programme.start), "%H:%M") + "  " + programme.title;
    if (!programme.episode.empty())
        line += " (" + programme.episode + ")";
    if (!programme.subTitle.empty())
        line += ": " + programme.subTitle;
    std::printf("%s\n", line.c_str());
}

std::unique_ptr<GuideStore> OpenStore()
{
    std::string error;
    std::unique_ptr<GuideStore> store = GuideStore::Open(GuideDatabasePath(), error);
    if (!store)
        std::fprintf(stderr, "%s\n", error.c_str());
    return store;
}

int Import(const std::string& path)
{
    const std::unique_ptr<GuideStore> store = OpenStore();
    if (!store)
        return kRefused;
    const GuideImportResult result = ImportGuideFile(*store, path, EnabledLineup());
    if (!result.imported)
        return Refuse("The guide was not imported, and the old guide stays: " + result.error);
    std::printf("Imported %s\n", DescribeImport(result).c_str());
    return kDone;
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
                    LocalText(*at, "%Y-%m-%d %H:%M").c_str());
    for (const GuideEntry& entry : entries)
        PrintEntry(entry);
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

} // namespace

int GuideVerb(const std::vector<std::string>& positional, const std::map<std::string, std::string>& options)
{
    if (positional.size() == 2 && positional[0] == "import")
        return Import(positional[1]);
    if (positional.size() == 1 && positional[0] == "show")
        return Show(options);
    if (positional.size() == 3 && positional[0] == "map")
        return Map(positional[1], positional[2]);
    return Usage("guide needs import FILE, show [--channel N] [--at \"YYYY-MM-DD HH:MM\"] or map GUIDE-ID CHANNEL");
}
