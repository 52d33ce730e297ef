// The programme guide at the size of a large real one: 200 channels over 14
// days, about 80,000 programmes and 60 MB of XMLTV, imported from a plain
// and a gzip file; then "what is on now" on every channel. Each import runs
// in a child of its own, so that its peak memory is its own.

#include "bench_stats.h"
#include "guide/guide_download.h"
#include "guide/guide_import.h"
#include "guide/guide_store.h"
#include "guide/recording_rules.h"
#include "platform/log.h"

#include <QCoreApplication>

#include <zlib.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kChannels = 200;
constexpr int kDays = 14;
constexpr int kRepeats = 5;
// 2027-01-04 00:00 UTC.
constexpr int64_t kFirstDay = 1799020800;

// Programmes of 25 to 90 minutes, each with a description of a few lines.
void WriteGuide(const std::string& path, bool gzip)
{
    gzFile file = gzopen(path.c_str(), gzip ? "wb6" : "wbT");
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>\n";
    for (int channel = 0; channel < kChannels; ++channel)
        text += "<channel id=\"ch" + std::to_string(channel) + ".example\"><display-name>" + std::to_string(channel) +
                "</display-name><display-name>Channel " + std::to_string(channel) + "</display-name></channel>\n";
    const std::string description(560, 'd');
    for (int channel = 0; channel < kChannels; ++channel) {
        int64_t at = kFirstDay;
        for (int n = 0; at < kFirstDay + kDays * 86400; ++n) {
            const int64_t end = at + (25 + (n * 37 + channel) % 66) * 60;
            text += "<programme start=\"" + FormatXmltvTime(at) + "\" stop=\"" + FormatXmltvTime(end) + "\" channel=\"ch" +
                    std::to_string(channel) + ".example\"><title lang=\"en\">Programme " + std::to_string(n % 300) +
                    "</title><sub-title>Part " + std::to_string(n) + "</sub-title><desc lang=\"en\">" + description +
                    "</desc><episode-num system=\"xmltv_ns\">" + std::to_string(n % 9) + "." +
                    std::to_string(n % 20) + ".</episode-num></programme>\n";
            at = end;
            if (text.size() > (1 << 20)) {
                gzwrite(file, text.data(), static_cast<unsigned>(text.size()));
                text.clear();
            }
        }
    }
    text += "</tv>\n";
    gzwrite(file, text.data(), static_cast<unsigned>(text.size()));
    gzclose(file);
}

struct ImportRun {
    double seconds = NAN;
    double peakMegabytes = NAN;
    int programmes = 0;
};

// One import of path (a file or a URL) into a fresh database, in a child.
ImportRun ImportInChild(const std::string& path, const std::string& database)
{
    std::filesystem::remove(database);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::string error;
        std::unique_ptr<GuideStore> store = GuideStore::Open(database, error);
        std::vector<LineupChannel> lineup;
        for (int channel = 0; channel < kChannels; ++channel)
            lineup.push_back({channel, ""});
        int argc = 1;
        char name[] = "guide_bench";
        char* argv[] = {name, nullptr};
        QCoreApplication application(argc, argv);
        const GuideImportResult result = !store                ? GuideImportResult{}
                                         : IsGuideUrl(path) ? ImportGuideUrl(*store, path, lineup)
                                                            : ImportGuideFile(*store, path, lineup);
        const int programmes = result.imported ? result.counts.programmes : -1;
        (void)!write(pipeEnds[1], &programmes, sizeof programmes);
        _exit(result.imported ? 0 : 1);
    }
    close(pipeEnds[1]);
    ImportRun run;
    (void)!read(pipeEnds[0], &run.programmes, sizeof run.programmes);
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return run;
}

void ReportImports(const char* what, const std::string& path, const std::string& database)
{
    std::vector<double> seconds, megabytes;
    int programmes = 0;
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        const ImportRun run = ImportInChild(path, database);
        seconds.push_back(run.seconds);
        megabytes.push_back(run.peakMegabytes);
        programmes = run.programmes;
    }
    std::printf("%s (%d programmes): %s s, peak memory %s MB\n", what, programmes, MedianAndSpread(seconds).c_str(),
                MedianAndSpread(megabytes).c_str());
}

void ReportOnNow(const std::string& database)
{
    std::string error;
    std::unique_ptr<GuideStore> store = GuideStore::Open(database, error);
    std::vector<double> milliseconds;
    size_t found = 0;
    for (int repeat = 0; repeat < 50; ++repeat) {
        const auto started = std::chrono::steady_clock::now();
        found = store->OnAt(kFirstDay + 7 * 86400 + repeat * 600).size();
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    std::printf("What is on now, every channel (%zu found): %s ms\n", found, MedianAndSpread(milliseconds).c_str());
}

// Fifty series rules, each a title that runs on every channel, expanded
// over the whole guide.
void ReportRuleExpansion(const std::string& database)
{
    std::string error;
    std::unique_ptr<GuideStore> store = GuideStore::Open(database, error);
    RecordingRules rules(*store);
    for (int n = 0; n < 50; ++n) {
        RecordingRule rule;
        rule.title = "Programme " + std::to_string(n * 6);
        rule.series = true;
        rule.newOnly = n % 2 == 0;
        rules.Add(rule);
    }
    std::vector<double> milliseconds;
    size_t planned = 0;
    for (int repeat = 0; repeat < 5; ++repeat) {
        const auto started = std::chrono::steady_clock::now();
        planned = rules.Plan(kFirstDay).size();
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    std::printf("Expand 50 series rules over the 14 days (%zu recordings and conflicts): %s ms\n", planned,
                MedianAndSpread(milliseconds).c_str());
}

} // namespace

int main()
{
    SetLogEnabled(false);
    const std::string folder = std::filesystem::temp_directory_path() / ("orvandel-guide-bench-" +
                                                                         std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string plain = folder + "/guide.xml";
    const std::string packed = folder + "/guide.xml.gz";
    const std::string database = folder + "/Guide.sqlite";
    WriteGuide(plain, false);
    WriteGuide(packed, true);
    std::printf("Guide import, %d channels x %d days; median (spread) of %d runs:\n", kChannels, kDays, kRepeats);
    std::printf("  (the file: %.0f MB, gzip %.1f MB)\n", static_cast<double>(std::filesystem::file_size(plain)) / 1e6,
                static_cast<double>(std::filesystem::file_size(packed)) / 1e6);
    ReportImports("  plain XMLTV file", plain, database);
    ReportImports("  gzip XMLTV file", packed, database);
    // Python's own web server, on loopback.
    std::fflush(stdout);
    const pid_t server = fork();
    if (server == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execlp("python3", "python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory", folder.c_str(), "18431",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    sleep(2);
    ReportImports("  gzip XMLTV over HTTP", "http://127.0.0.1:18431/guide.xml.gz", database);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    ReportOnNow(database);
    ReportRuleExpansion(database);
    std::filesystem::remove_all(folder);
    return 0;
}
