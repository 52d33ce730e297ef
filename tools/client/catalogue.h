// The media catalogue's requests as a client makes them: a folder's listing
// and a file's description.
#pragma once

#include "commander.h"
#include "requests.h"

#include <string>
#include <vector>

namespace handheld {

// A folder request carries one byte before the folder's path; "/" alone
// asks for the shared folders. A plain absolute path gets that byte here.
std::string folderRequest(const std::string& path);

// Receives the block that follows a listing reply with these lengths,
// inflated when it came compressed; false with the reason.
bool receiveListing(Commander& commander, int32_t rawLength, int32_t dataLength, Bytes& block,
                    std::string& error);

// How a catalogue request went. Unanswered means the session can no longer
// be trusted: a late answer would be taken for the next request's.
enum class Asked { Answered, Refused, Unanswered };

// ListMediaFolder or ListSubtitleFolder of a plain path ("/" for the shared
// folders); the reason in `error` unless answered. A folder outside the
// shared ones comes back empty, without even "..".
Asked listFolder(Commander& commander, uint8_t command, const std::string& path, std::vector<ListingEntry>& entries,
                 std::string& error);

// GetFileInfo of a file's path; the reason in `error` unless answered.
Asked describeFile(Commander& commander, const std::string& path, FileInfo& info, std::string& error);

}  // namespace handheld
