#include "guide/recording_rules.h"

#include <QXmlStreamWriter>

#include <algorithm>
#include <set>

namespace {

constexpr const char* kRuleColumns =
    "id, title, title_contains, channel, series, new_only, keep, early_minutes, late_minutes, showing";

RecordingRule RuleAt(sqlite3_stmt* statement)
{
    RecordingRule rule;
    rule.id = sqlite3_column_int64(statement, 0);
    rule.title = ColumnText(statement, 1);
    rule.titleContains = sqlite3_column_int(statement, 2) != 0;
    rule.channel = sqlite3_column_int(statement, 3);
    rule.series = sqlite3_column_int(statement, 4) != 0;
    rule.newOnly = sqlite3_column_int(statement, 5) != 0;
    rule.keep = sqlite3_column_int(statement, 6);
    rule.earlyMinutes = sqlite3_column_int(statement, 7);
    rule.lateMinutes = sqlite3_column_int(statement, 8);
    rule.showing = sqlite3_column_int64(statement, 9);
    return rule;
}

bool Overlap(const PlannedRecording& a, const PlannedRecording& b)
{
    return a.start < b.end && b.start < a.end;
}

} // namespace

std::string ProgrammeFileStem(const GuideProgramme& programme)
{
    std::string stem = programme.title.empty() ? "Recording" : programme.title;
    if (!programme.episode.empty())
        stem += " - " + programme.episode;
    stem += " - " + LocalTimeText(programme.start, "%Y-%m-%d %H-%M");
    for (char& c : stem)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    // Room for the extension within a file system's 255 bytes, cut at a
    // whole UTF-8 character.
    size_t length = std::min<size_t>(stem.size(), 200);
    while (length > 0 && length < stem.size() && (static_cast<unsigned char>(stem[length]) & 0xC0) == 0x80)
        --length;
    stem.resize(length);
    return stem.front() == '.' ? "_" + stem.substr(1) : stem;
}

std::string ProgrammeNfo(const GuideProgramme& programme, int channel)
{
    QString text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("episodedetails");
    auto element = [&xml](const char* name, const std::string& value) {
        if (!value.empty())
            xml.writeTextElement(name, QString::fromStdString(value));
    };
    element("title", programme.subTitle.empty() ? programme.title : programme.subTitle);
    element("showtitle", programme.title);
    int season = 0, episode = 0;
    if (std::sscanf(programme.episode.c_str(), "S%dE%d", &season, &episode) == 2) {
        element("season", std::to_string(season));
        element("episode", std::to_string(episode));
    }
    element("plot", programme.description);
    element("aired", LocalTimeText(programme.start, "%Y-%m-%d"));
    element("premiered", LocalTimeText(programme.start, "%Y-%m-%d %H:%M"));
    element("studio", "Channel " + std::to_string(channel));
    xml.writeEndElement();
    xml.writeEndDocument();
    return text.toStdString();
}

std::optional<GuideRecording> RecordingRules::RecordingInSlot(int slot)
{
    SqliteStatement statement = store_.Prepare(
        "SELECT p.channel_id, p.start, p.stop, p.title, p.sub_title, p.description, p.episode, s.rule_id FROM slotted s "
        "JOIN channel_map m ON m.channel = s.channel JOIN programmes p ON p.channel_id = m.guide_id AND "
        "p.start = s.programme_start WHERE s.slot = ?1 LIMIT 1");
    if (!statement)
        return std::nullopt;
    sqlite3_bind_int(statement.get(), 1, slot);
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        return std::nullopt;
    auto text = [&statement](int column) { return ColumnText(statement.get(), column); };
    GuideRecording recording;
    recording.ruleId = sqlite3_column_int64(statement.get(), 7);
    GuideProgramme& programme = recording.programme;
    programme.channelId = text(0);
    programme.start = sqlite3_column_int64(statement.get(), 1);
    programme.stop = sqlite3_column_int64(statement.get(), 2);
    programme.title = text(3);
    programme.subTitle = text(4);
    programme.description = text(5);
    programme.episode = text(6);
    return recording;
}

std::optional<GuideRecording> RecordingRules::RecordingStartingOn(int channel, int64_t from, int64_t to)
{
    SqliteStatement statement =
        store_.Prepare("SELECT slot FROM slotted WHERE channel = ?1 AND start >= ?2 AND start < ?3 LIMIT 1");
    if (!statement)
        return std::nullopt;
    sqlite3_bind_int(statement.get(), 1, channel);
    sqlite3_bind_int64(statement.get(), 2, from);
    sqlite3_bind_int64(statement.get(), 3, to);
    if (sqlite3_step(statement.get()) != SQLITE_ROW)
        return std::nullopt;
    return RecordingInSlot(sqlite3_column_int(statement.get(), 0));
}

std::string DescribeProgramme(const PlannedRecording& planned)
{
    return "\"" + planned.programme.title + "\"" +
           (planned.programme.episode.empty() ? "" : " " + planned.programme.episode) + " on channel " +
           std::to_string(planned.channel) + " at " + LocalTimeText(planned.programme.start, "%Y-%m-%d %H:%M");
}

std::string DescribePlanned(const PlannedRecording& planned)
{
    if (!planned.conflict.empty())
        return "will not record " + DescribeProgramme(planned) + ": it " + planned.conflict;
    return "records " + DescribeProgramme(planned) + ", " + LocalTimeText(planned.start, "%H:%M") + "-" +
           LocalTimeText(planned.end, "%H:%M");
}

std::string DescribeRule(const RecordingRule& rule)
{
    std::string text = "Rule " + std::to_string(rule.id) + ": " +
                       (rule.series ? (rule.newOnly ? "every new episode of " : "every showing of ") : "once, ") +
                       (rule.titleContains ? "a title containing \"" : "\"") + rule.title + "\" on " +
                       (rule.channel < 0 ? "any channel" : "channel " + std::to_string(rule.channel)) + ", " +
                       std::to_string(rule.earlyMinutes) + " min early, " + std::to_string(rule.lateMinutes) +
                       " min late";
    if (rule.keep > 0)
        text += ", keeping the newest " + std::to_string(rule.keep);
    return text + ".";
}

int64_t RecordingRules::Add(const RecordingRule& rule)
{
    for (const RecordingRule& made : All()) {
        if (made.title == rule.title && made.titleContains == rule.titleContains && made.channel == rule.channel &&
            made.series == rule.series && made.newOnly == rule.newOnly && made.showing == rule.showing) {
            error_ = "Rule " + std::to_string(made.id) + " records that already.";
            return 0;
        }
    }
    SqliteStatement add = store_.Prepare(
        "INSERT INTO rules(title, title_contains, channel, series, new_only, keep, early_minutes, late_minutes, "
        "showing) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    if (!add) {
        error_ = store_.Error();
        return 0;
    }
    BindText(add.get(), 1, rule.title);
    const int values[] = {rule.titleContains, rule.channel, rule.series, rule.newOnly,
                          rule.keep,          rule.earlyMinutes, rule.lateMinutes};
    for (int i = 0; i < 7; ++i)
        sqlite3_bind_int(add.get(), i + 2, values[i]);
    sqlite3_bind_int64(add.get(), 9, rule.showing);
    if (sqlite3_step(add.get()) != SQLITE_DONE) {
        error_ = sqlite3_errmsg(store_.db_.get());
        return 0;
    }
    return sqlite3_last_insert_rowid(store_.db_.get());
}

// A removed rule's id may be given to a rule made later: its recordings
// are no longer its, so that the new rule's keep never counts them.
bool RecordingRules::Remove(int64_t id)
{
    if (!store_.Execute("BEGIN IMMEDIATE")) {
        error_ = store_.Error();
        return false;
    }
    const bool removed = Change("DELETE FROM rules WHERE id = ?1", {id}) && sqlite3_changes(store_.db_.get()) > 0;
    if (removed && Change("UPDATE recordings SET rule_id = 0 WHERE rule_id = ?1", {id}) && store_.Execute("COMMIT"))
        return true;
    store_.Execute("ROLLBACK");
    if (!removed)
        error_ = "There is no rule " + std::to_string(id) + ".";
    return false;
}

bool RecordingRules::RetireIfOneOff(int64_t id)
{
    for (const RecordingRule& rule : All())
        if (rule.id == id && !rule.series)
            return Remove(id);
    return false;
}

bool RecordingRules::Prefer(int64_t id)
{
    if (!Change("UPDATE rules SET preference = (SELECT MIN(preference) FROM rules) - 1 WHERE id = ?1", {id}))
        return false;
    if (sqlite3_changes(store_.db_.get()) > 0)
        return true;
    error_ = "There is no rule " + std::to_string(id) + ".";
    return false;
}

bool RecordingRules::Edit(const RecordingRule& rule)
{
    if (!Change("UPDATE rules SET early_minutes = ?2, late_minutes = ?3, keep = ?4, new_only = ?5 WHERE id = ?1",
                {rule.id, rule.earlyMinutes, rule.lateMinutes, rule.keep, rule.newOnly}))
        return false;
    if (sqlite3_changes(store_.db_.get()) > 0)
        return true;
    error_ = "There is no rule " + std::to_string(rule.id) + ".";
    return false;
}

std::vector<RecordingRule> RecordingRules::All()
{
    SqliteStatement rules =
        store_.Prepare((std::string("SELECT ") + kRuleColumns + " FROM rules ORDER BY preference, id").c_str());
    std::vector<RecordingRule> all;
    while (rules && sqlite3_step(rules.get()) == SQLITE_ROW)
        all.push_back(RuleAt(rules.get()));
    return all;
}

// The programmes the rule asks for, with its margins, before conflicts.
std::vector<PlannedRecording> RecordingRules::Candidates(const RecordingRule& rule, int64_t now)
{
    const char* titleTest = rule.titleContains ? "instr(lower(p.title), lower(?1)) > 0" : "p.title = ?1";
    // A programme stays planned until its late margin has passed: a
    // recording right after it on the channel keeps its time meanwhile.
    const std::string sql = std::string("SELECT m.channel, p.start, p.stop, p.title, p.sub_title, p.description, "
                                        "p.episode, p.previously_shown FROM programmes p JOIN channel_map m ON "
                                        "m.guide_id = p.channel_id WHERE ") +
                            titleTest +
                            " AND (?2 < 0 OR m.channel = ?2) AND p.stop + ?4 > ?3 AND (?5 = 0 OR p.start = ?5) "
                            "ORDER BY p.start";
    SqliteStatement statement = store_.Prepare(sql.c_str());
    std::vector<PlannedRecording> candidates;
    if (!statement)
        return candidates;
    BindText(statement.get(), 1, rule.title);
    sqlite3_bind_int(statement.get(), 2, rule.channel);
    sqlite3_bind_int64(statement.get(), 3, now);
    sqlite3_bind_int64(statement.get(), 4, rule.lateMinutes * 60);
    sqlite3_bind_int64(statement.get(), 5, rule.series ? 0 : rule.showing);
    std::set<std::string> episodesSeen;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        PlannedRecording planned;
        planned.ruleId = rule.id;
        planned.channel = sqlite3_column_int(statement.get(), 0);
        GuideProgramme& programme = planned.programme;
        programme.start = sqlite3_column_int64(statement.get(), 1);
        programme.stop = sqlite3_column_int64(statement.get(), 2);
        auto text = [&statement](int column) { return ColumnText(statement.get(), column); };
        programme.title = text(3);
        programme.subTitle = text(4);
        programme.description = text(5);
        programme.episode = text(6);
        programme.previouslyShown = sqlite3_column_int(statement.get(), 7) != 0;
        // A repeat: shown before, or an episode this rule already takes.
        if (rule.newOnly && (programme.previouslyShown ||
                             (!programme.episode.empty() && !episodesSeen.insert(programme.episode).second)))
            continue;
        planned.start = programme.start - rule.earlyMinutes * 60;
        planned.end = *programme.stop + rule.lateMinutes * 60;
        candidates.push_back(std::move(planned));
        if (!rule.series)
            break;
    }
    return candidates;
}

void RecordingRules::MarkSkipped(std::vector<PlannedRecording>& plan)
{
    SqliteStatement skipped = store_.Prepare("SELECT 1 FROM skipped WHERE channel = ?1 AND programme_start = ?2");
    for (PlannedRecording& planned : plan) {
        if (!skipped || !planned.conflict.empty())
            continue;
        sqlite3_bind_int(skipped.get(), 1, planned.channel);
        sqlite3_bind_int64(skipped.get(), 2, planned.programme.start);
        if (sqlite3_step(skipped.get()) == SQLITE_ROW)
            planned.conflict = "was skipped: its schedule was deleted";
        sqlite3_reset(skipped.get());
    }
}

std::vector<SlottedRecording> RecordingRules::Slotted()
{
    SqliteStatement slotted =
        store_.Prepare("SELECT slot, rule_id, channel, programme_start, start, end FROM slotted ORDER BY slot");
    std::vector<SlottedRecording> all;
    while (slotted && sqlite3_step(slotted.get()) == SQLITE_ROW) {
        auto number = [&slotted](int column) { return sqlite3_column_int64(slotted.get(), column); };
        all.push_back({static_cast<int>(number(0)), number(1), static_cast<int>(number(2)), number(3), number(4),
                       number(5)});
    }
    return all;
}

bool RecordingRules::Change(const char* sql, std::initializer_list<int64_t> values)
{
    SqliteStatement statement = store_.Prepare(sql);
    if (!statement)
        return false;
    int index = 0;
    for (int64_t value : values)
        sqlite3_bind_int64(statement.get(), ++index, value);
    if (sqlite3_step(statement.get()) == SQLITE_DONE)
        return true;
    error_ = sqlite3_errmsg(store_.db_.get());
    return false;
}

bool RecordingRules::Slot(int slot, const PlannedRecording& planned)
{
    return Change("INSERT OR REPLACE INTO slotted(slot, rule_id, channel, programme_start, start, end) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                  {slot, planned.ruleId, planned.channel, planned.programme.start, planned.start, planned.end});
}

bool RecordingRules::Unslot(int slot)
{
    return Change("DELETE FROM slotted WHERE slot = ?1", {slot});
}

bool RecordingRules::Skip(int channel, int64_t programmeStart)
{
    return Change("INSERT OR IGNORE INTO skipped(channel, programme_start) VALUES (?1, ?2)", {channel, programmeStart});
}

bool RecordingRules::Recorded(const GuideRecording& recording, int channel, const std::string& path)
{
    SqliteStatement note = store_.Prepare(
        "INSERT OR REPLACE INTO recordings(path, rule_id, channel, programme_start, programme_stop, title, sub_title, "
        "description, episode) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    if (!note)
        return false;
    const GuideProgramme& programme = recording.programme;
    BindText(note.get(), 1, path);
    sqlite3_bind_int64(note.get(), 2, recording.ruleId);
    sqlite3_bind_int(note.get(), 3, channel);
    sqlite3_bind_int64(note.get(), 4, programme.start);
    sqlite3_bind_int64(note.get(), 5, programme.stop.value_or(programme.start));
    int column = 6;
    for (const std::string* text : {&programme.title, &programme.subTitle, &programme.description, &programme.episode})
        BindText(note.get(), column++, *text);
    if (sqlite3_step(note.get()) == SQLITE_DONE)
        return true;
    error_ = sqlite3_errmsg(store_.db_.get());
    return false;
}

std::vector<std::string> RecordingRules::BeyondKeep(const std::string& finishedPath)
{
    // The newest `keep` of the finished file's rule stay; a rule that keeps
    // all (0) or is gone deletes nothing.
    SqliteStatement beyond = store_.Prepare(
        "SELECT r.path FROM recordings r JOIN rules u ON u.id = r.rule_id "
        "WHERE r.rule_id = (SELECT rule_id FROM recordings WHERE path = ?1) AND u.keep > 0 "
        "ORDER BY r.programme_start DESC LIMIT -1 OFFSET "
        "COALESCE((SELECT keep FROM rules WHERE id = (SELECT rule_id FROM recordings WHERE path = ?1)), 0)");
    std::vector<std::string> paths;
    if (!beyond)
        return paths;
    BindText(beyond.get(), 1, finishedPath);
    while (sqlite3_step(beyond.get()) == SQLITE_ROW)
        paths.push_back(ColumnText(beyond.get(), 0));
    std::reverse(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> RecordingRules::OfTheSameRule(const std::string& finishedPath)
{
    SqliteStatement same = store_.Prepare(
        "SELECT path FROM recordings WHERE rule_id = (SELECT rule_id FROM recordings WHERE path = ?1) AND rule_id > 0");
    std::vector<std::string> paths;
    if (!same)
        return paths;
    BindText(same.get(), 1, finishedPath);
    while (sqlite3_step(same.get()) == SQLITE_ROW)
        paths.push_back(ColumnText(same.get(), 0));
    return paths;
}

bool RecordingRules::Forget(const std::string& path)
{
    SqliteStatement forget = store_.Prepare("DELETE FROM recordings WHERE path = ?1");
    if (!forget)
        return false;
    BindText(forget.get(), 1, path);
    return sqlite3_step(forget.get()) == SQLITE_DONE;
}

std::vector<PlannedRecording> RecordingRules::Plan(int64_t now)
{
    std::vector<PlannedRecording> plan;
    for (const RecordingRule& rule : All()) {
        for (PlannedRecording& candidate : Candidates(rule, now)) {
            for (PlannedRecording& earlier : plan) {
                if (!earlier.conflict.empty() || !Overlap(candidate, earlier))
                    continue;
                // The same programme twice records once.
                if (earlier.channel == candidate.channel && earlier.programme.start == candidate.programme.start) {
                    candidate.conflict = "recorded already by rule " + std::to_string(earlier.ruleId);
                    break;
                }
                // Back to back on one channel: only the margins meet, and
                // the later recording starts when the earlier ends.
                if (earlier.channel == candidate.channel && *earlier.programme.stop <= candidate.programme.start) {
                    candidate.start = std::max(candidate.start, earlier.end);
                    continue;
                }
                if (earlier.channel == candidate.channel && *candidate.programme.stop <= earlier.programme.start) {
                    candidate.end = std::min(candidate.end, earlier.start);
                    continue;
                }
                candidate.conflict = "conflicts with " + DescribeProgramme(earlier) + " (rule " +
                                     std::to_string(earlier.ruleId) + ", which wins)";
                break;
            }
            plan.push_back(std::move(candidate));
        }
    }
    MarkSkipped(plan);
    std::stable_sort(plan.begin(), plan.end(),
                     [](const PlannedRecording& a, const PlannedRecording& b) { return a.start < b.start; });
    return plan;
}
