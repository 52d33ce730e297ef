#pragma once
// Runs one of the project's programs as a child process and collects what it
// prints, keeping the Qt event loop of the test going meanwhile so that the
// code under test can have its posted messages handled.

#include <map>
#include <sys/types.h>
#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not end by itself in time
    std::string output;

    // The value of the last "key=value" line for key, or "" when none.
    std::string Value(const std::string& key) const;
};

// Path of a program built into the project's bin folder.
std::string BinPath(const std::string& program);

// Runs argv to its end, collecting its standard output (and its standard
// error with withErrors).
ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs, bool withErrors = false);

// Starts argv as a child that writes where this process does; in
// workingDirectory when one is given.
pid_t StartProcess(const std::vector<std::string>& argv, const std::string& workingDirectory = "");

// Starts the program headless, with the web services pointed at a closed
// port on this machine so that nothing leaves it; in workingDirectory when
// one is given.
// `launcher` goes before the program: a command that runs the rest, such
// as unshare for a mount namespace of the test's own.
pid_t StartOrvandel(const std::vector<std::string>& arguments, const std::string& workingDirectory = "",
                    const std::vector<std::string>& launcher = {});

// Waits up to timeoutSeconds for a child; its wait status, or -1 when it had
// to be killed.
int WaitForExit(pid_t child, int timeoutSeconds);
