// Ctrl-C and SIGTERM while a stream runs.
#pragma once

namespace handheld {

// While a stream runs, the first Ctrl-C ends it cleanly (StopStream, then the
// summary) so the server is not left streaming; a second one kills at once.
class InterruptGuard {
public:
    InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    ~InterruptGuard();
};
bool interruptRequested();

}  // namespace handheld
