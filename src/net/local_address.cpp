#include "net/connectivity.h"

#include <arpa/inet.h>
#include <climits>
#include <fstream>
#include <ifaddrs.h>
#include <mutex>
#include <net/route.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <unistd.h>

Reachability gReachability;

namespace {

std::mutex localAddressLock;
std::string localAddress;

struct Ipv4Network {
    uint32_t address;
    int prefixBits;
};
constexpr Ipv4Network kPrivateNetworks[] = {
    {0x0A000000, 8}, {0xA9FE0000, 16}, {0xAC100000, 12}, {0xC0A80000, 16}};

std::string Dotted(const sockaddr* address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    return text;
}

std::string ReadRouteTable()
{
    std::ifstream file("/proc/net/route");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

NetworkAdapter& AdapterNamed(std::vector<NetworkAdapter>& adapters, const std::string& name,
                             const DefaultRoutes& routes)
{
    for (NetworkAdapter& adapter : adapters) {
        if (adapter.name == name)
            return adapter;
    }
    NetworkAdapter& added = adapters.emplace_back();
    added.name = name;
    for (const std::string& routed : routes.interfaces)
        added.hasGateway = added.hasGateway || routed == name;
    return added;
}

std::vector<NetworkAdapter> ListNetworkAdapters(const DefaultRoutes& routes)
{
    std::vector<NetworkAdapter> adapters;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return adapters;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET)
            AdapterNamed(adapters, entry->ifa_name, routes).addresses.push_back(Dotted(entry->ifa_addr));
    }
    freeifaddrs(list);
    return adapters;
}

// The first of the host name's addresses, or its first public one (1).
int ChooseHostNameAddress(std::string& address)
{
    address.clear();
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0)
        return 0;
    int result = 0;
    for (addrinfo* entry = found; entry && result == 0; entry = entry->ai_next) {
        std::string dotted = Dotted(entry->ai_addr);
        if (address.empty() || !IsPrivateAddress(dotted))
            address = dotted;
        result = IsPrivateAddress(dotted) ? 0 : 1;
    }
    freeaddrinfo(found);
    return result;
}

} // namespace

std::string LocalAddress()
{
    std::lock_guard hold(localAddressLock);
    return localAddress;
}

void SetLocalAddress(const std::string& address)
{
    std::lock_guard hold(localAddressLock);
    localAddress = address;
}

bool IsPrivateAddress(const std::string& address)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return false;
    const uint32_t value = ntohl(parsed.s_addr);
    for (const Ipv4Network& network : kPrivateNetworks) {
        if (value >> (32 - network.prefixBits) == network.address >> (32 - network.prefixBits))
            return true;
    }
    return false;
}

DefaultRoutes ParseDefaultRoutes(const std::string& routeTable)
{
    DefaultRoutes routes;
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line);  // the column names
    unsigned long bestMetric = ULONG_MAX;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        unsigned long destination, gateway, flags, references, uses, metric, mask;
        if (!(fields >> name >> std::hex >> destination >> gateway >> flags >> std::dec >> references >> uses >>
              metric >> std::hex >> mask))
            continue;
        if (destination != 0 || mask != 0 || !(flags & RTF_UP))
            continue;
        routes.interfaces.push_back(name);
        if (metric < bestMetric) {
            bestMetric = metric;
            routes.best = name;
        }
    }
    return routes;
}

int ChooseAdapterAddress(const std::vector<NetworkAdapter>& adapters, const std::string& bestInterface,
                         std::string& address)
{
    address.clear();
    const NetworkAdapter* chosen = nullptr;
    for (const NetworkAdapter& adapter : adapters) {
        if (adapter.addresses.empty())
            continue;
        if (!bestInterface.empty() && adapter.name == bestInterface) {
            chosen = &adapter;
            break;
        }
        if (adapter.hasGateway)
            chosen = &adapter;
    }
    if (!chosen)
        return -1;
    address = chosen->addresses.front();
    return IsPrivateAddress(address) ? 0 : 1;
}

int ChooseLocalAddress(std::string& address)
{
    const DefaultRoutes routes = ParseDefaultRoutes(ReadRouteTable());
    int result = ChooseAdapterAddress(ListNetworkAdapters(routes), routes.best, address);
    return result >= 0 ? result : ChooseHostNameAddress(address);
}
