#pragma once
// The commands of orvandel-tvs; each returns the exit status.

#include <string>
#include <vector>

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

int EncodeCommand(const std::vector<std::string>& arguments);
int InfoCommand(const std::string& path);
int ExtractCommand(const std::string& path, const std::string& prefix);
int RemuxCommand(const std::string& path, const std::string& output);
