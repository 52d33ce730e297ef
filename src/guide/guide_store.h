#pragma once
// The programme guide in SQLite, beside the settings: the guide's channels,
// their programmes (times in UTC seconds), and which of Orvandel's channels
// each guide channel is. An import replaces the guide in one transaction,
// so that a failed or interrupted one leaves the old guide whole.

#include "guide/xmltv.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct SqliteClose {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct SqliteFinalize {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalize>;

void BindText(sqlite3_stmt* statement, int index, const std::string& text);
// A text column of the statement's row; empty for NULL.
std::string ColumnText(sqlite3_stmt* statement, int column);

// One of Orvandel's channels, as the automatic mapping sees it.
struct LineupChannel {
    int number = 0;
    std::string name;
};

// What an import changed or left out, for the log and the user.
struct ImportCounts {
    int channels = 0;
    int programmes = 0;
    int duplicateChannels = 0;
    int overlapsDropped = 0;
    int emptyDropped = 0;
    int endlessDropped = 0;  // the last of a channel, without a stop
    int mapped = 0;
};

struct GuideEntry {
    int channel = -1;  // Orvandel's, -1 when the guide channel is not mapped
    std::string guideChannel;
    GuideProgramme programme;
};

class GuideStore {
public:
    // Opens the database at path, making it and its tables when missing.
    // Nothing, with error set, when SQLite cannot.
    static std::unique_ptr<GuideStore> Open(const std::string& path, std::string& error);

    // The guide being imported; nothing changes until Commit.
    class Import : public XmltvReader::Sink {
    public:
        explicit Import(GuideStore& store);
        ~Import() override;
        void Channel(const GuideChannel& channel) override;
        void Programme(const GuideProgramme& programme) override;
        // Settles the programmes (a missing stop, overlaps), maps the new
        // channels to the lineup and makes the guide the store's, with
        // where it came from and when. False, with the old guide kept,
        // when SQLite fails.
        bool Commit(const std::vector<LineupChannel>& lineup, const std::string& source, ImportCounts& counts);
        const std::string& Error() const { return error_; }

    private:
        GuideStore& store_;
        SqliteStatement addChannel_;
        SqliteStatement addProgramme_;
        bool open_ = false;
        int duplicates_ = 0;
        int channels_ = 0;
        std::string error_;
    };

    // What is on each mapped channel at the moment at (UTC seconds).
    std::vector<GuideEntry> OnAt(int64_t at);
    // The programmes of Orvandel's channel that overlap [from, to).
    std::vector<GuideEntry> OnChannelBetween(int channel, int64_t from, int64_t to);
    // Makes the guide channel Orvandel's channel, by hand: no import
    // changes it again. False when the guide has no such channel.
    bool Map(const std::string& guideChannel, int channel);

    // Small named values: kGuideSource, kGuideImportedAt...; empty when
    // unset.
    std::string Fact(const std::string& name);
    bool SetFact(const std::string& name, const std::string& value);

    // Whether another connection (the setup tool, the program) has changed
    // the database since the last call, or since it was opened.
    bool ChangedElsewhere();

    const std::string& Error() const { return error_; }

private:
    // The rules live in the same database.
    friend class RecordingRules;

    explicit GuideStore(sqlite3* db) : db_(db) {}
    bool Migrate();
    // The first column of the first row, or -1.
    int64_t Number(const char* sql);
    bool Execute(const char* sql);
    SqliteStatement Prepare(const char* sql);
    std::vector<GuideEntry> Entries(sqlite3_stmt* statement);
    int AutoMap(const std::vector<LineupChannel>& lineup);

    std::unique_ptr<sqlite3, SqliteClose> db_;
    std::string error_;
    int64_t dataVersion_ = -1;
};

// The facts an import leaves: its file or URL, and its time (UTC seconds).
inline const std::string kGuideSource = "guide_source";
inline const std::string kGuideImportedAt = "guide_imported_at";

// "3  2027-01-05 20:00-20:30  The News (S01E02): Late edition", in local time.
std::string DescribeEntry(const GuideEntry& entry);

// Where the guide lives: "Guide.sqlite" beside the settings.
std::string GuideDatabasePath();
