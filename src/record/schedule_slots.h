#pragma once
// The scheduled recordings' slots of the settings record: checking and
// storing a schedule, freeing one, and the order in which lists show them.

#include "platform/clock.h"

#include <string>

enum ScheduleResult {
    kScheduleStored = 0,
    kScheduleSlotsFull = -2,
    kScheduleStartPassed = -3,
    kScheduleEndNotAfterStart = -4,
    kScheduleOverlaps = -5,
    kScheduleChannelUnavailable = -6,
    kScheduleGone = -7,
    kScheduleDateOutOfRange = -8,  // found by the handheld's request, before any slot is looked at
};

// Checks a new schedule (editing 0) or a change to the one shown in row of
// the last list (editing 1) against the clock and the other schedules, and
// stores it. Each refusal is told through ShowMessage with show. Returns a
// ScheduleResult.
int ValidateAndStoreSchedule(int channel, int row, const SystemTime& start, const SystemTime& end, int editing,
                             int show);

// Frees the slot shown in row of the last list and, when the scheduler's
// recording of it runs, asks the main frame to stop that recording. 0, or -1
// when row is outside 0..19 or names no slot.
int DeleteScheduleRow(int row);

// Maps rows 0.. of a list to the slots whose end is still to come, earliest
// start first (the lower slot first on equal starts), in the settings'
// row-to-slot map. Returns the number of rows; later rows keep old values.
int MapUpcomingSchedules();

// A schedule time as lists and messages show it, e.g.
// "Monday, March 04, 2024 20:30:00".
std::string ScheduleTimeText(const SystemTime& time);
