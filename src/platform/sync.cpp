#include "platform/sync.h"

#include <chrono>
#include <thread>

void AutoResetEvent::Set()
{
    {
        std::lock_guard hold(lock_);
        signalled_ = true;
    }
    changed_.notify_one();
}

void AutoResetEvent::Reset()
{
    std::lock_guard hold(lock_);
    signalled_ = false;
}

bool AutoResetEvent::Wait(int timeoutMs)
{
    std::unique_lock hold(lock_);
    if (timeoutMs == kInfinite)
        changed_.wait(hold, [this] { return signalled_; });
    else if (!changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; }))
        return false;
    signalled_ = false;
    return true;
}

void StopRequest::Ask()
{
    {
        std::lock_guard hold(lock_);
        asked_ = true;
    }
    changed_.notify_all();
}

void StopRequest::Clear()
{
    std::lock_guard hold(lock_);
    asked_ = false;
}

bool StopRequest::Asked() const
{
    std::lock_guard hold(lock_);
    return asked_;
}

bool StopRequest::PauseFor(int milliseconds)
{
    std::unique_lock hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return asked_; });
}

void Sleep(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
