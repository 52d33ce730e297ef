#pragma once
// The schedule thread: once a second it compares the schedule slots with the
// local clock and asks the recorder to start or stop recordings; once a
// minute it lets the guide's planned recordings take slots. It only posts
// messages; the recording itself runs on the window thread.

#include "platform/sync.h"
#include "platform/thread.h"
#include "record/guide_slots.h"

class Tuner;

// Started at start-up, stopped at shutdown, which waits at most 2 s.
class ScheduleThread {
public:
    ScheduleThread() = default;
    ScheduleThread(const ScheduleThread&) = delete;
    ScheduleThread& operator=(const ScheduleThread&) = delete;
    ~ScheduleThread() { Stop(); }

    // False when the system refuses a thread, or one still runs. The
    // recordings' channels are chosen on tuner, which outlives the thread.
    bool Start(Tuner& tuner);
    // Safe when it never started.
    void Stop();

private:
    int Run();

    Tuner* tuner_ = nullptr;
    GuideSlots guideSlots_;
    WorkerThread thread_;
    StopRequest stop_;
};

// One pass over the slots, in slot order, acting on at most one of them:
// a slot whose end has come stops its recording and is freed; a due slot
// starts its recording once, unless the tuner makes it wait (a live stream
// on another channel).
void RunSchedulePass(Tuner& tuner);
