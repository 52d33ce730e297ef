#pragma once
// What the Capture Options dialog shows and stores for one channel record,
// apart from its widgets.

#include "config/settings.h"

#include <string>
#include <vector>

struct ChannelSetupModel {
    std::vector<std::string> routeNames;  // the video input box
    int tunerRoute = -1;                  // the first route from a tuner input
    bool tunerFound = false;              // enables the tuning controls
    int videoInput = -1;                  // the box's selection
    int channel = -1;
    int country = 1;
    bool antenna = true;
    bool motion = false;
};

constexpr int kSpinMinimum = 0;
constexpr int kSpinMaximum = 1000;

// Builds the graph for the record's lineup devices and loads the routes,
// the tuner's presence and the record's values.
void LoadChannelSetup(const ChannelRecord& record, ChannelSetupModel& model);

// OK: the values go back into the record. The video output and both audio
// boxes are never filled, so their indices become -1.
void StoreChannelSetup(const ChannelSetupModel& model, ChannelRecord& record);

// A spin control's step, kept within 0 to 1000.
int StepSpinValue(int value, int steps);
