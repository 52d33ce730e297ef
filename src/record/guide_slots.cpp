#include "record/guide_slots.h"

#include "config/settings.h"
#include "guide/recording_rules.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <algorithm>
#include <vector>

namespace {

// How far ahead planned recordings take slots.
constexpr int64_t kSlotWindowSeconds = 24 * 3600;
// The plan is made afresh this often, and whenever the guide's database
// changes (an import, a rule).
constexpr int kPassesPerFill = 60;

bool SlotHolds(const ScheduleSlot& slot, const SlottedRecording& slotted)
{
    return slot.used && slot.channel == slotted.channel &&
           CompareSystemTime(slot.start, LocalSystemTime(slotted.start)) == 0 &&
           CompareSystemTime(slot.end, LocalSystemTime(slotted.end)) == 0;
}

// A schedule of its own that the time overlaps, or nullptr.
const ScheduleSlot* OverlappingSlot(const SystemTime& start, const SystemTime& end)
{
    for (const ScheduleSlot& slot : gSettings.record.schedules)
        if (slot.used && CompareSystemTime(start, slot.end) < 0 && CompareSystemTime(slot.start, end) < 0)
            return &slot;
    return nullptr;
}

bool StillPlanned(const SlottedRecording& slotted, const std::vector<PlannedRecording>& plan)
{
    return std::any_of(plan.begin(), plan.end(), [&slotted](const PlannedRecording& planned) {
        return planned.conflict.empty() && planned.ruleId == slotted.ruleId && planned.channel == slotted.channel &&
               planned.programme.start == slotted.programmeStart && planned.start == slotted.start &&
               planned.end == slotted.end;
    });
}

int FreeSlot()
{
    for (int slot = 0; slot < kScheduleSlots; ++slot)
        if (!gSettings.record.schedules[slot].used)
            return slot;
    return -1;
}

} // namespace

bool GuideSlots::Open()
{
    if (store_)
        return true;
    std::string error;
    store_ = GuideStore::Open(databasePath_.empty() ? GuideDatabasePath() : databasePath_, error);
    if (!store_)
        Log("Recordings from the guide cannot be scheduled: " + error);
    return store_ != nullptr;
}

// A slot that no longer holds its recording has ended, or was deleted (or
// its recording stopped by hand): then that one recording is skipped.
void GuideSlots::ForgetEndedAndSkipDeleted(int64_t now)
{
    RecordingRules rules(*store_);
    for (const SlottedRecording& slotted : rules.Slotted()) {
        const bool valid = slotted.slot >= 0 && slotted.slot < kScheduleSlots;
        if (valid && SlotHolds(gSettings.record.schedules[slotted.slot], slotted))
            continue;
        if (now < slotted.end && !firstPass_) {
            rules.Skip(slotted.channel, slotted.programmeStart);
            Log("The guide's recording of channel " + std::to_string(slotted.channel) + " at " +
                LocalTimeText(slotted.programmeStart, "%Y-%m-%d %H:%M") +
                " is skipped: its schedule was deleted or stopped.");
        }
        rules.Unslot(slotted.slot);
    }
}

// A slot whose recording the plan no longer makes as it was (the programme
// moved or went, its rule was removed or lost a conflict) is freed before
// it starts, and what the plan makes now takes a slot like any other. A
// recording that runs keeps its slot: a guide change never cuts one short.
void GuideSlots::FreeChanged(const std::vector<PlannedRecording>& plan)
{
    RecordingRules rules(*store_);
    for (const SlottedRecording& slotted : rules.Slotted()) {
        ScheduleSlot& slot = gSettings.record.schedules[slotted.slot];
        // Unslotted first: a slot emptied while the guide still held it
        // would read as deleted by the person, and skip the programme.
        if (slot.active || StillPlanned(slotted, plan) || !rules.Unslot(slotted.slot))
            continue;
        slot = ScheduleSlot{};
        Log("The guide's recording of channel " + std::to_string(slotted.channel) + " at " +
            LocalTimeText(slotted.programmeStart, "%Y-%m-%d %H:%M") + " gives up schedule slot " +
            std::to_string(slotted.slot) + ": the guide or its rules changed.");
    }
}

int GuideSlots::Pass(int64_t now)
{
    const bool due = passes_++ % kPassesPerFill == 0;
    return due || (store_ && store_->ChangedElsewhere()) ? Fill(now) : 0;
}

int GuideSlots::Fill(int64_t now)
{
    if (!Open())
        return 0;
    ForgetEndedAndSkipDeleted(now);
    firstPass_ = false;
    RecordingRules rules(*store_);
    const std::vector<PlannedRecording> plan = rules.Plan(now);
    FreeChanged(plan);
    std::set<std::pair<int, int64_t>> slotted;
    for (const SlottedRecording& held : rules.Slotted())
        slotted.insert({held.channel, held.programmeStart});
    int filled = 0;
    for (const PlannedRecording& planned : plan) {
        if (!planned.conflict.empty() || planned.start >= now + kSlotWindowSeconds || planned.end <= now ||
            slotted.contains({planned.channel, planned.programme.start}))
            continue;
        const SystemTime start = LocalSystemTime(planned.start);
        const SystemTime end = LocalSystemTime(planned.end);
        if (const ScheduleSlot* other = OverlappingSlot(start, end)) {
            if (toldWaiting_.insert({planned.channel, planned.programme.start}).second)
                Log("The guide's recording " + DescribeProgramme(planned) + " waits: the schedule of channel " +
                std::to_string(other->channel) + " holds the tuner then.");
            continue;
        }
        // What finds no slot waits for the next pass.
        const int slot = FreeSlot();
        if (slot < 0 || !rules.Slot(slot, planned))
            break;
        gSettings.record.schedules[slot] = ScheduleSlot{1, 0, planned.channel, 0, start, end};
        ++filled;
        Log("The guide's recording " + DescribeProgramme(planned) + " takes schedule slot " + std::to_string(slot) + ".");
    }
    return filled;
}
