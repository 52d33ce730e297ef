#include "encode/file_producer.h"

#include "platform/messages.h"

#include <chrono>
#include <string>

FileProducer::~FileProducer()
{
    constexpr int kExitLimitMs = 10000;
    Stop(kExitLimitMs);
}

bool FileProducer::Start(Body body)
{
    if (Running())
        return false;
    cancel_ = 0;
    {
        std::lock_guard hold(lock_);
        opened_.reset();
        letGo_ = false;
    }
    return thread_.Start([this, body = std::move(body)] {
        body(*this);
        // A body that ended without a word has not opened anything.
        ReportOpened(StartResult::Failed("The file transcoder ended before its file was open."));
        return 0;
    });
}

StartResult FileProducer::WaitUntilOpened(int limitMs)
{
    // On the window thread in slices, serving the calls of other threads
    // meanwhile, since the body may be waiting for one.
    const bool serveCalls = OnWindowThread();
    const auto slice = std::chrono::milliseconds(serveCalls ? 20 : limitMs);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::unique_lock hold(lock_);
    while (!changed_.wait_for(hold, slice, [this] { return opened_.has_value(); })) {
        if (std::chrono::steady_clock::now() >= deadline)
            return StartResult::Failed("The file was not open within " + std::to_string(limitMs / 1000) + " s.");
        if (!serveCalls)
            continue;
        hold.unlock();
        ServeWindowThreadCalls();
        hold.lock();
    }
    return *opened_;
}

void FileProducer::LetGo()
{
    {
        std::lock_guard hold(lock_);
        letGo_ = true;
    }
    changed_.notify_all();
}

bool FileProducer::Stop(int limitMs)
{
    {
        // Under the lock, so that a wait checking its condition cannot miss it.
        std::lock_guard hold(lock_);
        cancel_ = 1;
    }
    changed_.notify_all();
    return thread_.WaitForExit(limitMs);
}

void FileProducer::ReportOpened(StartResult result)
{
    {
        std::lock_guard hold(lock_);
        if (opened_)
            return;
        opened_ = std::move(result);
    }
    changed_.notify_all();
}

bool FileProducer::WaitUntilLetGo()
{
    std::unique_lock hold(lock_);
    changed_.wait(hold, [this] { return letGo_ || cancel_ != 0; });
    return cancel_ == 0;
}
