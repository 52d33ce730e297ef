#pragma once
// How the benchmarks report repeats: the median, and the spread.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// The median of the values, and their spread, as "0.41 (0.38 to 0.45)".
inline std::string MedianAndSpread(std::vector<double> values)
{
    std::erase_if(values, [](double value) { return std::isnan(value); });
    if (values.empty())
        return "none (every run failed)";
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    const double median = values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f (%.2f to %.2f)", median, values.front(), values.back());
    return text;
}
