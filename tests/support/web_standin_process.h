#pragma once
// Runs tools/web-standin as a child process on a free loopback port and
// collects the lines it prints, so that a test can see every request,
// registration and connectivity test it served.

#include <condition_variable>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

class WebStandin {
public:
    // options: the stand-in's own, after its port; port 0 takes a free one.
    explicit WebStandin(const std::vector<std::string>& options = {}, int port = 0);
    ~WebStandin();
    WebStandin(const WebStandin&) = delete;
    WebStandin& operator=(const WebStandin&) = delete;

    // 0 when the stand-in did not start.
    int Port() const { return port_; }
    // "127.0.0.1:port", as a URL's host.
    std::string Host() const;
    // Points ORVANDEL_WEB_HOST at the stand-in.
    void UseAsWebHost() const;

    // Waits until at least count printed lines contain fragment.
    bool WaitForLines(const std::string& fragment, size_t count, int timeoutMs) const;
    size_t CountLines(const std::string& fragment) const;
    std::vector<std::string> LinesWith(const std::string& fragment) const;

private:
    void ReadOutput();

    pid_t child_ = -1;
    int output_ = -1;
    int port_ = 0;
    std::thread reader_;
    mutable std::mutex lock_;
    mutable std::condition_variable linesChanged_;
    std::vector<std::string> lines_;
};
