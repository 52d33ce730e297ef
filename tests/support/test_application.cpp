#include "support/test_application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// Ends the application once every test has run, while Qt's own globals
// still exist: static destruction would come too late for them.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void TearDown() override { delete application; }

    QApplication* application = nullptr;
};

} // namespace

QApplication& Application()
{
    static int argc = 1;
    static char name[] = "orvandel_tests";
    static char* argv[] = {name, nullptr};
    static auto* environment = [] {
        auto* made = new ApplicationEnvironment;
        made->application = new QApplication(argc, argv);
        ::testing::AddGlobalTestEnvironment(made);
        return made;
    }();
    return *environment->application;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        Application().processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
