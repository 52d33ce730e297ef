#include "platform/messages.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <map>

namespace {

std::map<MessageTarget, MessageHandler> handlers;

class StderrSink : public MessageSink {
public:
    void Error(const std::string& text, bool) override { std::fprintf(stderr, "Error! %s\n", text.c_str()); }
    void Info(const std::string& text) override { std::fprintf(stderr, "Info: %s\n", text.c_str()); }
    bool Confirm(const std::string& text) override
    {
        std::fprintf(stderr, "Confirm: %s (OK)\n", text.c_str());
        return true;
    }
};

StderrSink stderrSink;
std::atomic<MessageSink*> currentSink{&stderrSink};

} // namespace

void SetMessageHandler(MessageTarget target, MessageHandler handler)
{
    if (handler)
        handlers[target] = std::move(handler);
    else
        handlers.erase(target);
}

bool PostAppMessage(MessageTarget target, unsigned message, uintptr_t wParam, intptr_t lParam)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    return QMetaObject::invokeMethod(
        app,
        [target, message, wParam, lParam] {
            auto found = handlers.find(target);
            if (found != handlers.end())
                found->second(message, wParam, lParam);
        },
        Qt::QueuedConnection);
}

void SetMessageSink(MessageSink* sink)
{
    currentSink = sink ? sink : &stderrSink;
}

void ShowMessage(const char* text, int show, int direct)
{
    if (!show)
        return;
    std::string copy(text);
    if (!direct && copy.size() > 1023)
        copy.resize(1023);
    currentSink.load()->Error(copy, direct != 0);
}

void ShowInfo(const char* text, int show)
{
    if (show)
        currentSink.load()->Info(text);
}

int AskConfirm(const char* text)
{
    return currentSink.load()->Confirm(text) ? IDOK : IDCANCEL;
}
