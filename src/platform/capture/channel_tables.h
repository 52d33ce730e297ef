#pragma once
// Broadcast and cable channel plans: the picture carrier of each channel
// number, for tuners that are driven by frequency.

enum class ChannelPlan { None, NorthAmericaBroadcast, NorthAmericaCable, WesternEurope };

// The plan of a country (international dialling code) and input type
// (1 antenna, 0 cable); None for a country without a plan here.
ChannelPlan PlanFor(int countryCode, int inputType);
// The picture carrier in kHz, or -1 when the plan has no such channel.
int ChannelFrequencyKhz(ChannelPlan plan, int channel);
// 0 and the lowest and highest channel numbers, or -1 for None.
int PlanChannelRange(ChannelPlan plan, int& minimum, int& maximum);
