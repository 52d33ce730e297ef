#include "platform/log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

std::string_view SubsystemOf(std::string_view sourcePath)
{
    const size_t src = sourcePath.rfind("src/");
    if (src == std::string_view::npos)
        return "program";
    std::string_view rest = sourcePath.substr(src + 4);
    const size_t slash = rest.find('/');
    return slash == std::string_view::npos ? "program" : rest.substr(0, slash);
}

namespace {
std::atomic<bool> logEnabled{true};
}

void SetLogEnabled(bool enabled)
{
    logEnabled = enabled;
}

void Log(std::string_view text, const char* callerFile)
{
    if (!logEnabled)
        return;
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line = std::string(stamp) + "." + std::to_string(1000 + millis).substr(1) + " [" +
                       std::string(SubsystemOf(callerFile)) + "] ";
    // Texts meant for a box keep their line breaks out of the log.
    for (char c : text)
        line += c == '\r' ? ' ' : c == '\n' ? ' ' : c;
    line += '\n';
    std::fputs(line.c_str(), stderr);
}
