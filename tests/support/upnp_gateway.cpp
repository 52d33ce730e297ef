#include "support/upnp_gateway.h"

#include "support/loopback.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr char kServiceType[] = "urn:schemas-upnp-org:service:WANIPConnection:1";
constexpr char kControlPath[] = "/ctl/IPConn";
constexpr int kPollMs = 50;
constexpr int kReceiveTimeoutSeconds = 2;

std::string RootDescription(int port)
{
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    return "<?xml version=\"1.0\"?>\r\n"
           "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><specVersion><major>1</major><minor>0</minor></specVersion>"
           "<device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
           "<friendlyName>Stand-in router</friendlyName><manufacturer>Tests</manufacturer>"
           "<modelName>Stand-in</modelName><UDN>uuid:00000000-0000-0000-0000-000000000001</UDN>"
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>"
           "<UDN>uuid:00000000-0000-0000-0000-000000000002</UDN><serviceList><service>"
           "<serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType>"
           "<serviceId>urn:upnp-org:serviceId:WANCommonIFC1</serviceId><controlURL>/ctl/CmnIfCfg</controlURL>"
           "<eventSubURL>/evt/CmnIfCfg</eventSubURL><SCPDURL>/scpd.xml</SCPDURL></service></serviceList>"
           "<deviceList><device><deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
           "<UDN>uuid:00000000-0000-0000-0000-000000000003</UDN><serviceList><service>"
           "<serviceType>" +
           std::string(kServiceType) +
           "</serviceType><serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
           "<controlURL>" +
           kControlPath +
           "</controlURL><eventSubURL>/evt/IPConn</eventSubURL><SCPDURL>/scpd.xml</SCPDURL></service>"
           "</serviceList></device></deviceList></device></deviceList>"
           "<presentationURL>" +
           base + "/</presentationURL></device></root>\r\n";
}

constexpr char kScpd[] = "<?xml version=\"1.0\"?>\r\n<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><specVersion>"
                         "<major>1</major><minor>0</minor></specVersion><actionList/><serviceStateTable/></scpd>\r\n";

std::string HttpAnswer(const std::string& status, const std::string& body)
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string Envelope(const std::string& inner)
{
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
           inner + "</s:Body></s:Envelope>\r\n";
}

std::string Reply(const std::string& action, const std::string& arguments = "")
{
    return HttpAnswer("200 OK", Envelope("<u:" + action + "Response xmlns:u=\"" + kServiceType + "\">" + arguments +
                                         "</u:" + action + "Response>"));
}

std::string Fault(int code, const std::string& description)
{
    return HttpAnswer("500 Internal Server Error",
                      Envelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
                               "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                               std::to_string(code) + "</errorCode><errorDescription>" + description +
                               "</errorDescription></UPnPError></detail></s:Fault>"));
}

std::string Element(const std::string& name, const std::string& value)
{
    return "<" + name + ">" + value + "</" + name + ">";
}

std::string Argument(const std::string& body, const std::string& name)
{
    const std::string open = "<" + name + ">";
    const size_t start = body.find(open);
    if (start == std::string::npos)
        return {};
    const size_t from = start + open.size();
    const size_t end = body.find("</" + name + ">", from);
    return end == std::string::npos ? std::string() : body.substr(from, end - from);
}

// The value of a header, or empty.
std::string Header(const std::string& head, const std::string& name)
{
    size_t line = head.find("\r\n");
    while (line != std::string::npos) {
        const size_t next = head.find("\r\n", line + 2);
        const std::string text = head.substr(line + 2, next == std::string::npos ? std::string::npos : next - line - 2);
        if (text.size() > name.size() && strncasecmp(text.c_str(), name.c_str(), name.size()) == 0 &&
            text[name.size()] == ':')
            return text.substr(text.find_first_not_of(' ', name.size() + 1));
        line = next;
    }
    return {};
}

// The whole request: its head, and as much body as Content-Length says.
std::string ReadRequest(int connection)
{
    std::string request;
    char buffer[4096];
    size_t wanted = std::string::npos;
    while (request.size() < wanted) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, static_cast<size_t>(got));
        const size_t headEnd = request.find("\r\n\r\n");
        if (wanted == std::string::npos && headEnd != std::string::npos) {
            const std::string length = Header(request.substr(0, headEnd), "Content-Length");
            wanted = headEnd + 4 + std::strtoul(length.c_str(), nullptr, 10);
        }
    }
    return request;
}

} // namespace

UpnpGateway::UpnpGateway()
{
    listener_ = ListenOnLoopback(8, port_);
    thread_ = std::thread([this] { Serve(); });
}

UpnpGateway::~UpnpGateway()
{
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::string UpnpGateway::RootUrl() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/rootDesc.xml";
}

void UpnpGateway::AddMapping(const Mapping& mapping)
{
    std::lock_guard hold(lock_);
    mappings_.push_back(mapping);
}

std::vector<UpnpGateway::Mapping> UpnpGateway::Mappings() const
{
    std::lock_guard hold(lock_);
    return mappings_;
}

void UpnpGateway::ClearMappings()
{
    std::lock_guard hold(lock_);
    mappings_.clear();
}

void UpnpGateway::FailAddsOfPort(const std::string& externalPort)
{
    std::lock_guard hold(lock_);
    failingPort_ = externalPort;
}

std::vector<std::string> UpnpGateway::Actions() const
{
    std::lock_guard hold(lock_);
    return actions_;
}

std::vector<std::string> UpnpGateway::Changes() const
{
    std::vector<std::string> changes;
    for (const std::string& action : Actions())
        if (action.rfind("AddPortMapping", 0) == 0 || action.rfind("DeletePortMapping", 0) == 0)
            changes.push_back(action);
    return changes;
}

void UpnpGateway::Serve()
{
    while (!stopping_) {
        pollfd ready{listener_, POLLIN, 0};
        if (::poll(&ready, 1, kPollMs) <= 0)
            continue;
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0)
            continue;
        timeval timeout{kReceiveTimeoutSeconds, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        Answer(connection);
        ::close(connection);
    }
}

void UpnpGateway::Answer(int connection)
{
    const std::string answer = Respond(ReadRequest(connection));
    size_t sent = 0;
    while (sent < answer.size()) {
        const ssize_t wrote = ::send(connection, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0)
            return;
        sent += static_cast<size_t>(wrote);
    }
}

std::string UpnpGateway::Respond(const std::string& request)
{
    const size_t headEnd = request.find("\r\n\r\n");
    if (headEnd == std::string::npos)
        return HttpAnswer("400 Bad Request", "");
    const std::string head = request.substr(0, headEnd);
    const std::string path = head.substr(head.find(' ') + 1, head.find(' ', head.find(' ') + 1) - head.find(' ') - 1);
    if (head.rfind("GET ", 0) == 0 && path == "/rootDesc.xml")
        return HttpAnswer("200 OK", RootDescription(port_));
    if (head.rfind("GET ", 0) == 0 && path == "/scpd.xml")
        return HttpAnswer("200 OK", kScpd);
    if (head.rfind("POST ", 0) != 0 || path != kControlPath)
        return HttpAnswer("404 Not Found", "");
    // SOAPAction: "urn:...:WANIPConnection:1#AddPortMapping"
    const std::string soapAction = Header(head, "SOAPAction");
    const size_t hash = soapAction.find('#');
    const std::string action =
        hash == std::string::npos ? std::string() : soapAction.substr(hash + 1, soapAction.find('"', hash) - hash - 1);
    return Control(action, request.substr(headEnd + 4));
}

std::string UpnpGateway::Control(const std::string& action, const std::string& body)
{
    if (action == "GetGenericPortMappingEntry")
        return GetEntry(body);
    if (action == "AddPortMapping")
        return Add(body);
    if (action == "DeletePortMapping")
        return Delete(body);
    std::lock_guard hold(lock_);
    actions_.push_back(action);
    if (action == "GetStatusInfo")
        return Reply(action, Element("NewConnectionStatus", "Connected") +
                                 Element("NewLastConnectionError", "ERROR_NONE") + Element("NewUptime", "1000"));
    if (action == "GetExternalIPAddress")
        return Reply(action, Element("NewExternalIPAddress", "203.0.113.7"));
    return Fault(401, "Invalid Action");
}

std::string UpnpGateway::GetEntry(const std::string& body)
{
    const std::string index = Argument(body, "NewPortMappingIndex");
    std::lock_guard hold(lock_);
    actions_.push_back("GetGenericPortMappingEntry " + index);
    const size_t position = std::strtoul(index.c_str(), nullptr, 10);
    if (index.empty() || position >= mappings_.size())
        return Fault(713, "SpecifiedArrayIndexInvalid");
    const Mapping& mapping = mappings_[position];
    return Reply("GetGenericPortMappingEntry",
                 Element("NewRemoteHost", "") + Element("NewExternalPort", mapping.externalPort) +
                     Element("NewProtocol", mapping.protocol) + Element("NewInternalPort", mapping.internalPort) +
                     Element("NewInternalClient", mapping.internalClient) + Element("NewEnabled", "1") +
                     Element("NewPortMappingDescription", mapping.description) + Element("NewLeaseDuration", "0"));
}

// As a router does: a port and protocol already forwarded to another client
// is refused with 718.
std::string UpnpGateway::Add(const std::string& body)
{
    const Mapping wanted{Argument(body, "NewExternalPort"), Argument(body, "NewProtocol"),
                         Argument(body, "NewInternalPort"), Argument(body, "NewInternalClient"),
                         Argument(body, "NewPortMappingDescription")};
    std::lock_guard hold(lock_);
    actions_.push_back("AddPortMapping " + wanted.externalPort + " " + wanted.protocol + " " + wanted.internalClient +
                       " " + wanted.description);
    if (wanted.externalPort == failingPort_)
        return Fault(501, "ActionFailed");
    auto same = std::find_if(mappings_.begin(), mappings_.end(), [&wanted](const Mapping& held) {
        return held.externalPort == wanted.externalPort && held.protocol == wanted.protocol;
    });
    if (same != mappings_.end() && same->internalClient != wanted.internalClient)
        return Fault(718, "ConflictInMappingEntry");
    if (same != mappings_.end())
        *same = wanted;
    else
        mappings_.push_back(wanted);
    return Reply("AddPortMapping");
}

std::string UpnpGateway::Delete(const std::string& body)
{
    const std::string port = Argument(body, "NewExternalPort");
    const std::string protocol = Argument(body, "NewProtocol");
    std::lock_guard hold(lock_);
    actions_.push_back("DeletePortMapping " + port + " " + protocol);
    auto held = std::find_if(mappings_.begin(), mappings_.end(), [&](const Mapping& mapping) {
        return mapping.externalPort == port && mapping.protocol == protocol;
    });
    if (held == mappings_.end())
        return Fault(714, "NoSuchEntryInArray");
    mappings_.erase(held);
    return Reply("DeletePortMapping");
}
