// Output of the client: one key=value pair per line on stdout so that scripts
// can grep it, and one-line diagnostics on stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace handheld {

// Process exit statuses. A refusal by the server is told apart from a
// broken connection because tests check refusals on purpose.
enum Status : int {
    kOk = 0,
    kFailed = 1,
    kUsage = 2,
    kRefused = 3,
};

// The worse of two statuses, so that a sequence reports its worst step.
Status worse(Status a, Status b);

// Server texts may hold any byte; escaping keeps every value on one line.
std::string escapeText(std::string_view text);

void printText(std::string_view key, std::string_view value);
void printNumber(std::string_view key, long long value);
void printCode(std::string_view key, uint8_t code);

void printError(std::string_view message);

}  // namespace handheld
