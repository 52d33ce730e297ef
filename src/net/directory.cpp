#include "net/connectivity.h"

#include "config/settings.h"
#include "net/web_client.h"
#include "net/web_host.h"
#include "platform/clock.h"
#include "platform/log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kBrokerListPath[] = "/site/demos/Orvandel/brokers.xml";
constexpr char kRegistrationFormat[] =
    "http://%s%s/cgi-bin/Orvandelbroker.cgi?cmd=si&un=%s&lip=%s&port=%d&tc=%d&nat=%d";

struct BrokerElement {
    const char* start;
    const char* stopList;
    size_t fieldSize;
};
constexpr BrokerElement kHostElement{"<host>", "</host>\0", 128};
constexpr BrokerElement kAddressElement{"<ip>", "</ip>\0", 32};
constexpr BrokerElement kPortElement{"<port>", "</port>\0", 6};

std::atomic<uint32_t> lastRegistrationTick{0};

// The element's text after offset, moving offset to its end; -1 when missing.
int ReadElement(std::string_view document, const BrokerElement& element, size_t& offset, std::string& text)
{
    std::vector<char> field(element.fieldSize);
    const TextExtraction what{.startPattern = element.start, .startOffset = offset, .stopStrings = element.stopList};
    if (ExtractText(document, field, what, &offset) != 0)
        return -1;
    text = field.data();
    return 0;
}

std::string RegistrationUrl(const Broker& broker, int testFlag)
{
    const SettingsRecord& record = gSettings.record;
    const std::string userName = EncodeBase64Url(ReadScrambled(record.userName, sizeof record.userName));
    char url[1024];
    std::snprintf(url, sizeof url, kRegistrationFormat, broker.host.c_str(), WebPortSuffix().c_str(), userName.c_str(),
                  LocalAddress().c_str(), record.basePort, testFlag, gReachability.behindNat.load());
    return url;
}

// The list comes over plain HTTP: a host with a port, a user or a path in
// it could send the user name and the LAN address anywhere. Only plain host
// names and IPv4 addresses are used, and so on port 80.
bool IsPlainHost(const std::string& host)
{
    if (host.empty() || host.size() > 253 || host.front() == '-' || host.front() == '.')
        return false;
    return std::all_of(host.begin(), host.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '.'; });
}

} // namespace

std::vector<Broker> ParseBrokerList(std::string_view document)
{
    std::vector<Broker> brokers;
    size_t offset = 0;
    while (brokers.size() < kMaxBrokers) {
        Broker broker;
        std::string port;
        if (ReadElement(document, kHostElement, offset, broker.host) != 0 ||
            ReadElement(document, kAddressElement, offset, broker.address) != 0 ||
            ReadElement(document, kPortElement, offset, port) != 0)
            break;
        broker.port = std::atoi(port.c_str());
        if (!IsPlainHost(broker.host)) {
            Log("A directory broker that is not a plain host name was left out.");
            continue;
        }
        brokers.push_back(broker);
    }
    return brokers;
}

std::vector<Broker> FetchBrokerList()
{
    char document[kWebResponseSize];
    size_t received = 0;
    std::vector<Broker> brokers;
    if (HttpGet(WebUrl(kBrokerListPath), kHttp11, document, &received) == 0)
        brokers = ParseBrokerList({document, received});
    if (brokers.empty()) {
        const std::string host = WebHost();
        brokers.push_back({host.substr(0, host.rfind(':')), "", 80});
    }
    return brokers;
}

int RegisterWithDirectory(int testFlag)
{
    for (const Broker& broker : FetchBrokerList()) {
        if (HttpGet(RegistrationUrl(broker, testFlag), kHttp11) == 0) {
            lastRegistrationTick = GetTickCount();
            return 0;
        }
    }
    return -1;
}

uint32_t LastRegistrationTick()
{
    return lastRegistrationTick;
}
