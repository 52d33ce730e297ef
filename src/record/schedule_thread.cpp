#include "record/schedule_thread.h"

#include "capture/tuner.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "shared/server_state.h"

#include <ctime>
#include <mutex>

namespace {

constexpr int kPassIntervalMs = 1000;
constexpr int kStopLimitMs = 2000;

// The slot's end has come: its recording stops and the slot is free.
void EndSlot(ScheduleSlot& slot)
{
    if (IsRecording() && slot.active)
        PostAppMessage(MessageTarget::Recorder, kMsgStopRecording);
    else if (slot.active)
        // Refused at its start (no room, say) or stopped by its file.
        Log("A scheduled recording of channel " + std::to_string(slot.channel) +
            " did not record its whole time.");
    if (!slot.active)
        Log("A scheduled recording of channel " + std::to_string(slot.channel) + " ended without recording.");
    slot.active = 0;
    slot.used = 0;
}

void StartSlot(Tuner& tuner, ScheduleSlot& slot)
{
    tuner.Choose(slot.channel);
    // The slot goes along, counted from 1, for a recording of the guide's
    // programme to be named after it.
    const intptr_t slotNumber = &slot - gSettings.record.schedules + 1;
    PostAppMessage(MessageTarget::Recorder, kMsgStartRecording, static_cast<uintptr_t>(slot.channel), slotNumber);
    slot.active = 1;
    Log("A scheduled recording of channel " + std::to_string(slot.channel) + " starts.");
}

} // namespace

void RunSchedulePass(Tuner& tuner)
{
    for (ScheduleSlot& slot : gSettings.record.schedules) {
        if (!slot.used)
            continue;
        const SystemTime now = GetLocalTime();
        if (CompareSystemTime(now, slot.end) >= 0) {
            EndSlot(slot);
            return;
        }
        // A slot whose start was posted is not started again: a start that
        // failed would otherwise show its message every second, and a
        // recording stopped by its limits or by hand would come back.
        if (!slot.active && !IsRecording() && CompareSystemTime(slot.start, now) <= 0) {
            // The live stream keeps its channel; the schedule waits for it.
            if (tuner.Ask(TunerUse::Recording, slot.channel).meets == TunerMeets::Waits)
                return;
            StartSlot(tuner, slot);
            return;
        }
    }
}

int ScheduleThread::Run()
{
    do {
        guideSlots_.Pass(static_cast<int64_t>(std::time(nullptr)));
        RunSchedulePass(*tuner_);
    } while (!stop_.PauseFor(kPassIntervalMs));
    return 0;
}

bool ScheduleThread::Start(Tuner& tuner)
{
    tuner_ = &tuner;
    // The settings keep the active mark of a recording that ran when the
    // program last ended; nothing records now, and a mark left standing
    // would let the slot's end stop some other recording, and keep the
    // schedule from starting again within its time.
    for (ScheduleSlot& slot : gSettings.record.schedules)
        slot.active = 0;
    stop_.Clear();
    return thread_.Start([this] { return Run(); });
}

void ScheduleThread::Stop()
{
    stop_.Ask();
    if (!thread_.WaitForExit(kStopLimitMs))
        Log("The schedule thread did not end in time.");
}
