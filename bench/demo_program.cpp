#include "demo_program.h"

#include "support/handheld_link.h"
#include "support/loopback.h"
#include "support/process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The value of a "Name:" line of /proc/PID/status, or -1.
long StatusValue(pid_t pid, const std::string& name)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name + ":", 0) == 0)
            return std::atol(line.c_str() + name.size() + 1);
    return -1;
}

} // namespace

bool StartDemoProgram(DemoProgram& program, const std::vector<std::string>& extraEnvironment)
{
    if (program.folder.empty()) {
        char folder[] = "/tmp/orvandel-bench.XXXXXX";
        if (!mkdtemp(folder))
            return false;
        program.folder = folder;
        program.port = FreePortTriple();
        const std::string media = program.folder + "/media";
        mkdir(media.c_str(), 0700);
        const std::vector<std::string> setup = {"/usr/bin/env", "HOME=" + program.folder,
                                                "XDG_CONFIG_HOME=" + program.folder + "/config",
                                                BinPath("orvandel-demo-setup"), std::to_string(program.port), media,
                                                "demo", "demo"};
        if (RunProcess(setup, 20000).exitCode != 0)
            return false;
    }
    std::vector<std::string> argv = {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "HOME=" + program.folder,
                                     "XDG_CONFIG_HOME=" + program.folder + "/config", "ORVANDEL_WEB_HOST=127.0.0.1:9",
                                     "ORVANDEL_UPNP_GATEWAY=http://127.0.0.1:9/rootDesc.xml"};
    argv.insert(argv.end(), extraEnvironment.begin(), extraEnvironment.end());
    argv.push_back(BinPath("orvandel"));
    program.pid = StartProcess(argv, program.folder);
    for (const Clock::time_point started = Clock::now(); SecondsSince(started) < 30;) {
        HandheldLink link;
        if (link.Open(program.port, "demo", "demo"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(program.pid, SIGKILL);
    waitpid(program.pid, nullptr, 0);
    program.pid = -1;
    return false;
}

double StopDemoProgram(DemoProgram& program)
{
    const Clock::time_point asked = Clock::now();
    kill(program.pid, SIGTERM);
    const int status = WaitForExit(program.pid, 30);
    program.pid = -1;
    return status < 0 ? -1 : SecondsSince(asked);
}

double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t afterName = text.rfind(')');
    if (afterName == std::string::npos)
        return 0;
    // Fields from the state on: utime and stime are the 12th and 13th.
    std::istringstream fields(text.substr(afterName + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i >= 12)
            ticks += std::stoull(field);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long ResidentKilobytes(pid_t pid)
{
    return StatusValue(pid, "VmRSS");
}

int ThreadCount(pid_t pid)
{
    return static_cast<int>(StatusValue(pid, "Threads"));
}

int OpenDescriptors(pid_t pid)
{
    std::error_code error;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}
