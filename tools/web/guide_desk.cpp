#include "guide_desk.h"

#include "platform/log.h"

#include <QJsonArray>

#include <optional>

namespace web {

namespace {

constexpr int kMaxChannel = 999;
constexpr qsizetype kMaxTitleBytes = 200;
constexpr int kMostRules = 100;
// A day's list carries each description up to this length; details show
// the same.
constexpr qsizetype kMostDescription = 2000;
constexpr int kPlansShownPerRule = 5;
// Margins in minutes, and recordings kept, as the setup tool takes them.
constexpr int kMostMinutes = 600;
constexpr int64_t kDaySeconds = 24 * 3600;

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

// A whole number from 0 to 10^11 (times in seconds, ids); 0 when absent.
std::optional<int64_t> secondsOf(const QJsonValue& value)
{
    if (value.isUndefined())
        return 0;
    const double number = value.toDouble(-1);
    if (!(number >= 0 && number <= 1e11) || number != static_cast<double>(static_cast<int64_t>(number)))
        return std::nullopt;
    return static_cast<int64_t>(number);
}

QJsonObject programmeFields(const GuideProgramme& programme)
{
    return QJsonObject{{"title", text(programme.title)},
                       {"subTitle", text(programme.subTitle)},
                       {"episode", text(programme.episode)},
                       {"description", text(programme.description).left(kMostDescription)},
                       {"start", double(programme.start)},
                       {"stop", double(programme.stop.value_or(programme.start))}};
}

// What the rules make of a programme: "planned", "recording" (it runs now)
// or "conflict", with the conflict's words.
void markProgramme(QJsonObject& fields, int channel, const GuideProgramme& programme,
                   const std::vector<PlannedRecording>& plan, int64_t now)
{
    for (const PlannedRecording& planned : plan) {
        if (planned.channel != channel || planned.programme.start != programme.start)
            continue;
        if (!planned.conflict.empty()) {
            fields["mark"] = "conflict";
            fields["why"] = text(DescribePlanned(planned));
            continue;
        }
        fields["mark"] = planned.start <= now && now < planned.end ? "recording" : "planned";
        fields.remove("why");
        return;
    }
}

}  // namespace

GuideStore* GuideDesk::store()
{
    if (store_)
        return store_.get();
    std::string error;
    store_ = GuideStore::Open(databasePath_.empty() ? GuideDatabasePath() : databasePath_, error);
    if (!store_ && !std::exchange(toldUnopened_, true))
        Log("the guide cannot be shown: " + error);
    return store_.get();
}

bool GuideDesk::handles(const QString& type)
{
    return type == "guidenow" || type == "guideday" || type == "rules" || type == "addrule" || type == "editrule" ||
           type == "deleterule" || type == "preferrule";
}

QJsonObject GuideDesk::answer(const QJsonObject& request, int64_t now)
{
    const QString type = request.value("type").toString();
    if (!store())
        return QJsonObject{{"type", type}, {"error", "The guide cannot be read on this PC."}};
    if (type == "guidenow")
        return onNow(now);
    if (type == "guideday")
        return day(request, now);
    if (type == "addrule")
        return addRule(request, now);
    if (type == "rules")
        return rules(now);
    if (type == "editrule")
        return editRule(request, now);
    return changeRule(request, now, type == "deleterule");
}

std::string GuideDesk::titleRecordedFrom(int channel, int64_t minute)
{
    if (!store())
        return {};
    const std::optional<GuideRecording> recording = RecordingRules(*store_).RecordingStartingOn(channel, minute, minute + 60);
    return recording ? recording->programme.title : std::string();
}

// What is on every matched channel, and what comes next.
QJsonObject GuideDesk::onNow(int64_t now)
{
    QJsonArray channels;
    for (const GuideEntry& entry : store_->OnAt(now)) {
        QJsonObject fields = programmeFields(entry.programme);
        fields.remove("description");
        fields["channel"] = entry.channel;
        const int64_t stop = entry.programme.stop.value_or(now);
        const std::vector<GuideEntry> next = store_->OnChannelBetween(entry.channel, stop, stop + 1);
        if (!next.empty())
            fields["next"] = text(next.front().programme.title);
        channels.append(fields);
    }
    return QJsonObject{{"type", "guidenow"}, {"channels", channels}};
}

// One channel's programmes for a day from `from` (default now), marked
// with what the rules make of them.
QJsonObject GuideDesk::day(const QJsonObject& request, int64_t now)
{
    const int channel = request.value("channel").toInt(-1);
    const std::optional<int64_t> asked = secondsOf(request.value("from"));
    if (channel < 0 || channel > kMaxChannel || !asked)
        return QJsonObject{{"type", "guideday"}, {"error", "Which channel and day?"}};
    const int64_t from = *asked > 0 ? *asked : now;
    const std::vector<PlannedRecording> plan = RecordingRules(*store_).Plan(now);
    QJsonArray programmes;
    for (const GuideEntry& entry : store_->OnChannelBetween(channel, from, from + kDaySeconds)) {
        QJsonObject fields = programmeFields(entry.programme);
        markProgramme(fields, channel, entry.programme, plan, now);
        programmes.append(fields);
    }
    return QJsonObject{{"type", "guideday"}, {"channel", channel}, {"from", double(from)}, {"programmes", programmes}};
}

// Every rule, in the order they win conflicts, with its next recordings.
QJsonObject GuideDesk::rules(int64_t now, const QString& result)
{
    RecordingRules rules(*store_);
    const std::vector<PlannedRecording> plan = rules.Plan(now);
    QJsonArray list;
    for (const RecordingRule& rule : rules.All()) {
        QJsonArray plans;
        for (const PlannedRecording& planned : plan)
            if (planned.ruleId == rule.id && plans.size() < kPlansShownPerRule)
                plans.append(text(DescribePlanned(planned)));
        list.append(QJsonObject{{"id", double(rule.id)},
                                {"text", text(DescribeRule(rule))},
                                {"plans", plans},
                                {"series", rule.series},
                                {"newOnly", rule.newOnly},
                                {"early", rule.earlyMinutes},
                                {"late", rule.lateMinutes},
                                {"keep", rule.keep}});
    }
    QJsonObject message{{"type", "rules"}, {"rules", list}};
    if (!result.isEmpty())
        message["result"] = result;
    return message;
}

QJsonObject GuideDesk::addRule(const QJsonObject& request, int64_t now)
{
    const QByteArray title = request.value("title").toString().toUtf8();
    const int channel = request.value("channel").toInt(-1);
    const std::optional<int64_t> showing = secondsOf(request.value("showing"));
    if (title.isEmpty() || title.size() > kMaxTitleBytes || channel < -1 || channel > kMaxChannel || !showing)
        return rules(now, "A rule needs a title of up to 200 bytes and a channel.");
    RecordingRules store(*store_);
    if (store.All().size() >= kMostRules)
        return rules(now, "There are 100 rules already; remove one first.");
    RecordingRule rule;
    rule.title = title.toStdString();
    rule.channel = channel;
    rule.series = request.value("series").toBool();
    rule.newOnly = rule.series && request.value("newOnly").toBool(true);
    rule.showing = rule.series ? 0 : *showing;
    rule.id = store.Add(rule);
    if (rule.id == 0) {
        Log("a rule from the page was not stored: " + store.Error());
        return rules(now, text(store.Error()));
    }
    for (const PlannedRecording& planned : store.Plan(now))
        if (planned.ruleId == rule.id)
            return rules(now, "Rule " + QString::number(rule.id) + " " + text(DescribePlanned(planned)) + ".");
    return rules(now, "Rule " + QString::number(rule.id) + " is made; nothing in the guide matches it yet.");
}

QJsonObject GuideDesk::editRule(const QJsonObject& request, int64_t now)
{
    const std::optional<int64_t> id = secondsOf(request.value("id"));
    RecordingRule rule;
    rule.earlyMinutes = request.value("early").toInt(-1);
    rule.lateMinutes = request.value("late").toInt(-1);
    rule.keep = request.value("keep").toInt(-1);
    rule.newOnly = request.value("newOnly").toBool();
    auto minutes = [](int value) { return value >= 0 && value <= kMostMinutes; };
    if (!id || *id <= 0 || !minutes(rule.earlyMinutes) || !minutes(rule.lateMinutes) || !minutes(rule.keep))
        return rules(now, "Margins and the number kept go from 0 to 600.");
    rule.id = *id;
    RecordingRules store(*store_);
    if (!store.Edit(rule))
        return rules(now, text(store.Error()));
    return rules(now, "Rule " + QString::number(rule.id) + " is changed.");
}

QJsonObject GuideDesk::changeRule(const QJsonObject& request, int64_t now, bool remove)
{
    const std::optional<int64_t> id = secondsOf(request.value("id"));
    RecordingRules store(*store_);
    if (!id || *id <= 0 || !(remove ? store.Remove(*id) : store.Prefer(*id)))
        return rules(now, "There is no such rule.");
    return rules(now, remove ? "Rule " + QString::number(*id) + " is removed."
                             : "Rule " + QString::number(*id) + " wins its conflicts now.");
}

}  // namespace web
