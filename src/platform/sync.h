#pragma once
// Synchronisation primitives in the shapes the rest of the program expects.

#include <condition_variable>
#include <mutex>

constexpr int kInfinite = -1;

// A Win32-style mutex: its owner may take it again, and waits may time out.
using RecursiveTimedMutex = std::recursive_timed_mutex;

// Pauses the calling thread; never call it while holding a lock.
void Sleep(int milliseconds);

// A critical section: a plain, non-recursive lock.
using CriticalSection = std::mutex;

// An auto-reset event: one Set releases exactly one waiter (or the next one
// to wait), and the event is unsignalled again afterwards.
class AutoResetEvent {
public:
    void Set();
    void Reset();
    // Returns true when the event was signalled, false on time-out.
    bool Wait(int timeoutMs);

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

// A thread's stop: asking for it wakes every pause of the thread at once,
// and it stays asked until cleared for the next start.
class StopRequest {
public:
    void Ask();
    void Clear();
    bool Asked() const;
    // Pauses up to milliseconds; true when the stop is asked.
    bool PauseFor(int milliseconds);

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool asked_ = false;
};
