#include "platform/messages.h"

#include "platform/log.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

std::map<MessageTarget, MessageHandler> handlers;

class LogOnlySink : public MessageSink {
public:
    // The log has the text already.
    void Error(const std::string&, bool) override {}
    void Info(const std::string&) override {}
    bool Confirm(const std::string&) override { return true; }
};

LogOnlySink logOnlySink;
std::atomic<MessageSink*> currentSink{&logOnlySink};

// One job another thread waits for. Once taken off the queue it is either
// run or was given up by its caller, never both.
struct WindowCall {
    std::function<void()> job;
    enum class Stage { Queued, Running, Done, GivenUp } stage = Stage::Queued;
};

void DeliverAppMessage(MessageTarget target, unsigned message, uintptr_t wParam, intptr_t lParam)
{
    auto found = handlers.find(target);
    if (found != handlers.end())
        found->second(message, wParam, lParam);
}

std::mutex callsLock;
std::condition_variable callsChanged;
std::deque<std::shared_ptr<WindowCall>> queuedCalls;
std::atomic<bool> callsClosed{false};

// The next call to run, or nullptr; marks it running. Nothing runs once the
// calls are closed.
std::shared_ptr<WindowCall> TakeQueuedCall()
{
    std::lock_guard hold(callsLock);
    while (!callsClosed && !queuedCalls.empty()) {
        std::shared_ptr<WindowCall> call = std::move(queuedCalls.front());
        queuedCalls.pop_front();
        if (call->stage == WindowCall::Stage::Queued) {
            call->stage = WindowCall::Stage::Running;
            return call;
        }
    }
    return nullptr;
}

} // namespace

bool OnWindowThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || app->thread() == QThread::currentThread();
}

void ServeWindowThreadCalls()
{
    while (std::shared_ptr<WindowCall> call = TakeQueuedCall()) {
        call->job();
        {
            std::lock_guard hold(callsLock);
            call->stage = WindowCall::Stage::Done;
        }
        callsChanged.notify_all();
    }
}

bool CallOnWindowThread(std::function<void()> job, int timeoutMs)
{
    if (callsClosed)
        return false;
    if (OnWindowThread()) {
        job();
        return true;
    }
    auto call = std::make_shared<WindowCall>();
    call->job = std::move(job);
    {
        std::lock_guard hold(callsLock);
        if (callsClosed)
            return false;
        queuedCalls.push_back(call);
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { ServeWindowThreadCalls(); }, Qt::QueuedConnection);
    std::unique_lock hold(callsLock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    callsChanged.wait_until(hold, deadline, [&] {
        return call->stage == WindowCall::Stage::Done || (callsClosed && call->stage == WindowCall::Stage::Queued);
    });
    // A call that has begun is let finish: what it stops must not be half done.
    callsChanged.wait(hold, [&] { return call->stage != WindowCall::Stage::Running; });
    if (call->stage == WindowCall::Stage::Done)
        return true;
    call->stage = WindowCall::Stage::GivenUp;
    return false;
}

bool SendAppMessage(MessageTarget target, unsigned message, uintptr_t wParam, intptr_t lParam, int timeoutMs)
{
    return CallOnWindowThread([=] { DeliverAppMessage(target, message, wParam, lParam); }, timeoutMs);
}

void CloseWindowThreadCalls()
{
    {
        std::lock_guard hold(callsLock);
        callsClosed = true;
    }
    callsChanged.notify_all();
}

bool WindowThreadClosing()
{
    return callsClosed;
}

void SetMessageHandler(MessageTarget target, MessageHandler handler)
{
    if (handler)
        handlers[target] = std::move(handler);
    else
        handlers.erase(target);
}

int RunServingEvents(std::function<int()> work)
{
    if (!QCoreApplication::instance() || !OnWindowThread())
        return work();
    QEventLoop loop;
    int result = 0;
    std::thread worker;
    try {
        worker = std::thread([&] {
            result = work();
            // Queued: the loop may not have started yet, and quits when it has.
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        return work();
    }
    loop.exec();
    worker.join();
    return result;
}

bool PostAppMessage(MessageTarget target, unsigned message, uintptr_t wParam, intptr_t lParam)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    return QMetaObject::invokeMethod(
        app,
        [target, message, wParam, lParam] { DeliverAppMessage(target, message, wParam, lParam); },
        Qt::QueuedConnection);
}

void SetMessageSink(MessageSink* sink)
{
    currentSink = sink ? sink : &logOnlySink;
}

void ShowMessage(const char* text, int show, int direct, const char* callerFile)
{
    Log(std::string(show ? "Error! " : "Error (not shown): ") + text, callerFile);
    if (!show)
        return;
    std::string copy(text);
    if (!direct && copy.size() > 1023)
        copy.resize(1023);
    currentSink.load()->Error(copy, direct != 0);
}

void ShowInfo(const char* text, int show, const char* callerFile)
{
    Log(std::string(show ? "Info: " : "Info (not shown): ") + text, callerFile);
    if (show)
        currentSink.load()->Info(text);
}

int AskConfirm(const char* text, const char* callerFile)
{
    Log(std::string("Confirm: ") + text, callerFile);
    return currentSink.load()->Confirm(text) ? IDOK : IDCANCEL;
}
