#pragma once
// Folder listings for the handheld: the shared folders, and the folders,
// shortcuts and media (or subtitle) files inside any folder it names.

#include <cstddef>
#include <cstdint>
#include <string>

// A listing never grows past this many bytes, its closing zero included.
constexpr size_t kListingSize = 128000;

// Fills listing (kListingSize bytes) with entries of name, zero, type letter
// ('d' folder, 'l' shortcut to a folder, 'v' shortcut to a listed file, 'f'
// file) and a closing zero. A request of exactly one slash lists the shared
// folders; with more slashes it names the folder after its first byte, which
// is listed only within what the handheld may reach (media/access.h). 0, or
// -1 with length 0 when there is no slash or the folder cannot be listed.
int ListFolder(const std::string& request, uint8_t* listing, int32_t& length, bool subtitleMode);

// Symbolic links, and files whose name contains ".lnk", ".LNK" or ".Lnk",
// are shortcuts: returns 1 and the full path they lead to (empty when the
// shortcut cannot be read), else 0 and the name unchanged.
int ResolveShortcut(const std::string& folder, const char* name, std::string& target);
