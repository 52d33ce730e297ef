#include "guide/guide_import.h"

#include "config/settings.h"
#include "platform/log.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

constexpr int kPieceBytes = 64 * 1024;

struct GzClose {
    void operator()(gzFile_s* file) const { gzclose(file); }
};

std::string GzError(gzFile_s* file)
{
    int code = Z_OK;
    const char* text = gzerror(file, &code);
    return code == Z_ERRNO ? std::strerror(errno) : text;
}

} // namespace

GuideImportResult ImportFailed(const std::string& source, std::string error)
{
    GuideImportResult result;
    result.error = std::move(error);
    Log("The guide " + source + " was not imported, and the old guide stays: " + result.error);
    return result;
}

GuideImportResult CommitImport(GuideStore::Import& import, const XmltvReader& reader, const std::string& source,
                               const std::vector<LineupChannel>& lineup)
{
    GuideImportResult result;
    if (!import.Commit(lineup, source, result.counts))
        return ImportFailed(source, "the guide store failed: " + import.Error());
    result.imported = true;
    result.timesWithoutZone = reader.TimesWithoutZone();
    result.skipped = reader.Skipped();
    if (result.timesWithoutZone > 0)
        Log("The guide " + source + " gives " + std::to_string(result.timesWithoutZone) +
            " programmes' times without a zone; they were read in this PC's zone.");
    Log("The guide " + source + " was imported: " + DescribeImport(result));
    return result;
}

GuideImportResult ImportGuideFile(GuideStore& store, const std::string& path,
                                  const std::vector<LineupChannel>& lineup, const StopRequest* stop)
{
    return ImportGuideFileAs(store, path, path, lineup, stop);
}

GuideImportResult ImportGuideFileAs(GuideStore& store, const std::string& path, const std::string& source,
                                    const std::vector<LineupChannel>& lineup, const StopRequest* stop)
{
    // gzread reads a plain file as it is.
    std::unique_ptr<gzFile_s, GzClose> file(gzopen(path.c_str(), "rb"));
    if (!file)
        return ImportFailed(source, std::string("it cannot be opened: ") + std::strerror(errno));
    GuideStore::Import import(store);
    XmltvReader reader(import);
    std::unique_ptr<char[]> piece(new char[kPieceBytes]);
    int read = 0;
    while ((read = gzread(file.get(), piece.get(), kPieceBytes)) > 0) {
        if (!reader.Feed(piece.get(), static_cast<size_t>(read)))
            return ImportFailed(source, reader.Error());
        if (stop && stop->Asked())
            return ImportFailed(source, kImportStopped);
    }
    if (read < 0)
        return ImportFailed(source, "it could not be read: " + GzError(file.get()));
    if (!reader.Finish())
        return ImportFailed(source, reader.Error());
    return CommitImport(import, reader, source, lineup);
}

std::vector<LineupChannel> EnabledLineup()
{
    std::vector<LineupChannel> lineup;
    for (int number = 0; number < kChannelCount; ++number) {
        const ChannelRecord& record = gSettings.channels[number];
        if (record.enabled)
            lineup.push_back({number, std::string(record.description, strnlen(record.description,
                                                                             sizeof record.description))});
    }
    return lineup;
}

std::string DescribeImport(const GuideImportResult& result)
{
    const ImportCounts& counts = result.counts;
    std::string text = std::to_string(counts.channels) + " channels (" + std::to_string(counts.mapped) +
                       " matched to the lineup), " + std::to_string(counts.programmes) + " programmes";
    auto note = [&text](int count, const char* what) {
        if (count > 0)
            text += "; " + std::to_string(count) + " " + what;
    };
    note(counts.duplicateChannels, "channels given twice (the first kept)");
    note(counts.overlapsDropped, "overlapping programmes left out (the later kept)");
    note(counts.emptyDropped, "programmes of no length left out");
    note(counts.endlessDropped, "last programmes without an end left out");
    note(result.skipped, "programmes without a readable time left out");
    return text + ".";
}
