#pragma once
// What a handheld may reach: the shared folders, and the targets of the
// shortcuts inside them that a listing has shown (they may lead outside the
// shared folders), with symbolic links and ".." resolved first. A target is
// reached one step deep only, and only while its shortcut is still there.

#include <string>

// Whether the real path of path lies within a shared folder or the target of
// a shown shortcut that still leads there. A path that does not exist is not
// served either, so a refusal never tells whether it exists.
bool IsServedPath(const std::string& path);

// Whether the real path of path lies within a shared folder itself.
bool IsInSharedFolder(const std::string& path);

// A listing of folder showed its shortcut name: what it leads to is served
// from now on, for as long as it is there and still leads there.
void RememberShownShortcut(const std::string& folder, const std::string& name);
