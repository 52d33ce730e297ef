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

// ListMediaFolder or ListSubtitleFolder of a plain path ("/" for the shared
// folders). False with the reason when the server refused it or the answer
// was broken.
bool listFolder(Commander& commander, uint8_t command, const std::string& path, std::vector<ListingEntry>& entries,
                std::string& error);

// GetFileInfo of a file's path; false with the reason when the server
// could not open it as media or the record did not come.
bool describeFile(Commander& commander, const std::string& path, FileInfo& info, std::string& error);

}  // namespace handheld
