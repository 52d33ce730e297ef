#pragma once
// The real program for the benchmarks that play the handheld: headless, on
// the virtual TV card, with the demo set-up (account demo/demo, channels 3,
// 5, 9, 13 and 20) in a throwaway folder, on a free loopback port.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct DemoProgram {
    std::string folder;
    int port = 0;
    pid_t pid = -1;
};

// Writes the demo set-up into a new folder (or the given one, keeping what
// is there) and starts the program with extraEnvironment ("NAME=value")
// before its own; false unless it answers logins within 30 s.
bool StartDemoProgram(DemoProgram& program, const std::vector<std::string>& extraEnvironment = {});
// SIGTERM, then the seconds it took to end (-1: killed after 30 s).
double StopDemoProgram(DemoProgram& program);

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// What /proc says of a process.
double ProcessCpuSeconds(pid_t pid);
long ResidentKilobytes(pid_t pid);
int OpenDescriptors(pid_t pid);
int ThreadCount(pid_t pid);
