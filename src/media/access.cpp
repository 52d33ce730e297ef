#include "media/access.h"

#include "config/settings.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace {

std::mutex shownTargetsLock;
std::set<std::string> shownTargets;

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

bool WithinSharedFolder(const std::string& real)
{
    for (const MediaFolderEntry& entry : gSettings.record.mediaFolders)
        if (entry.used && Within(real, RealPath(std::string(entry.path, strnlen(entry.path, sizeof entry.path)))))
            return true;
    return false;
}

bool WithinShownTarget(const std::string& real)
{
    std::lock_guard hold(shownTargetsLock);
    for (const std::string& target : shownTargets)
        if (Within(real, target))
            return true;
    return false;
}

} // namespace

bool IsServedPath(const std::string& path)
{
    const std::string real = RealPath(path);
    return !real.empty() && (WithinSharedFolder(real) || WithinShownTarget(real));
}

void AllowShortcutTarget(const std::string& target)
{
    const std::string real = RealPath(target);
    if (real.empty())
        return;
    std::lock_guard hold(shownTargetsLock);
    shownTargets.insert(real);
}
