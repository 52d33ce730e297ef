#pragma once
// Time as the program keeps it: a millisecond tick count and local calendar
// time in the 16-byte layout stored in the settings file.

#include <cstdint>

// Milliseconds from an arbitrary start, monotonic; wraps like a 32-bit count.
uint32_t GetTickCount();

struct SystemTime {
    uint16_t year;
    uint16_t month;      // 1..12
    uint16_t dayOfWeek;  // 0 = Sunday
    uint16_t day;        // 1..31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};
static_assert(sizeof(SystemTime) == 16);

// The local time now, or the time set by SetLocalTimeOverride.
SystemTime GetLocalTime();

// The local calendar time of a moment, whole seconds since 1970 in UTC.
SystemTime LocalSystemTime(int64_t seconds);

// Lets tests fix the local clock; nullptr returns to the real clock.
void SetLocalTimeOverride(const SystemTime* fixed);

// Milliseconds of a calendar time on one linear scale, for ordering and
// differences; the day-of-week field is not used.
int64_t SystemTimeToLinear(const SystemTime& time);
SystemTime LinearToSystemTime(int64_t linearMs);

// -1, 0 or 1 as a is earlier than, equal to or later than b.
int CompareSystemTime(const SystemTime& a, const SystemTime& b);
