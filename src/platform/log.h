#pragma once
// The program's one log: every message text, shown or not, and every failure
// of capture, encoding, recording, the network and the web services, with a
// time stamp and the subsystem it came from. It goes to standard error,
// where the systemd journal picks it up.

#include <string_view>

// Writes one line; the subsystem is the source folder of the caller.
void Log(std::string_view text, const char* callerFile = __builtin_FILE());

// A command-line tool that tells its user every message itself turns the
// log off, so that nothing is said twice.
void SetLogEnabled(bool enabled);

// The subsystem tag of a source file: the folder under src/ that holds it
// ("server" for src/server/listener.cpp), or "program" outside src/.
std::string_view SubsystemOf(std::string_view sourcePath);
