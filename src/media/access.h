#pragma once
// What a handheld may reach: the shared folders, and the targets of the
// shortcuts that a listing has shown (they may lead outside the shared
// folders), with symbolic links and ".." resolved first.

#include <string>

// Whether the real path of path lies within a shared folder or a shown
// shortcut's target. A path that does not exist is not served either, so a
// refusal never tells whether it exists.
bool IsServedPath(const std::string& path);

// A listing showed a shortcut to target: it is served from now on, for as
// long as the program runs.
void AllowShortcutTarget(const std::string& target);
