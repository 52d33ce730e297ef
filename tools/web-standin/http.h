#pragma once
// Just enough HTTP and TCP for the stand-in: read one request head, answer
// it, connect out with a time limit, and print one report line at a time.

#include <map>
#include <string>

namespace standin {

// Closes its descriptor when it goes.
class Socket {
public:
    explicit Socket(int descriptor) : descriptor_(descriptor) {}
    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Get() const { return descriptor_; }
    bool Valid() const { return descriptor_ >= 0; }

private:
    int descriptor_;
};

struct Request {
    std::string target;  // path and query, as sent
    std::string path;
    std::map<std::string, std::string> query;
    std::string peer;    // the caller's address
};

struct Reply {
    int status = 200;
    std::string body;
};

// Reads a request head; false when none arrived in time or it is no GET.
bool ReadRequest(int socket, Request& request);
void SendReply(int socket, const Reply& reply);

// A socket listening on 127.0.0.1:port (0 = any); boundPort tells which.
int ListenOnLoopback(int port, int& boundPort);
// A connected socket, or -1 after timeoutMs.
int ConnectWithin(const std::string& address, int port, int timeoutMs);
bool WaitReadable(int socket, int timeoutMs);

// Prints one line on standard output, whole, and flushes it.
void Report(const std::string& line);

} // namespace standin
