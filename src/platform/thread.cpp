#include "platform/thread.h"

#include "platform/log.h"
#include "platform/messages.h"
#include "platform/sync.h"

#include <chrono>
#include <string>
#include <system_error>

namespace {
std::atomic<long> nextThreadId{1};
}

WorkerThread::~WorkerThread()
{
    if (!thread_.joinable())
        return;
    bool finished = false;
    {
        std::lock_guard hold(lock_);
        finished = finished_;
    }
    // One that has finished is only leaving its last lines, which still use
    // this object: it is waited for. A thread still running at exit is left
    // to end with the process, as the bounded shutdown waits intend.
    if (finished && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    else
        thread_.detach();
}

bool WorkerThread::Start(std::function<int()> body)
{
    if (Registered())
        return false;
    {
        std::lock_guard hold(lock_);
        finished_ = false;
    }
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            int result = body();
            std::lock_guard hold(lock_);
            result_ = result;
            finished_ = true;
            finishedChanged_.notify_all();
        });
    } catch (const std::system_error& error) {
        // The caller says which thread it was; the system's reason is here.
        Log(std::string("A thread could not be started: ") + error.what());
        return false;
    }
    id_ = nextThreadId++;
    return true;
}

bool WorkerThread::Wait(int timeoutMs)
{
    if (!Registered())
        return true;
    {
        std::unique_lock hold(lock_);
        auto done = [this] { return finished_; };
        if (timeoutMs == kInfinite)
            finishedChanged_.wait(hold, done);
        else if (!finishedChanged_.wait_for(hold, std::chrono::milliseconds(timeoutMs), done))
            return false;
    }
    std::lock_guard collecting(collectLock_);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    else if (thread_.joinable())
        thread_.detach();
    id_ = -1;
    return true;
}

bool WorkerThread::WaitForExit(int limitMs)
{
    if (!Registered())
        return true;
    if (!OnWindowThread())
        return Wait(limitMs);
    constexpr int kSliceMs = 20;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!Wait(kSliceMs)) {
        if (limitMs != kInfinite && std::chrono::steady_clock::now() >= deadline)
            return false;
        ServeWindowThreadCalls();
    }
    return true;
}
