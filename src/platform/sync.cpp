#include "platform/sync.h"

#include <chrono>
#include <map>
#include <memory>

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

AutoResetEvent& NamedEvent(const std::string& name)
{
    static std::mutex registryLock;
    static std::map<std::string, std::unique_ptr<AutoResetEvent>> registry;
    std::lock_guard hold(registryLock);
    auto& slot = registry[name];
    if (!slot)
        slot = std::make_unique<AutoResetEvent>();
    return *slot;
}
