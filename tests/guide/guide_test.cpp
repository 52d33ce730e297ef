// The programme guide: XMLTV read in one pass into SQLite, its times in UTC
// whatever zone the file or the PC is in, its odd programmes settled, and
// an import that fails or is killed never leaving half a guide.

#include "guide/guide_download.h"
#include "guide/guide_import.h"
#include "guide/guide_refresh.h"
#include "guide/guide_store.h"
#include "guide/recording_rules.h"
#include "guide/xmltv.h"
#include "config/settings.h"
#include "net/canned_server.h"
#include "support/process.h"
#include "support/test_application.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// 2027-01-05 20:00 UTC.
constexpr int64_t kEvening = 1799179200;

std::string Programme(const std::string& channel, const std::string& start, const std::string& stop,
                      const std::string& title, const std::string& inner = "")
{
    return "<programme channel=\"" + channel + "\" start=\"" + start + "\"" +
           (stop.empty() ? "" : " stop=\"" + stop + "\"") + "><title lang=\"en\">" + title + "</title>" + inner +
           "</programme>\n";
}

std::string Guide(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv generator-info-name=\"test\">\n"
           "<channel id=\"news.example\"><display-name>3</display-name></channel>\n"
           "<channel id=\"films.example\"><display-name>Films</display-name></channel>\n"
           "<channel id=\"news.example\"><display-name>Again</display-name></channel>\n" +
           body + "</tv>\n";
}

class GuideTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        std::string error;
        store = GuideStore::Open(GuideDatabasePath(), error);
        ASSERT_TRUE(store) << error;
        lineup = {{3, "News"}, {5, "Films"}};
    }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }

    GuideImportResult Import(const std::string& xml, bool gzip = false)
    {
        const std::string path = config.Root() + (gzip ? "/guide.xml.gz" : "/guide.xml");
        if (gzip) {
            gzFile file = gzopen(path.c_str(), "wb");
            gzwrite(file, xml.data(), static_cast<unsigned>(xml.size()));
            gzclose(file);
        } else {
            WriteFileBytes(path, xml);
        }
        return ImportGuideFile(*store, path, lineup);
    }

    std::vector<std::string> Titles(int channel, int64_t from = 0, int64_t to = kEvening * 2)
    {
        std::vector<std::string> titles;
        for (const GuideEntry& entry : store->OnChannelBetween(channel, from, to))
            titles.push_back(entry.programme.title);
        return titles;
    }

    TempConfig config;
    std::unique_ptr<GuideStore> store;
    std::vector<LineupChannel> lineup;
};

TEST_F(GuideTest, ZonesAndOddProgrammesAreSettledAndChannelsMatchTheLineup)
{
    const std::string body =
        // The same 20:00 UTC, three ways.
        Programme("news.example", "20270105200000 +0000", "20270105203000 +0000", "Utc") +
        Programme("films.example", "20270105210000 +0100", "20270105220000 +0100", "Paris",
                  "<sub-title>Part one</sub-title><desc>A long night.</desc>"
                  "<episode-num system=\"xmltv_ns\">1.4.0/1</episode-num><previously-shown/>") +
        Programme("news.example", "20270105153000 -0500", "", "New York, until the next") +
        // No zone: the PC's (Berlin, UTC+1 in January).
        Programme("news.example", "20270105220000", "20270105223000", "Local") +
        // Overlapping the next one: it gives way.
        Programme("news.example", "20270105224500 +0000", "20270105233000 +0000", "Runs over") +
        Programme("news.example", "20270105230000 +0000", "20270105233000 +0000", "Weather") +
        Programme("news.example", "20270105233000 +0000", "20270105233000 +0000", "Nothing") +
        Programme("news.example", "not a time", "", "Unreadable") +
        Programme("news.example", "20270106000000 +0000", "", "Last, without an end");
    const GuideImportResult result = Import(Guide(body), true);
    ASSERT_TRUE(result.imported) << result.error;
    EXPECT_EQ(2, result.counts.channels);
    EXPECT_EQ(1, result.counts.duplicateChannels);
    EXPECT_EQ(2, result.counts.mapped) << "\"3\" by number, \"Films\" by name";
    EXPECT_EQ(1, result.counts.overlapsDropped);
    EXPECT_EQ(1, result.counts.emptyDropped);
    EXPECT_EQ(1, result.counts.endlessDropped);
    EXPECT_EQ(1, result.skipped);
    EXPECT_EQ(1, result.timesWithoutZone);

    const std::vector<GuideEntry> news = store->OnChannelBetween(3, 0, kEvening * 2);
    ASSERT_EQ((std::vector<std::string>{"Utc", "New York, until the next", "Local", "Weather"}), Titles(3));
    EXPECT_EQ(kEvening, news[0].programme.start);
    EXPECT_EQ(kEvening + 1800, news[1].programme.start);
    EXPECT_EQ(kEvening + 3600 * 1, news[1].programme.stop) << "a missing stop is the next start";
    EXPECT_EQ(kEvening + 3600, news[2].programme.start) << "22:00 in Berlin";
    const std::vector<GuideEntry> films = store->OnAt(kEvening + 600);
    ASSERT_EQ(2u, films.size());
    EXPECT_EQ("Utc", films[0].programme.title);
    EXPECT_EQ("Paris", films[1].programme.title);
    EXPECT_EQ(5, films[1].channel);
    EXPECT_EQ("S02E05", films[1].programme.episode);
    EXPECT_EQ("Part one", films[1].programme.subTitle);
    EXPECT_EQ("A long night.", films[1].programme.description);
    EXPECT_TRUE(films[1].programme.previouslyShown);

    ASSERT_TRUE(store->Map("films.example", 7));
    EXPECT_FALSE(store->Map("nowhere.example", 7));
    ASSERT_TRUE(Import(Guide(body)).imported);
    EXPECT_EQ(std::vector<std::string>{"Paris"}, Titles(7)) << "a mapping by hand survives the next import";
    EXPECT_TRUE(Titles(5).empty());
}

TEST_F(GuideTest, ProgrammesWithoutAZoneCrossBothSummerTimeChanges)
{
    // Berlin: on 2027-03-28 02:00 becomes 03:00; on 2027-10-31 03:00 becomes 02:00.
    const std::string body = Programme("news.example", "20270328013000", "20270328033000", "Spring") +
                             Programme("news.example", "20271031013000", "20271031040000", "Autumn");
    ASSERT_TRUE(Import(Guide(body)).imported);
    const std::vector<GuideEntry> news = store->OnChannelBetween(3, 0, kEvening * 2);
    ASSERT_EQ(2u, news.size());
    EXPECT_EQ(3600, *news[0].programme.stop - news[0].programme.start) << "an hour of the clock is skipped";
    EXPECT_EQ(ParseXmltvTime("20270328003000 +0000"), news[0].programme.start);
    EXPECT_EQ(3 * 3600 + 1800, *news[1].programme.stop - news[1].programme.start) << "an hour is lived twice";
    EXPECT_EQ(ParseXmltvTime("20271030233000 +0000"), news[1].programme.start);

    // The daily refresh at 02:30 comes at least 12 hours after the last
    // import; on the night 02:30 is not on the clock, at 03:30 summer time,
    // and on the night it comes twice, at the first.
    EXPECT_EQ(ParseXmltvTime("20270327023000 +0100"), NextGuideRefresh(*ParseXmltvTime("20270326120000 +0100"), 150));
    EXPECT_EQ(ParseXmltvTime("20270328033000 +0200"), NextGuideRefresh(*ParseXmltvTime("20270327100000 +0100"), 150));
    EXPECT_EQ(ParseXmltvTime("20271031023000 +0200"), NextGuideRefresh(*ParseXmltvTime("20271030100000 +0200"), 150));
}

TEST_F(GuideTest, AGuideThatCannotBeReadKeepsTheOldOne)
{
    ASSERT_TRUE(Import(Guide(Programme("news.example", "20270105200000 +0000", "20270105203000 +0000", "Kept")))
                    .imported);
    const std::string cut = Guide(Programme("news.example", "20270105200000 +0000", "", "New")).substr(0, 260);
    const GuideImportResult truncated = Import(cut);
    EXPECT_FALSE(truncated.imported);
    EXPECT_EQ(0u, truncated.error.find("line ")) << truncated.error;
    const GuideImportResult broken = Import("<tv><channel id=\"a\"></tv>");
    EXPECT_FALSE(broken.imported);
    EXPECT_NE(std::string::npos, broken.error.find("line 1:")) << broken.error;
    const GuideImportResult missing = ImportGuideFile(*store, config.Root() + "/none.xml", lineup);
    EXPECT_EQ("it cannot be opened: No such file or directory", missing.error);
    EXPECT_EQ(std::vector<std::string>{"Kept"}, Titles(3));
}

// A guide from the web, gzip whether the server says so or not; a server
// that refuses keeps the old guide and says how it refused.
TEST_F(GuideTest, AGuideComesOverHttpPackedOrNot)
{
    Application();
    const std::string xml = Guide(Programme("news.example", "20270105200000 +0000", "20270105203000 +0000", "Web"));
    const std::string packedPath = config.Root() + "/web.xml.gz";
    gzFile file = gzopen(packedPath.c_str(), "wb");
    gzwrite(file, xml.data(), static_cast<unsigned>(xml.size()));
    gzclose(file);
    const std::string packed = ReadFileBytes(packedPath);
    auto answer = [](const std::string& body) {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/gzip\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    };
    CannedServer gzipServer(answer(packed));
    const GuideImportResult fromGzip = ImportGuideUrl(*store, "http://" + gzipServer.Url("/tv.xml.gz"), lineup);
    ASSERT_TRUE(fromGzip.imported) << fromGzip.error;
    EXPECT_EQ(std::vector<std::string>{"Web"}, Titles(3));

    CannedServer plainServer(answer(xml));
    EXPECT_TRUE(ImportGuideUrl(*store, "http://" + plainServer.Url("/tv.xml"), lineup).imported);

    CannedServer cutServer(answer(packed.substr(0, packed.size() / 2)).substr(0, 90 + packed.size() / 2));
    const GuideImportResult cut = ImportGuideUrl(*store, "http://" + cutServer.Url("/tv.xml.gz"), lineup);
    EXPECT_FALSE(cut.imported);
    CannedServer refusing("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    const GuideImportResult refused = ImportGuideUrl(*store, "http://" + refusing.Url("/none.xml"), lineup);
    EXPECT_EQ("the server answered HTTP 404 Not Found", refused.error);
    EXPECT_EQ(std::vector<std::string>{"Web"}, Titles(3)) << "the old guide stays";
}

// The tool is killed in the middle of a large import: the next reader finds
// the old guide or the new one, whole.
TEST_F(GuideTest, AKilledImportLeavesOneWholeGuide)
{
    std::string small = Guide(Programme("news.example", "20270105200000 +0000", "20270105203000 +0000", "Old"));
    WriteFileBytes(config.Root() + "/small.xml", small);
    ProcessResult first = RunProcess({BinPath("orvandel-setup"), "guide", "import", config.Root() + "/small.xml"},
                                     30000, true);
    ASSERT_EQ(0, first.exitCode) << first.output;
    EXPECT_NE(std::string::npos, first.output.find("1 programmes")) << first.output;
    ASSERT_EQ(0, RunProcess({BinPath("orvandel-setup"), "guide", "map", "news.example", "3"}, 30000).exitCode);
    ProcessResult shown = RunProcess(
        {BinPath("orvandel-setup"), "guide", "show", "--at", "2027-01-05 21:10"}, 30000, true);
    EXPECT_EQ("3  2027-01-05 21:00-21:30  Old\n", shown.output) << "local time, Berlin";

    std::string body;
    for (int64_t i = 0; i < 60000; ++i)
        body += Programme("news.example", FormatXmltvTime(kEvening + i * 120), "", "New " + std::to_string(i),
                          "<desc>" + std::string(200, 'x') + "</desc>");
    WriteFileBytes(config.Root() + "/large.xml", Guide(body));
    const pid_t importer =
        StartProcess({BinPath("orvandel-setup"), "guide", "import", config.Root() + "/large.xml"});
    // Killed once the new guide has started to reach the disk.
    const std::string journal = GuideDatabasePath() + "-wal";
    bool writing = false;
    for (int waited = 0; waited < 30000 && !writing; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::error_code ignored;
        writing = std::filesystem::file_size(journal, ignored) > 2 * 1024 * 1024;
    }
    ::kill(importer, SIGKILL);
    int status = 0;
    ::waitpid(importer, &status, 0);
    ASSERT_TRUE(writing && WIFSIGNALED(status)) << "the kill did not come in the middle of the import";

    std::string error;
    std::unique_ptr<GuideStore> reopened = GuideStore::Open(GuideDatabasePath(), error);
    ASSERT_TRUE(reopened) << error;
    const size_t programmes = reopened->OnChannelBetween(3, 0, kEvening * 2).size();
    EXPECT_TRUE(programmes == 1 || programmes == 59999) << programmes << " programmes: half a guide";
}

// A series rule takes only new episodes, with its margins; a rule made
// later that wants the tuner on another channel then is told with what,
// and wins once the person prefers it.
TEST_F(GuideTest, RulesPlanNewEpisodesAndTellTheirConflicts)
{
    // Tomorrow 20:00 UTC, and the days after: times to come for the tool too.
    const int64_t day = 86400;
    const int64_t evening = (static_cast<int64_t>(std::time(nullptr)) / day + 1) * day + 20 * 3600;
    auto news = [&](int64_t at, const char* episode, bool repeat) {
        return Programme("news.example", FormatXmltvTime(at), FormatXmltvTime(at + 1800), "The News",
                         std::string("<episode-num system=\"onscreen\">") + episode + "</episode-num>" +
                             (repeat ? "<previously-shown/>" : ""));
    };
    const std::string body = news(evening, "S01E01", false) + news(evening + day, "S01E01", true) +
                             news(evening + 2 * day, "S01E02", false) + news(evening + 3 * day, "S01E02", false) +
                             Programme("films.example", FormatXmltvTime(evening + 2 * day + 900),
                                       FormatXmltvTime(evening + 2 * day + 7200), "The Film");
    WriteFileBytes(config.Root() + "/rules.xml", Guide(body));
    ASSERT_EQ(0, RunProcess({BinPath("orvandel-setup"), "guide", "import", config.Root() + "/rules.xml"}, 30000)
                     .exitCode);
    ASSERT_EQ(0, RunProcess({BinPath("orvandel-setup"), "guide", "map", "news.example", "3"}, 30000).exitCode);
    ASSERT_EQ(0, RunProcess({BinPath("orvandel-setup"), "guide", "map", "films.example", "5"}, 30000).exitCode);
    const ProcessResult series = RunProcess(
        {BinPath("orvandel-setup"), "record", "The News", "--series", "--new-only"}, 30000, true);
    ASSERT_EQ(0, series.exitCode) << series.output;
    EXPECT_NE(std::string::npos, series.output.find("Rule 1: every new episode of \"The News\" on any channel, 1 min "
                                                    "early, 2 min late."))
        << series.output;
    const ProcessResult film = RunProcess({BinPath("orvandel-setup"), "record", "The Film"}, 30000, true);
    ASSERT_EQ(0, film.exitCode) << film.output;
    EXPECT_NE(std::string::npos, film.output.find("will not record \"The Film\" on channel 5 at ")) << film.output;
    EXPECT_NE(std::string::npos, film.output.find("conflicts with \"The News\" S01E02 on channel 3 at "))
        << film.output;

    std::string error;
    std::unique_ptr<GuideStore> shared = GuideStore::Open(GuideDatabasePath(), error);
    RecordingRules rules(*shared);
    std::vector<PlannedRecording> plan = rules.Plan(evening - 3600);
    ASSERT_EQ(3u, plan.size());
    EXPECT_EQ(evening - 60, plan[0].start) << "a minute early";
    EXPECT_EQ(evening + 1800 + 120, plan[0].end) << "two minutes late";
    EXPECT_EQ("S01E02", plan[1].programme.episode) << "the repeat of S01E01 is left out";
    EXPECT_TRUE(plan[1].conflict.empty());
    EXPECT_EQ("The Film", plan[2].programme.title);
    EXPECT_FALSE(plan[2].conflict.empty());
    EXPECT_EQ(2u, rules.Plan(evening + day).size()) << "what has ended is not planned";

    // The person lets the film win: the episode it overlaps gives way.
    const ProcessResult preferred = RunProcess({BinPath("orvandel-setup"), "rules", "prefer", "2"}, 30000, true);
    ASSERT_EQ(0, preferred.exitCode) << preferred.output;
    EXPECT_NE(std::string::npos, preferred.output.find("will not record \"The News\" S01E02 on channel 3 at "))
        << preferred.output;
    EXPECT_NE(std::string::npos, preferred.output.find("conflicts with \"The Film\" on channel 5 at "))
        << preferred.output;
    plan = rules.Plan(evening - 3600);
    ASSERT_EQ(3u, plan.size());
    EXPECT_FALSE(plan[1].conflict.empty()) << "the episode";
    EXPECT_TRUE(plan[2].conflict.empty()) << "the film";

    ASSERT_TRUE(rules.Remove(1));
    EXPECT_FALSE(rules.Remove(1));
    plan = rules.Plan(evening - 3600);
    ASSERT_EQ(1u, plan.size());
    EXPECT_TRUE(plan[0].conflict.empty()) << "without the series the film records";
    const ProcessResult listed = RunProcess({BinPath("orvandel-setup"), "rules"}, 30000, true);
    EXPECT_NE(std::string::npos, listed.output.find("Rule 2: once, \"The Film\" on any channel")) << listed.output;
    EXPECT_NE(std::string::npos, listed.output.find("  records \"The Film\" on channel 5 at ")) << listed.output;
}

} // namespace

