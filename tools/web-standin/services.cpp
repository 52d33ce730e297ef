#include "services.h"

#include "http.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/socket.h>

namespace standin {

namespace {

constexpr char kRegistrationPath[] = "/cgi-bin/Orvandelbroker.cgi";
constexpr int kConnectWaitMs = 5000;
constexpr int kAnswerWaitMs = 15000;
constexpr unsigned char kTransportTcp = 1;
constexpr unsigned char kTransportAccepted = 0x01;

// The file's bytes; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& contents)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    contents = bytes.str();
    return true;
}

std::string Query(const Request& request, const std::string& key)
{
    auto found = request.query.find(key);
    return found == request.query.end() ? "" : found->second;
}

Reply BrokerList(const Options& options)
{
    std::string self = "127.0.0.1:" + std::to_string(options.port);
    if (options.brokersFile.empty())
        return {200, "<brokers>\n<broker><host>" + self + "</host><ip>127.0.0.1</ip><port>" +
                         std::to_string(options.port) + "</port></broker>\n</brokers>\n"};
    std::string document;
    return ReadFile(options.brokersFile, document) ? Reply{200, document} : Reply{404, ""};
}

Reply Registration(const Request& request)
{
    Report("registration un=" + Query(request, "un") + " lip=" + Query(request, "lip") + " port=" +
           Query(request, "port") + " tc=" + Query(request, "tc") + " nat=" + Query(request, "nat"));
    return {200, "OK\n"};
}

Reply Account(const Request& request, const Options& options)
{
    const std::string kind = Query(request, "req");
    if (kind == "1")
        return {200, "status=" + std::to_string(options.createStatus) + "\n"};
    if (kind == "3")
        return {200, "status=" + std::to_string(options.changeStatus) + "\n"};
    return {400, ""};
}

Reply AddressEcho(const Request& request, const Options& options)
{
    if (options.echoFile.empty())
        return {200, request.peer};
    std::string contents;
    if (!ReadFile(options.echoFile, contents) || contents.empty())
        return {404, ""};
    return {200, contents.substr(0, contents.find_first_of("\r\n"))};
}

Reply Route(const Request& request, const Options& options)
{
    if (request.path == "/site/demos/Orvandel/brokers.xml")
        return BrokerList(options);
    if (request.path == kRegistrationPath)
        return Registration(request);
    if (request.path == "/cgi-bin/Orvandelsession.cgi")
        return Account(request, options);
    if (request.path == "/site/demos/Orvandel/update2.xml")
        return {200, "<orvandel>version=" + options.version + "</orvandel>\n"};
    if (request.path == "/site/downloads.html")
        return {200, "<html><body>Orvandel " + options.version + "</body></html>\n"};
    if (request.path == "/cgi-bin/Orvandelip.cgi")
        return AddressEcho(request, options);
    return {404, ""};
}

// Negotiates a TCP data connection with the server as a handheld does:
// empty when that worked, else what failed.
std::string NegotiateAsHandheld(const std::string& address, int basePort)
{
    Socket control(ConnectWithin(address, basePort + 1, kConnectWaitMs));
    if (!control.Valid())
        return "no control connection";
    unsigned char answer = 0;
    if (::send(control.Get(), &kTransportTcp, 1, MSG_NOSIGNAL) != 1)
        return "transport byte not sent";
    if (!WaitReadable(control.Get(), kAnswerWaitMs) || ::recv(control.Get(), &answer, 1, 0) != 1 ||
        answer != kTransportAccepted)
        return "no transport answer";
    Socket data(ConnectWithin(address, basePort, kConnectWaitMs));
    return data.Valid() ? "" : "no data connection";
}

void TestConnectivity(const Request& request)
{
    const std::string failure = NegotiateAsHandheld(Query(request, "lip"), std::atoi(Query(request, "port").c_str()));
    Report(failure.empty() ? "connectivity test passed" : "connectivity test failed: " + failure);
}

} // namespace

void ServeConnection(int socket, std::string peer, const Options& options)
{
    Request request;
    {
        Socket connection(socket);
        request.peer = std::move(peer);
        if (!ReadRequest(connection.Get(), request)) {
            SendReply(connection.Get(), {400, ""});
            return;
        }
        Report("GET " + request.target);
        SendReply(connection.Get(), Route(request, options));
    }
    if (request.path == kRegistrationPath && Query(request, "tc") == "1")
        TestConnectivity(request);
}

} // namespace standin
