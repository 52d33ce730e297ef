#include "record/schedule_slots.h"

#include "config/settings.h"
#include "encode/pipeline.h"
#include "platform/messages.h"

#include <cstdio>

namespace {

const char kGoneText[] = "Selected schedule no longer exists.";
const char kSlotsFullText[] =
    "Maximum number of available recording slots has been reached. Please delete some of the scheduled recordings.";
const char kStartPassedText[] = "Recording start time is in the past.";
const char kEndNotAfterStartText[] = "Recording end time must be later than the recording start time.";
const char kChannelUnavailableText[] = "Selected channel is not setup or enabled.";

ScheduleSlot* Slots()
{
    return gSettings.record.schedules;
}

// The map comes from the settings file, so its values are checked too.
int SlotOfRow(int row)
{
    if (row < 0 || row >= kScheduleSlots)
        return -1;
    const int slot = gSettings.record.scheduleRowToSlot[row];
    return slot >= 0 && slot < kScheduleSlots ? slot : -1;
}

int FirstFreeSlot()
{
    for (int slot = 0; slot < kScheduleSlots; ++slot)
        if (!Slots()[slot].used)
            return slot;
    return -1;
}

bool StartsWithin(const SystemTime& start, const ScheduleSlot& slot)
{
    return CompareSystemTime(start, slot.start) >= 0 && CompareSystemTime(start, slot.end) < 0;
}

// An end is exclusive: a schedule may end just as the other one begins.
bool EndsWithin(const SystemTime& end, const ScheduleSlot& slot)
{
    return CompareSystemTime(end, slot.start) > 0 && CompareSystemTime(end, slot.end) < 0;
}

// The first other used slot in whose range start or end falls; -1 for none.
// A schedule that encloses another is not found, as the editor always allowed.
int OverlappingSlot(int own, const SystemTime& start, const SystemTime& end)
{
    for (int slot = 0; slot < kScheduleSlots; ++slot) {
        const ScheduleSlot& other = Slots()[slot];
        if (slot != own && other.used && (StartsWithin(start, other) || EndsWithin(end, other)))
            return slot;
    }
    return -1;
}

bool ChannelIsEnabled(int channel)
{
    return channel >= 0 && channel < kChannelCount && gSettings.channels[channel].enabled;
}

int Refuse(int result, const char* text, int show)
{
    ShowMessage(text, show, 1);
    return result;
}

int RefuseOverlap(int slot, int show)
{
    const ScheduleSlot& other = Slots()[slot];
    const std::string text = "This schedule conflicts with the following schedule in the list: Ch " +
                             std::to_string(other.channel) + ", " + ScheduleTimeText(other.start);
    return Refuse(kScheduleOverlaps, text.c_str(), show);
}

} // namespace

int ValidateAndStoreSchedule(int channel, int row, const SystemTime& start, const SystemTime& end, int editing,
                             int show)
{
    const int slot = editing ? SlotOfRow(row) : FirstFreeSlot();
    if (editing && (slot < 0 || !Slots()[slot].used))
        return Refuse(kScheduleGone, kGoneText, show);
    if (slot < 0)
        return Refuse(kScheduleSlotsFull, kSlotsFullText, show);
    if (CompareSystemTime(GetLocalTime(), start) > 0)
        return Refuse(kScheduleStartPassed, kStartPassedText, show);
    if (CompareSystemTime(start, end) >= 0)
        return Refuse(kScheduleEndNotAfterStart, kEndNotAfterStartText, show);
    if (const int other = OverlappingSlot(slot, start, end); other >= 0)
        return RefuseOverlap(other, show);
    if (!ChannelIsEnabled(channel))
        return Refuse(kScheduleChannelUnavailable, kChannelUnavailableText, show);
    ScheduleSlot& stored = Slots()[slot];
    stored.start = start;
    stored.end = end;
    stored.channel = channel;
    stored.used = 1;
    return kScheduleStored;
}

int DeleteScheduleRow(int row)
{
    const int slot = SlotOfRow(row);
    if (slot < 0)
        return -1;
    ScheduleSlot& freed = Slots()[slot];
    if (CurrentActivity().recording && freed.used && freed.active)
        PostAppMessage(MessageTarget::Recorder, kMsgStopRecording);
    freed.used = 0;
    freed.active = 0;
    return 0;
}

int MapUpcomingSchedules()
{
    const SystemTime now = GetLocalTime();
    bool listed[kScheduleSlots] = {};
    int rows = 0;
    for (; rows < kScheduleSlots; ++rows) {
        int next = -1;
        for (int slot = 0; slot < kScheduleSlots; ++slot) {
            const ScheduleSlot& candidate = Slots()[slot];
            if (!candidate.used || listed[slot] || CompareSystemTime(candidate.end, now) <= 0)
                continue;
            if (next < 0 || CompareSystemTime(candidate.start, Slots()[next].start) < 0)
                next = slot;
        }
        if (next < 0)
            break;
        listed[next] = true;
        gSettings.record.scheduleRowToSlot[rows] = next;
    }
    return rows;
}

// English like every other text of the program, whatever the user's locale.
std::string ScheduleTimeText(const SystemTime& time)
{
    static const char* const kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    static const char* const kMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                            "July",    "August",   "September", "October", "November", "December"};
    // The stored weekday is not trusted: the date decides.
    SystemTime date = time;
    date.hour = date.minute = date.second = date.milliseconds = 0;
    const int weekday = LinearToSystemTime(SystemTimeToLinear(date)).dayOfWeek % 7;
    const char* month = time.month >= 1 && time.month <= 12 ? kMonths[time.month - 1] : "?";
    char text[128];
    std::snprintf(text, sizeof text, "%s, %s %02u, %u %02u:%02u:%02u", kDays[weekday], month, time.day, time.year,
                  time.hour, time.minute, time.second);
    return text;
}
