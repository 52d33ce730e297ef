#pragma once
// A loopback HTTP server for the web client's own edge cases: it answers
// every connection with the same bytes, then closes it or holds it open in
// silence, and keeps each request it was sent.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CannedServer {
public:
    enum class After { Close, HoldOpen };

    explicit CannedServer(std::string answer, After after = After::Close);
    ~CannedServer();
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    // "127.0.0.1:port" followed by path.
    std::string Url(const std::string& path) const;
    std::vector<std::string> Requests() const;
    bool WaitForRequests(size_t count, int timeoutMs) const;

private:
    void Serve();
    void Answer(int connection);

    const std::string answer_;
    const After after_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// A loopback port that nothing listens on.
int UnusedLoopbackPort();
