#pragma once
// Runs one of the project's programs as a child process and collects what it
// prints, keeping the Qt event loop of the test going meanwhile so that the
// code under test can have its posted messages handled.

#include <map>
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

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs);
