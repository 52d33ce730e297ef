#pragma once
// Where the program keeps things on this platform: the settings folder, the
// user's videos folder, the autostart entry.

#include <string>

std::string HomeDir();
// $XDG_CONFIG_HOME/orvandel, else ~/.config/orvandel. Not created here.
std::string ConfigDir();
// The user's videos folder (XDG_VIDEOS_DIR, else ~/Videos), created if
// missing; the home folder when neither can be had.
std::string VideosDir();
std::string ExecutablePath();

// The XDG autostart entry; autostart is on exactly when it exists.
std::string AutostartEntryPath();
bool AutostartEntryExists();
// Writes an entry whose Exec line is command. 0 or -1.
int WriteAutostartEntry(const std::string& command);

// A program path as a desktop entry's Exec key needs it: quoted when it
// holds a space or a reserved character, with '"', '`', '$' and '\'
// escaped, and '%' doubled.
std::string DesktopExecProgram(const std::string& path);
// 0 when no entry remains, -1 when it could not be removed.
int RemoveAutostartEntry();

// Linux has no per-application firewall interface to register with; the
// step of start-up that authorises the program succeeds without work.
int AuthorizeInFirewall(const std::string& executablePath);

// Creates a folder and its parents. 0 or -1.
int MakeFolders(const std::string& path);
