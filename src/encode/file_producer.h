#pragma once
// The thread that fills the stream buffers from a media file, and what it and
// its consumer tell each other: the body reports once the file is open, or
// why it is not; it produces once let go, when the consumer's sender runs;
// and it looks at the cancel flag at least every 100 ms. Stopping cancels,
// wakes every wait and joins.

#include "platform/start_result.h"
#include "platform/thread.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

class FileProducer {
public:
    using Body = std::function<void(FileProducer&)>;

    FileProducer() = default;
    FileProducer(const FileProducer&) = delete;
    FileProducer& operator=(const FileProducer&) = delete;
    ~FileProducer();

    // False when a body still runs here or the system refuses a thread.
    bool Start(Body body);
    bool Running() const { return thread_.Registered(); }

    // The body's report, or a failure when it gave none within limitMs.
    StartResult WaitUntilOpened(int limitMs);
    void LetGo();
    // Cancels the body and waits for it, within limitMs; true at once when
    // none runs. A body still running after it stays registered.
    bool Stop(int limitMs);
    // Waits for the body to end by itself.
    bool WaitForEnd(int limitMs) { return thread_.WaitForExit(limitMs); }

    // For the body.
    const std::atomic<int>& CancelFlag() const { return cancel_; }
    bool Cancelled() const { return cancel_ != 0; }
    void ReportOpened(StartResult result);
    // Until let go; false once cancelled.
    bool WaitUntilLetGo();

private:
    WorkerThread thread_;
    std::atomic<int> cancel_{0};
    std::mutex lock_;
    std::condition_variable changed_;
    std::optional<StartResult> opened_;
    bool letGo_ = false;
};
