#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <optional>

namespace {

std::mutex overrideLock;
std::optional<SystemTime> localTimeOverride;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

uint32_t GetTickCount()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

SystemTime GetLocalTime()
{
    {
        std::lock_guard hold(overrideLock);
        if (localTimeOverride)
            return *localTimeOverride;
    }
    using namespace std::chrono;
    const auto now = system_clock::now();
    SystemTime time = LocalSystemTime(static_cast<int64_t>(system_clock::to_time_t(now)));
    time.milliseconds = static_cast<uint16_t>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return time;
}

SystemTime LocalSystemTime(int64_t seconds)
{
    const std::time_t moment = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&moment, &local);
    SystemTime time{};
    time.year = static_cast<uint16_t>(local.tm_year + 1900);
    time.month = static_cast<uint16_t>(local.tm_mon + 1);
    time.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
    time.day = static_cast<uint16_t>(local.tm_mday);
    time.hour = static_cast<uint16_t>(local.tm_hour);
    time.minute = static_cast<uint16_t>(local.tm_min);
    time.second = static_cast<uint16_t>(local.tm_sec);
    return time;
}

void SetLocalTimeOverride(const SystemTime* fixed)
{
    std::lock_guard hold(overrideLock);
    if (fixed)
        localTimeOverride = *fixed;
    else
        localTimeOverride.reset();
}

int64_t SystemTimeToLinear(const SystemTime& time)
{
    const int64_t days = DaysFromCivil(time.year, time.month, time.day);
    return ((days * 24 + time.hour) * 60 + time.minute) * 60000 + time.second * 1000 + time.milliseconds;
}

SystemTime LinearToSystemTime(int64_t linearMs)
{
    const int64_t days = FloorDiv(linearMs, 86400000);
    int64_t rest = linearMs - days * 86400000;
    // Inverse of DaysFromCivil.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    SystemTime time{};
    time.year = static_cast<uint16_t>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
    time.month = static_cast<uint16_t>(m);
    time.day = static_cast<uint16_t>(d);
    time.dayOfWeek = static_cast<uint16_t>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
    time.hour = static_cast<uint16_t>(rest / 3600000);
    rest %= 3600000;
    time.minute = static_cast<uint16_t>(rest / 60000);
    rest %= 60000;
    time.second = static_cast<uint16_t>(rest / 1000);
    time.milliseconds = static_cast<uint16_t>(rest % 1000);
    return time;
}

int CompareSystemTime(const SystemTime& a, const SystemTime& b)
{
    const int64_t la = SystemTimeToLinear(a);
    const int64_t lb = SystemTimeToLinear(b);
    return (la > lb) - (la < lb);
}
