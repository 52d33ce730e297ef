#include "media/listing.h"

#include "config/settings.h"
#include "media/access.h"
#include "media/files.h"
#include "media/shell_link.h"
#include "media/utf8.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

const char* const kMediaExtensions[] = {"rec", "tvs", "avi", "flv", "wmv", "wma", "mkv", "ogg", "ogm", "ts", "mpg",
                                        "3gp", "3ga", "3g2", "amr", "mp3", "mp4", "mov", "vob", "asf", "m4a", "aac",
                                        "wav", "m4v", "flac", "rm", "rmvb", "divx", "ape", "mts", "wtv", "m2ts"};
const char* const kSubtitleExtensions[] = {"srt"};

// Everything a shell link has to say lies well inside its first bytes: a
// header, an item list of at most 64 KiB and the link information.
constexpr size_t kShellLinkReadSize = 128 * 1024;

struct FolderCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

struct FolderLists {
    std::vector<std::string> folders;
    std::vector<std::string> folderShortcuts;
    std::vector<std::string> fileShortcuts;
    std::vector<std::string> files;
};

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsAsciiLetter(char c)
{
    return LowerAscii(c) >= 'a' && LowerAscii(c) <= 'z';
}

int CompareIgnoringCase(std::string_view a, std::string_view b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const auto x = static_cast<unsigned char>(LowerAscii(a[i]));
        const auto y = static_cast<unsigned char>(LowerAscii(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

// Names sort from their first letter on, so "01 Intro.mp3" files under I.
std::string_view SortKey(std::string_view name)
{
    const auto letter = std::find_if(name.begin(), name.end(), IsAsciiLetter);
    return letter == name.end() ? name : name.substr(static_cast<size_t>(letter - name.begin()));
}

bool SortsBefore(const std::string& a, const std::string& b)
{
    const std::string_view x = SortKey(a);
    const std::string_view y = SortKey(b);
    const int order = CompareIgnoringCase(x, y, std::min(x.size(), y.size()));
    return order < 0 || (order == 0 && x.size() < y.size());
}

// Inserting each name in turn before the first one that does not sort
// before it gives this order, with equal names latest first; sorting the
// reversed list keeps that without the quadratic cost on large folders.
void SortLikeInsertion(std::vector<std::string>& names)
{
    std::reverse(names.begin(), names.end());
    std::stable_sort(names.begin(), names.end(), SortsBefore);
}

// The text after the last dot must be the start of a listed extension, so
// "mp" matches "mp3" and "m" matches "mkv".
bool ExtensionMatches(std::string_view name, bool subtitleMode)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return false;
    const std::string_view extension = name.substr(dot + 1);
    const auto matches = [extension](const char* listed) {
        return extension.size() <= std::strlen(listed) &&
               CompareIgnoringCase(extension, listed, extension.size()) == 0;
    };
    if (subtitleMode)
        return std::any_of(std::begin(kSubtitleExtensions), std::end(kSubtitleExtensions), matches);
    return std::any_of(std::begin(kMediaExtensions), std::end(kMediaExtensions), matches);
}

std::string JoinPath(const std::string& folder, const char* name)
{
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool IsShellLinkName(const char* name)
{
    return std::strstr(name, ".lnk") || std::strstr(name, ".LNK") || std::strstr(name, ".Lnk");
}

// Links lead to the fully resolved path; loops and dangling links lead nowhere.
std::string SymbolicLinkTarget(const std::string& path)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// A shell link made on another system names a path that means nothing here
// unless it is absolute.
std::string ShellLinkTarget(const std::string& path)
{
    std::string bytes;
    std::string target;
    if (ReadFileStart(path, kShellLinkReadSize, bytes) != 0 ||
        ParseShellLink(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), target) != 0 ||
        target[0] != '/')
        return std::string();
    return target;
}

bool AddShortcut(const std::string& target, bool subtitleMode, FolderLists& lists)
{
    struct stat info;
    if (target.empty() || ::stat(target.c_str(), &info) != 0)
        return false;
    if (S_ISDIR(info.st_mode))
        lists.folderShortcuts.push_back(target);
    else if (S_ISREG(info.st_mode) && ExtensionMatches(target, subtitleMode))
        lists.fileShortcuts.push_back(target);
    else
        return false;
    return true;
}

// Entries that vanish while the folder is read, or whose names the handheld
// could not show, are left out. So are shortcuts in a folder that is itself
// a shortcut's target: they would lead further than anyone chose to share.
void AddEntry(const std::string& folder, const char* name, bool subtitleMode, bool shared, FolderLists& lists)
{
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return;
    std::string target;
    if (ResolveShortcut(folder, name, target)) {
        if (shared && AddShortcut(target, subtitleMode, lists))
            RememberShownShortcut(folder, name);
        return;
    }
    struct stat info;
    if (!IsValidUtf8(name, std::strlen(name)) || ::lstat(JoinPath(folder, name).c_str(), &info) != 0)
        return;
    if (S_ISDIR(info.st_mode))
        lists.folders.push_back(name);
    else if (S_ISREG(info.st_mode) && ExtensionMatches(name, subtitleMode))
        lists.files.push_back(name);
}

// Every entry costs its name, a zero and its type letter; room for the
// closing zero is always kept. A list stops at its first entry that does
// not fit.
void AppendEntries(const std::vector<std::string>& names, char type, uint8_t* listing, size_t& length)
{
    for (const std::string& name : names) {
        if (length + name.size() + 3 > kListingSize)
            return;
        std::memcpy(listing + length, name.data(), name.size());
        length += name.size();
        listing[length++] = 0;
        listing[length++] = static_cast<uint8_t>(type);
    }
}

void ListSharedFolders(uint8_t* listing, size_t& length)
{
    std::vector<std::string> shared;
    for (const MediaFolderEntry& entry : gSettings.record.mediaFolders)
        if (entry.used)
            shared.emplace_back(entry.path, strnlen(entry.path, sizeof entry.path));
    AppendEntries(shared, 'd', listing, length);
}

int ListFolderContents(const std::string& folder, bool subtitleMode, uint8_t* listing, size_t& length)
{
    std::unique_ptr<DIR, FolderCloser> dir(::opendir(folder.c_str()));
    if (!dir)
        return -1;
    FolderLists lists;
    lists.folders.push_back("..");
    const bool shared = IsInSharedFolder(folder);
    while (const dirent* entry = ::readdir(dir.get()))
        AddEntry(folder, entry->d_name, subtitleMode, shared, lists);
    for (auto* list : {&lists.folders, &lists.folderShortcuts, &lists.fileShortcuts, &lists.files})
        SortLikeInsertion(*list);
    AppendEntries(lists.folders, 'd', listing, length);
    AppendEntries(lists.folderShortcuts, 'l', listing, length);
    AppendEntries(lists.fileShortcuts, 'v', listing, length);
    AppendEntries(lists.files, 'f', listing, length);
    return 0;
}

} // namespace

int ResolveShortcut(const std::string& folder, const char* name, std::string& target)
{
    const std::string path = JoinPath(folder, name);
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        target = SymbolicLinkTarget(path);
        return 1;
    }
    if (IsShellLinkName(name)) {
        target = ShellLinkTarget(path);
        return 1;
    }
    target = name;
    return 0;
}

int ListFolder(const std::string& request, uint8_t* listing, int32_t& length, bool subtitleMode)
{
    length = 0;
    const size_t slashes = std::count(request.begin(), request.end(), '/');
    if (slashes == 0)
        return -1;
    size_t used = 0;
    const std::string folder = request.substr(1);
    if (slashes == 1)
        ListSharedFolders(listing, used);
    else if (!IsServedPath(folder) || ListFolderContents(folder, subtitleMode, listing, used) != 0)
        return -1;
    listing[used++] = 0;
    length = static_cast<int32_t>(used);
    return 0;
}
