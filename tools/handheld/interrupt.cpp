#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace handheld {

namespace {

std::atomic<bool> g_interrupted{false};
struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

void onInterrupt(int)
{
    g_interrupted.store(true);
}

}  // namespace

InterruptGuard::InterruptGuard()
{
    g_interrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &g_previousInt);
    ::sigaction(SIGTERM, &action, &g_previousTerm);
}

InterruptGuard::~InterruptGuard()
{
    ::sigaction(SIGINT, &g_previousInt, nullptr);
    ::sigaction(SIGTERM, &g_previousTerm, nullptr);
}

bool interruptRequested()
{
    return g_interrupted.load();
}

}  // namespace handheld
