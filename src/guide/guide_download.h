#pragma once
// Importing a guide from an http(s) URL: the body is written to a
// temporary file as it arrives (up to 1 GB), then imported as a file is,
// unpacked when it is gzip whether the server says so or not. Nothing of
// the old guide changes unless the whole download was read and is well
// formed.

#include "guide/guide_import.h"

#include <string>
#include <vector>

// Needs a QCoreApplication; runs its own event loop until the download has
// ended, failed (the HTTP status or the network's reason), or been silent
// for 30 s, or stop was asked (looked at ten times a second).
GuideImportResult ImportGuideUrl(GuideStore& store, const std::string& url, const std::vector<LineupChannel>& lineup,
                                 const StopRequest* stop = nullptr);

// Whether the text names a web address rather than a file.
bool IsGuideUrl(const std::string& text);

// Imports from a web address or a file, whichever source names.
GuideImportResult ImportGuideFrom(GuideStore& store, const std::string& source,
                                  const std::vector<LineupChannel>& lineup, const StopRequest* stop = nullptr);
