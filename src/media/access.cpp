#include "media/access.h"

#include "config/settings.h"
#include "media/listing.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// Shortcuts remembered at most: a folder with more than this many is rare,
// and the oldest are shown again by the next listing that needs them.
constexpr size_t kMostShownShortcuts = 4096;

using Shortcut = std::pair<std::string, std::string>;  // its folder and name

std::mutex shownShortcutsLock;
// Oldest first.
std::deque<Shortcut> shownShortcuts;

// The path with every link and ".." resolved; empty when it does not exist.
std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool Within(const std::string& path, const std::string& root)
{
    if (root.empty())
        return false;
    if (root == "/")
        return true;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

// The shared folders' real paths, as they are now.
std::vector<std::string> SharedRoots()
{
    std::vector<std::string> roots;
    for (const MediaFolderEntry& entry : gSettings.record.mediaFolders)
        if (entry.used)
            roots.push_back(RealPath(std::string(entry.path, strnlen(entry.path, sizeof entry.path))));
    return roots;
}

bool WithinAny(const std::string& real, const std::vector<std::string>& roots)
{
    return std::any_of(roots.begin(), roots.end(), [&real](const std::string& root) { return Within(real, root); });
}

// Where the shortcut leads now, when it is still inside a shared folder;
// empty when it has gone.
std::string CurrentTarget(const Shortcut& shortcut, const std::vector<std::string>& sharedRoots)
{
    const auto& [folder, name] = shortcut;
    std::string target;
    if (!WithinAny(RealPath(folder), sharedRoots) || ResolveShortcut(folder, name.c_str(), target) != 1)
        return std::string();
    return RealPath(target);
}

// The shortcuts are read from disk without the lock; those that have gone
// are forgotten.
bool WithinShownTarget(const std::string& real, const std::vector<std::string>& sharedRoots)
{
    std::vector<Shortcut> shortcuts;
    {
        std::lock_guard hold(shownShortcutsLock);
        shortcuts.assign(shownShortcuts.begin(), shownShortcuts.end());
    }
    bool reached = false;
    std::vector<Shortcut> gone;
    for (const Shortcut& shortcut : shortcuts) {
        const std::string target = CurrentTarget(shortcut, sharedRoots);
        if (target.empty())
            gone.push_back(shortcut);
        else if (Within(real, target))
            reached = true;
    }
    std::lock_guard hold(shownShortcutsLock);
    std::erase_if(shownShortcuts, [&gone](const Shortcut& shortcut) {
        return std::find(gone.begin(), gone.end(), shortcut) != gone.end();
    });
    return reached;
}

} // namespace

bool IsServedPath(const std::string& path)
{
    const std::string real = RealPath(path);
    if (real.empty())
        return false;
    const std::vector<std::string> sharedRoots = SharedRoots();
    return WithinAny(real, sharedRoots) || WithinShownTarget(real, sharedRoots);
}

bool IsInSharedFolder(const std::string& path)
{
    const std::string real = RealPath(path);
    return !real.empty() && WithinAny(real, SharedRoots());
}

void RememberShownShortcut(const std::string& folder, const std::string& name)
{
    const Shortcut shortcut{folder, name};
    std::lock_guard hold(shownShortcutsLock);
    if (std::find(shownShortcuts.begin(), shownShortcuts.end(), shortcut) != shownShortcuts.end())
        return;
    if (shownShortcuts.size() >= kMostShownShortcuts)
        shownShortcuts.pop_front();
    shownShortcuts.push_back(shortcut);
}
