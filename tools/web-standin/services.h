#pragma once
// The maker's web services as the program uses them: the broker list, the
// directory registration with its connectivity test, the account script,
// the version document and the address echo.

#include <string>

namespace standin {

struct Options {
    int port = 0;               // 0: any free port
    std::string brokersFile;    // served as the broker list, read at every request
    std::string echoFile;       // its first line is the echoed address, read at every request
    std::string version = "1.1.4";
    int createStatus = 0;       // the account script's answers
    int changeStatus = 0;
};

// Answers one connection and closes it; then, when a registration asked
// for it, tests the registered server as a handheld would.
void ServeConnection(int socket, std::string peer, const Options& options);

} // namespace standin
