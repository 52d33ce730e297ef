#include "log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace web {

void logLine(const std::string& text)
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One fprintf per line, so that lines of several threads never mix.
    std::fprintf(stderr, "%s orvandel-web: %s\n", stamp, text.c_str());
}

}  // namespace web
