#include "platform/capture/channel_tables.h"

#include <algorithm>
#include <iterator>

namespace {

// A run of channels spaced evenly: first..last from firstKhz in stepKhz.
struct Band {
    int first;
    int last;
    int firstKhz;
    int stepKhz;
};

constexpr Band kLowVhf[] = {{2, 4, 55250, 6000}, {5, 6, 77250, 6000}, {7, 13, 175250, 6000}};
constexpr Band kNorthAmericaBroadcast[] = {kLowVhf[0], kLowVhf[1], kLowVhf[2], {14, 69, 471250, 6000}};
constexpr Band kNorthAmericaCable[] = {{1, 1, 73250, 6000},      kLowVhf[0],          kLowVhf[1],
                                       kLowVhf[2],               {14, 22, 121250, 6000}, {23, 94, 217250, 6000},
                                       {95, 99, 91250, 6000},    {100, 158, 649250, 6000}};
constexpr Band kWesternEurope[] = {{2, 4, 48250, 7000}, {5, 12, 175250, 7000}, {21, 69, 471250, 8000}};

// Countries whose analog channels follow the CCIR plan (E2-E12, E21-E69).
constexpr int kWesternEuropeCountries[] = {30, 31, 32, 34, 41, 43, 44, 45, 46, 47, 49, 351, 352, 353, 358};

template <size_t N> int Lookup(const Band (&bands)[N], int channel)
{
    for (const Band& band : bands)
        if (channel >= band.first && channel <= band.last)
            return band.firstKhz + (channel - band.first) * band.stepKhz;
    return -1;
}

template <size_t N> void Range(const Band (&bands)[N], int& minimum, int& maximum)
{
    minimum = bands[0].first;
    maximum = bands[0].last;
    for (const Band& band : bands) {
        minimum = std::min(minimum, band.first);
        maximum = std::max(maximum, band.last);
    }
}

} // namespace

ChannelPlan PlanFor(int countryCode, int inputType)
{
    if (countryCode == 1 || countryCode == 52)
        return inputType == 0 ? ChannelPlan::NorthAmericaCable : ChannelPlan::NorthAmericaBroadcast;
    if (std::find(std::begin(kWesternEuropeCountries), std::end(kWesternEuropeCountries), countryCode) !=
        std::end(kWesternEuropeCountries))
        return ChannelPlan::WesternEurope;
    return ChannelPlan::None;
}

int ChannelFrequencyKhz(ChannelPlan plan, int channel)
{
    switch (plan) {
    case ChannelPlan::NorthAmericaBroadcast: return Lookup(kNorthAmericaBroadcast, channel);
    case ChannelPlan::NorthAmericaCable: return Lookup(kNorthAmericaCable, channel);
    case ChannelPlan::WesternEurope: return Lookup(kWesternEurope, channel);
    case ChannelPlan::None: break;
    }
    return -1;
}

int PlanChannelRange(ChannelPlan plan, int& minimum, int& maximum)
{
    switch (plan) {
    case ChannelPlan::NorthAmericaBroadcast: Range(kNorthAmericaBroadcast, minimum, maximum); return 0;
    case ChannelPlan::NorthAmericaCable: Range(kNorthAmericaCable, minimum, maximum); return 0;
    case ChannelPlan::WesternEurope: Range(kWesternEurope, minimum, maximum); return 0;
    case ChannelPlan::None: break;
    }
    return -1;
}
