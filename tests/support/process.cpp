#include "support/process.h"

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

std::string ProcessResult::Value(const std::string& key) const
{
    std::istringstream lines(output);
    std::string line;
    std::string value;
    while (std::getline(lines, line))
        if (line.rfind(key + "=", 0) == 0)
            value = line.substr(key.size() + 1);
    return value;
}

std::string BinPath(const std::string& program)
{
    return std::string(ORVANDEL_BIN_DIR) + "/" + program;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutMs, bool withErrors)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        if (withErrors)
            ::dup2(pipeFds[1], STDERR_FILENO);
        ::close(pipeFds[0]);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool open = true;
    while (open && std::chrono::steady_clock::now() < deadline) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        pollfd readable{pipeFds[0], POLLIN, 0};
        if (::poll(&readable, 1, 10) > 0) {
            char buffer[4096];
            ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
            if (got > 0)
                result.output.append(buffer, static_cast<size_t>(got));
            else
                open = false;
        }
    }
    if (open)
        ::kill(child, SIGKILL);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!open && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

pid_t StartProcess(const std::vector<std::string>& argv, const std::string& workingDirectory)
{
    pid_t child = ::fork();
    if (child == 0) {
        if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0)
            ::_exit(126);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return child;
}

pid_t StartOrvandel(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                    const std::vector<std::string>& launcher)
{
    // Nothing the program asks of the web services or of a router leaves
    // this machine.
    std::vector<std::string> argv = launcher;
    argv.insert(argv.end(), {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "ORVANDEL_WEB_HOST=127.0.0.1:9",
                             "ORVANDEL_UPNP_GATEWAY=http://127.0.0.1:9/rootDesc.xml", BinPath("orvandel")});
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return StartProcess(argv, workingDirectory);
}

int WaitForExit(pid_t child, int timeoutSeconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return status;
        ::usleep(50000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return -1;
}
