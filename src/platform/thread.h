#pragma once
// Worker threads with the program's bookkeeping: a thread slot holds id -1
// ("none") until a thread is started in it and again once it has been
// collected.

#include "platform/sync.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // Starts body on a new thread. Fails (false) when a thread is still
    // registered in this slot or the system refuses a new thread.
    bool Start(std::function<int()> body);

    // -1 while no thread is registered.
    long Id() const { return id_.load(); }
    bool Registered() const { return Id() != -1; }

    // Waits up to timeoutMs (kInfinite: no limit) for the thread to return;
    // when it has, collects it and the slot is "none" again.
    bool Wait(int timeoutMs);

    // The thread's result, valid after a successful Wait.
    int Result() const { return result_; }

    // Waits for the thread to return and collects it, true at once when
    // none is registered. On the GUI thread, other threads' calls to it are
    // served meanwhile, since the thread may be waiting for one. With a
    // limit, false when the thread still runs after it.
    bool WaitForExit(int limitMs = kInfinite);

private:
    std::thread thread_;
    std::atomic<long> id_{-1};
    std::mutex lock_;
    std::mutex collectLock_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;
    int result_ = 0;
};
