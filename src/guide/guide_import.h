#pragma once
// Importing an XMLTV guide into the store in one streaming pass, from a
// file, plain or gzip. A guide that cannot be read, or is malformed
// anywhere, changes nothing: the old guide stays, and the reason (the file's
// own error, or the line) is returned and logged.

#include "guide/guide_store.h"
#include "platform/sync.h"

#include <string>
#include <vector>

struct GuideImportResult {
    bool imported = false;
    std::string error;
    ImportCounts counts;
    int timesWithoutZone = 0;
    int skipped = 0;
};

// A stop asked while the import runs ends it within a piece, the old guide
// kept.
GuideImportResult ImportGuideFile(GuideStore& store, const std::string& path,
                                  const std::vector<LineupChannel>& lineup, const StopRequest* stop = nullptr);
// The same, for a file that stands for `source` (a download of it): the
// log, the error and the remembered source name the source.
GuideImportResult ImportGuideFileAs(GuideStore& store, const std::string& path, const std::string& source,
                                    const std::vector<LineupChannel>& lineup, const StopRequest* stop = nullptr);

// The two ends of every import, whatever it reads from: a failure, logged
// with its source and reason, and the commit of what the reader read.
GuideImportResult ImportFailed(const std::string& source, std::string error);
GuideImportResult CommitImport(GuideStore::Import& import, const XmltvReader& reader, const std::string& source,
                               const std::vector<LineupChannel>& lineup);

// The enabled channels of the lineup, with their descriptions as names.
std::vector<LineupChannel> EnabledLineup();

// What an import ended by a stop says.
inline constexpr char kImportStopped[] = "the import was stopped";

// One line for the log and the user: what was imported and what was left out.
std::string DescribeImport(const GuideImportResult& result);
