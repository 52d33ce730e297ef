#include "guide/guide_store.h"

#include "platform/log.h"
#include "platform/paths.h"

#include <cctype>
#include <charconv>
#include <ctime>
#include <iterator>
#include <filesystem>

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS guide_channels(
  id TEXT PRIMARY KEY,
  names TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS programmes(
  id INTEGER PRIMARY KEY,
  channel_id TEXT NOT NULL,
  start INTEGER NOT NULL,
  stop INTEGER,
  title TEXT NOT NULL,
  sub_title TEXT NOT NULL,
  description TEXT NOT NULL,
  episode TEXT NOT NULL,
  previously_shown INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS programmes_by_channel ON programmes(channel_id, start);
CREATE INDEX IF NOT EXISTS programmes_by_title ON programmes(title);
CREATE TABLE IF NOT EXISTS channel_map(
  guide_id TEXT PRIMARY KEY,
  channel INTEGER NOT NULL,
  by_hand INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS rules(
  id INTEGER PRIMARY KEY,
  title TEXT NOT NULL,
  title_contains INTEGER NOT NULL,
  channel INTEGER NOT NULL,
  series INTEGER NOT NULL,
  new_only INTEGER NOT NULL,
  keep INTEGER NOT NULL,
  early_minutes INTEGER NOT NULL,
  late_minutes INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS slotted(
  slot INTEGER PRIMARY KEY,
  channel INTEGER NOT NULL,
  programme_start INTEGER NOT NULL,
  start INTEGER NOT NULL,
  end INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS skipped(
  channel INTEGER NOT NULL,
  programme_start INTEGER NOT NULL,
  PRIMARY KEY(channel, programme_start));
)sql";

// Each step brings the database from the version before it to its own
// (SQLite's user_version): step 1 makes version 1.
constexpr const char* kMigrations[] = {
    // Rules can be preferred in a conflict, and a rule for one showing
    // names it; slots and recordings know their rule; the guide remembers
    // where it came from and when.
    R"sql(
ALTER TABLE rules ADD COLUMN preference INTEGER NOT NULL DEFAULT 0;
ALTER TABLE rules ADD COLUMN showing INTEGER NOT NULL DEFAULT 0;
ALTER TABLE slotted ADD COLUMN rule_id INTEGER NOT NULL DEFAULT 0;
CREATE TABLE recordings(
  path TEXT PRIMARY KEY,
  rule_id INTEGER NOT NULL,
  channel INTEGER NOT NULL,
  programme_start INTEGER NOT NULL,
  programme_stop INTEGER NOT NULL,
  title TEXT NOT NULL,
  sub_title TEXT NOT NULL,
  description TEXT NOT NULL,
  episode TEXT NOT NULL);
CREATE INDEX recordings_by_rule ON recordings(rule_id, programme_start);
CREATE TABLE facts(
  name TEXT PRIMARY KEY,
  value TEXT NOT NULL);
)sql",
};

// The settling steps of an import, in order, each counted into its field.
struct SettleStep {
    const char* sql;
    int ImportCounts::*count;
};

const SettleStep kSettleSteps[] = {
    // Two programmes starting together: the later in the file stays.
    {"DELETE FROM programmes WHERE EXISTS (SELECT 1 FROM programmes later WHERE later.channel_id = "
     "programmes.channel_id AND later.start = programmes.start AND later.id > programmes.id)",
     &ImportCounts::overlapsDropped},
    // A missing stop is the next programme's start.
    {"UPDATE programmes SET stop = (SELECT MIN(next.start) FROM programmes next WHERE next.channel_id = "
     "programmes.channel_id AND next.start > programmes.start) WHERE stop IS NULL",
     nullptr},
    {"DELETE FROM programmes WHERE stop IS NULL", &ImportCounts::endlessDropped},
    // A programme that runs into the next one gives way to it.
    {"DELETE FROM programmes WHERE stop > (SELECT MIN(next.start) FROM programmes next WHERE next.channel_id = "
     "programmes.channel_id AND next.start > programmes.start)",
     &ImportCounts::overlapsDropped},
    {"DELETE FROM programmes WHERE stop <= start", &ImportCounts::emptyDropped},
};

std::string Lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The lineup channel a guide channel's display names point at: a name that
// is its number, else one that is its name, letter case aside. -1 for none.
int MatchLineup(const std::string& names, const std::vector<LineupChannel>& lineup)
{
    size_t from = 0;
    while (from <= names.size()) {
        const size_t end = std::min(names.find('\n', from), names.size());
        const std::string name = names.substr(from, end - from);
        int number = -1;
        const auto parsed = std::from_chars(name.data(), name.data() + name.size(), number);
        for (const LineupChannel& channel : lineup) {
            const bool byNumber = parsed.ec == std::errc() && parsed.ptr == name.data() + name.size() &&
                                  number == channel.number;
            if (byNumber || (!channel.name.empty() && Lowered(name) == Lowered(channel.name)))
                return channel.number;
        }
        from = end + 1;
    }
    return -1;
}

} // namespace

void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string DescribeEntry(const GuideEntry& entry)
{
    const GuideProgramme& programme = entry.programme;
    std::string line = std::to_string(entry.channel) + "  " + LocalTimeText(programme.start, "%Y-%m-%d %H:%M") + "-" +
                       LocalTimeText(programme.stop.value_or(programme.start), "%H:%M") + "  " + programme.title;
    if (!programme.episode.empty())
        line += " (" + programme.episode + ")";
    if (!programme.subTitle.empty())
        line += ": " + programme.subTitle;
    return line;
}

std::string GuideDatabasePath()
{
    return ConfigDir() + "/Guide.sqlite";
}

std::unique_ptr<GuideStore> GuideStore::Open(const std::string& path, std::string& error)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<GuideStore> store(new GuideStore(db));
    if (opened != SQLITE_OK) {
        error = "The guide " + path + " could not be opened: " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    // With the write-ahead log, NORMAL keeps the database whole through a
    // crash or a power cut; a cut may only lose the last import.
    if (!store->Execute("PRAGMA journal_mode=WAL") || !store->Execute("PRAGMA synchronous=NORMAL") ||
        !store->Execute(kSchema) || !store->Migrate()) {
        error = "The guide " + path + " could not be set up: " + store->Error();
        return nullptr;
    }
    store->ChangedElsewhere();
    return store;
}

int64_t GuideStore::Number(const char* sql)
{
    SqliteStatement statement = Prepare(sql);
    return statement && sqlite3_step(statement.get()) == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : -1;
}

// Brings an older database to this version, each step in a transaction of
// its own; the version is read again inside it, since the program and the
// setup tool may open the database at once.
bool GuideStore::Migrate()
{
    constexpr int64_t kVersion = std::size(kMigrations);
    int64_t found = 0;
    while ((found = Number("PRAGMA user_version")) != kVersion) {
        if (found < 0 || found > kVersion) {
            error_ = found < 0 ? "its version cannot be read"
                               : "it was made by a newer Orvandel (version " + std::to_string(found) + ")";
            return false;
        }
        if (!Execute("BEGIN IMMEDIATE"))
            return false;
        const int64_t version = Number("PRAGMA user_version");
        const bool moved = version == kVersion ||
                           (version >= 0 && version < kVersion &&
                            Execute(kMigrations[version]) &&
                            Execute(("PRAGMA user_version = " + std::to_string(version + 1)).c_str()));
        if (!moved || !Execute("COMMIT")) {
            const std::string error = error_;
            Execute("ROLLBACK");
            error_ = error;
            return false;
        }
    }
    return true;
}

bool GuideStore::ChangedElsewhere()
{
    const int64_t version = Number("PRAGMA data_version");
    const bool changed = version != dataVersion_;
    dataVersion_ = version;
    return changed;
}

std::string GuideStore::Fact(const std::string& name)
{
    SqliteStatement statement = Prepare("SELECT value FROM facts WHERE name = ?1");
    if (!statement)
        return {};
    BindText(statement.get(), 1, name);
    return sqlite3_step(statement.get()) == SQLITE_ROW ? ColumnText(statement.get(), 0) : std::string();
}

bool GuideStore::SetFact(const std::string& name, const std::string& value)
{
    SqliteStatement statement = Prepare("INSERT OR REPLACE INTO facts(name, value) VALUES (?1, ?2)");
    if (!statement)
        return false;
    BindText(statement.get(), 1, name);
    BindText(statement.get(), 2, value);
    if (sqlite3_step(statement.get()) == SQLITE_DONE)
        return true;
    error_ = sqlite3_errmsg(db_.get());
    return false;
}

bool GuideStore::Execute(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error_ = message ? message : sqlite3_errmsg(db_.get());
    sqlite3_free(message);
    return false;
}

SqliteStatement GuideStore::Prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &statement, nullptr) != SQLITE_OK)
        error_ = sqlite3_errmsg(db_.get());
    return SqliteStatement(statement);
}

GuideStore::Import::Import(GuideStore& store) : store_(store)
{
    open_ = store_.Execute("BEGIN IMMEDIATE") && store_.Execute("DELETE FROM programmes") &&
            store_.Execute("DELETE FROM guide_channels");
    addChannel_ = store_.Prepare("INSERT OR IGNORE INTO guide_channels(id, names) VALUES (?1, ?2)");
    addProgramme_ = store_.Prepare(
        "INSERT INTO programmes(channel_id, start, stop, title, sub_title, description, episode, previously_shown) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    open_ = open_ && addChannel_ && addProgramme_;
    if (!open_)
        error_ = store_.Error();
}

GuideStore::Import::~Import()
{
    addChannel_.reset();
    addProgramme_.reset();
    if (open_)
        store_.Execute("ROLLBACK");
}

void GuideStore::Import::Channel(const GuideChannel& channel)
{
    if (!open_)
        return;
    std::string names;
    for (const std::string& name : channel.displayNames)
        names += (names.empty() ? "" : "\n") + name;
    sqlite3_stmt* statement = addChannel_.get();
    BindText(statement, 1, channel.id);
    BindText(statement, 2, names);
    if (sqlite3_step(statement) != SQLITE_DONE) {
        error_ = sqlite3_errmsg(sqlite3_db_handle(statement));
        open_ = false;
        store_.Execute("ROLLBACK");
    }
    const bool added = sqlite3_changes(sqlite3_db_handle(statement)) > 0;
    channels_ += added;
    duplicates_ += !added;
    sqlite3_reset(statement);
}

void GuideStore::Import::Programme(const GuideProgramme& programme)
{
    if (!open_)
        return;
    sqlite3_stmt* statement = addProgramme_.get();
    BindText(statement, 1, programme.channelId);
    sqlite3_bind_int64(statement, 2, programme.start);
    if (programme.stop)
        sqlite3_bind_int64(statement, 3, *programme.stop);
    else
        sqlite3_bind_null(statement, 3);
    BindText(statement, 4, programme.title);
    BindText(statement, 5, programme.subTitle);
    BindText(statement, 6, programme.description);
    BindText(statement, 7, programme.episode);
    sqlite3_bind_int(statement, 8, programme.previouslyShown ? 1 : 0);
    if (sqlite3_step(statement) != SQLITE_DONE) {
        error_ = sqlite3_errmsg(sqlite3_db_handle(statement));
        open_ = false;
        store_.Execute("ROLLBACK");
    }
    sqlite3_reset(statement);
}

bool GuideStore::Import::Commit(const std::vector<LineupChannel>& lineup, const std::string& source,
                                ImportCounts& counts)
{
    if (!open_)
        return false;
    counts = ImportCounts{};
    counts.channels = channels_;
    counts.duplicateChannels = duplicates_;
    for (const SettleStep& step : kSettleSteps) {
        if (!store_.Execute(step.sql)) {
            error_ = store_.Error();
            return false;
        }
        if (step.count)
            counts.*step.count += sqlite3_changes(store_.db_.get());
    }
    counts.mapped = store_.AutoMap(lineup);
    const bool remembered = store_.SetFact(kGuideSource, source) &&
                            store_.SetFact(kGuideImportedAt, std::to_string(std::time(nullptr)));
    if (counts.mapped < 0 || !remembered || !store_.Execute("COMMIT")) {
        error_ = store_.Error();
        return false;
    }
    open_ = false;
    SqliteStatement total = store_.Prepare("SELECT COUNT(*) FROM programmes");
    if (total && sqlite3_step(total.get()) == SQLITE_ROW)
        counts.programmes = sqlite3_column_int(total.get(), 0);
    return true;
}

// Maps every guide channel not mapped by hand afresh; the number mapped, or
// -1 when SQLite failed.
int GuideStore::AutoMap(const std::vector<LineupChannel>& lineup)
{
    if (!Execute("DELETE FROM channel_map WHERE by_hand = 0"))
        return -1;
    SqliteStatement channels = Prepare(
        "SELECT id, names FROM guide_channels WHERE id NOT IN (SELECT guide_id FROM channel_map)");
    SqliteStatement add = Prepare("INSERT INTO channel_map(guide_id, channel, by_hand) VALUES (?1, ?2, 0)");
    if (!channels || !add)
        return -1;
    int mapped = 0;
    while (sqlite3_step(channels.get()) == SQLITE_ROW) {
        const int channel = MatchLineup(ColumnText(channels.get(), 1), lineup);
        if (channel < 0)
            continue;
        BindText(add.get(), 1, ColumnText(channels.get(), 0));
        sqlite3_bind_int(add.get(), 2, channel);
        if (sqlite3_step(add.get()) != SQLITE_DONE) {
            error_ = sqlite3_errmsg(db_.get());
            return -1;
        }
        sqlite3_reset(add.get());
        ++mapped;
    }
    return mapped;
}

bool GuideStore::Map(const std::string& guideChannel, int channel)
{
    SqliteStatement known = Prepare("SELECT 1 FROM guide_channels WHERE id = ?1");
    SqliteStatement map = Prepare(
        "INSERT INTO channel_map(guide_id, channel, by_hand) VALUES (?1, ?2, 1) "
        "ON CONFLICT(guide_id) DO UPDATE SET channel = excluded.channel, by_hand = 1");
    if (!known || !map)
        return false;
    BindText(known.get(), 1, guideChannel);
    if (sqlite3_step(known.get()) != SQLITE_ROW) {
        error_ = "The guide has no channel \"" + guideChannel + "\".";
        return false;
    }
    BindText(map.get(), 1, guideChannel);
    sqlite3_bind_int(map.get(), 2, channel);
    if (sqlite3_step(map.get()) != SQLITE_DONE) {
        error_ = sqlite3_errmsg(db_.get());
        return false;
    }
    return true;
}

namespace {

constexpr const char* kEntryColumns =
    "m.channel, p.channel_id, p.start, p.stop, p.title, p.sub_title, p.description, p.episode, p.previously_shown";

} // namespace

std::vector<GuideEntry> GuideStore::Entries(sqlite3_stmt* statement)
{
    std::vector<GuideEntry> entries;
    int stepped;
    while ((stepped = sqlite3_step(statement)) == SQLITE_ROW) {
        GuideEntry entry;
        entry.channel = sqlite3_column_int(statement, 0);
        entry.guideChannel = ColumnText(statement, 1);
        GuideProgramme& programme = entry.programme;
        programme.channelId = entry.guideChannel;
        programme.start = sqlite3_column_int64(statement, 2);
        programme.stop = sqlite3_column_int64(statement, 3);
        programme.title = ColumnText(statement, 4);
        programme.subTitle = ColumnText(statement, 5);
        programme.description = ColumnText(statement, 6);
        programme.episode = ColumnText(statement, 7);
        programme.previouslyShown = sqlite3_column_int(statement, 8) != 0;
        entries.push_back(std::move(entry));
    }
    if (stepped != SQLITE_DONE) {
        error_ = sqlite3_errmsg(db_.get());
        Log("The guide could not be read: " + error_);
    }
    return entries;
}

std::vector<GuideEntry> GuideStore::OnAt(int64_t at)
{
    // The last programme of each channel to start by then, if it still runs.
    const std::string sql = std::string("SELECT ") + kEntryColumns +
                            " FROM channel_map m JOIN programmes p ON p.id = (SELECT id FROM programmes WHERE "
                            "channel_id = m.guide_id AND start <= ?1 ORDER BY start DESC LIMIT 1) "
                            "WHERE p.stop > ?1 ORDER BY m.channel";
    SqliteStatement statement = Prepare(sql.c_str());
    if (!statement)
        return {};
    sqlite3_bind_int64(statement.get(), 1, at);
    return Entries(statement.get());
}

std::vector<GuideEntry> GuideStore::OnChannelBetween(int channel, int64_t from, int64_t to)
{
    const std::string sql = std::string("SELECT ") + kEntryColumns +
                            " FROM channel_map m JOIN programmes p ON p.channel_id = m.guide_id "
                            "WHERE m.channel = ?1 AND p.start < ?3 AND p.stop > ?2 ORDER BY p.start";
    SqliteStatement statement = Prepare(sql.c_str());
    if (!statement)
        return {};
    sqlite3_bind_int(statement.get(), 1, channel);
    sqlite3_bind_int64(statement.get(), 2, from);
    sqlite3_bind_int64(statement.get(), 3, to);
    return Entries(statement.get());
}
