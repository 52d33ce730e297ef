#pragma once
// What every verb of orvandel-setup ends with: its exit status, and the
// words for a refusal or a bad command line on standard error.

#include <string>

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

int Usage(const std::string& problem);
int Refuse(const std::string& message);
