#pragma once
// How long a login is answered after repeated wrong passwords: five are
// free, then the first delay doubles with each further failure, up to 30 s.
// The server and the web gateway slow guessing down the same way.

#include <algorithm>
#include <cstdint>

inline int LoginDelayMs(int failures, int firstDelayMs)
{
    constexpr int kFreeFailures = 5;
    constexpr int64_t kLongestMs = 30000;
    if (failures < kFreeFailures)
        return 0;
    int64_t delay = firstDelayMs;
    for (int i = kFreeFailures; i < failures && delay < kLongestMs; ++i)
        delay *= 2;
    return static_cast<int>(std::min(delay, kLongestMs));
}
