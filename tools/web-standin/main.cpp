// A local stand-in of the maker's web services, for tests and for trying
// the program without the real ones:
//
//   orvandel-web-standin 8080 &
//   ORVANDEL_WEB_HOST=127.0.0.1:8080 build/bin/orvandel
//
// It prints the port it listens on first, then one line per request and per
// registration and connectivity test.

#include "http.h"
#include "services.h"

#include <arpa/inet.h>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>

namespace {

const char kUsage[] =
    "usage: orvandel-web-standin PORT [options]\n"
    "  PORT                 port on 127.0.0.1 to listen on; 0 picks a free one\n"
    "  --brokers FILE       serve FILE as the broker list (default: this stand-in)\n"
    "  --echo FILE          echo the first line of FILE as the public address\n"
    "                       (default: the caller's address)\n"
    "  --create-status N    the account script's answer to a new account\n"
    "  --change-status N    the account script's answer to a password change\n"
    "  --version TEXT       the published version\n";

bool ReadInt(const char* text, int& value)
{
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    value = static_cast<int>(parsed);
    return *text && !*end && parsed >= INT_MIN && parsed <= INT_MAX;
}

bool ParseOptions(int argc, char** argv, standin::Options& options)
{
    if (argc < 2 || !ReadInt(argv[1], options.port) || options.port < 0 || options.port > 65535)
        return false;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--brokers")
            options.brokersFile = value;
        else if (name == "--echo")
            options.echoFile = value;
        else if (name == "--version")
            options.version = value;
        else if (!(name == "--create-status" && ReadInt(value, options.createStatus)) &&
                 !(name == "--change-status" && ReadInt(value, options.changeStatus)))
            return false;
    }
    return argc % 2 == 0;
}

std::string PeerAddress(const sockaddr_in& peer)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    standin::Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int listener = standin::ListenOnLoopback(options.port, options.port);
    if (listener < 0) {
        std::perror("orvandel-web-standin: cannot listen");
        return 1;
    }
    standin::Report(std::to_string(options.port));
    std::fprintf(stderr, "serving on 127.0.0.1:%d; start the program with ORVANDEL_WEB_HOST=127.0.0.1:%d\n",
                 options.port, options.port);
    for (;;) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        int connection = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
        if (connection >= 0)
            std::thread(standin::ServeConnection, connection, PeerAddress(peer), std::cref(options)).detach();
    }
}
