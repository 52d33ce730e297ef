#include "support/web_standin_process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
constexpr int kStartWaitMs = 10000;
}

WebStandin::WebStandin(const std::vector<std::string>& options, int port)
{
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return;
    std::vector<std::string> arguments = {ORVANDEL_BIN_DIR "/orvandel-web-standin", std::to_string(port)};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    if (posix_spawn(&child_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        child_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    output_ = pipeEnds[0];
    reader_ = std::thread([this] { ReadOutput(); });
    if (child_ > 0 && WaitForLines("", 1, kStartWaitMs))
        port_ = std::atoi(LinesWith("").front().c_str());
}

WebStandin::~WebStandin()
{
    if (child_ > 0) {
        ::kill(child_, SIGTERM);
        ::waitpid(child_, nullptr, 0);
    }
    if (reader_.joinable())
        reader_.join();
    if (output_ >= 0)
        ::close(output_);
}

std::string WebStandin::Host() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void WebStandin::UseAsWebHost() const
{
    setenv("ORVANDEL_WEB_HOST", Host().c_str(), 1);
}

bool WebStandin::WaitForLines(const std::string& fragment, size_t count, int timeoutMs) const
{
    std::unique_lock hold(lock_);
    return linesChanged_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        size_t found = 0;
        for (const std::string& line : lines_)
            found += line.find(fragment) != std::string::npos;
        return found >= count;
    });
}

size_t WebStandin::CountLines(const std::string& fragment) const
{
    return LinesWith(fragment).size();
}

std::vector<std::string> WebStandin::LinesWith(const std::string& fragment) const
{
    std::lock_guard hold(lock_);
    std::vector<std::string> found;
    for (const std::string& line : lines_) {
        if (line.find(fragment) != std::string::npos)
            found.push_back(line);
    }
    return found;
}

void WebStandin::ReadOutput()
{
    std::string pending;
    char piece[512];
    ssize_t got;
    while ((got = ::read(output_, piece, sizeof piece)) > 0) {
        pending.append(piece, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            std::lock_guard hold(lock_);
            lines_.push_back(pending.substr(0, end));
            linesChanged_.notify_all();
        }
    }
}
