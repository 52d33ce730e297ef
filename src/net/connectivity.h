#pragma once
// How handhelds reach the server from outside: the local address and the
// NAT decision, registration with the directory service, and the watcher
// that registers again when the public address changes.

#include "platform/sync.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct Reachability {
    // Keeps the address watcher's registrations apart from the network
    // start-up thread's choice of address, its registration with the
    // connectivity test, and each handheld's negotiation: taken around each.
    std::mutex lock;
    // 1 when the server sits behind NAT: its address is private, or none
    // was found.
    std::atomic<int> behindNat{1};
    // Set once the router forwards the server's ports; cleared at start-up
    // and whenever the base port changes, so that the next start maps them
    // again.
    std::atomic<int> portsMapped{0};
    // Set by the port-mapping policy whenever a mapping run ends, mapped or
    // not (and at once when the ports are mapped already); the network
    // start-up thread resets it before it asks for a run and waits for it
    // before it starts the listener.
    AutoResetEvent mappingEnded;
};

extern Reachability gReachability;

// The address the server listens on and registers: dotted IPv4, empty when
// none was found.
std::string LocalAddress();
void SetLocalAddress(const std::string& address);

// 10/8, 169.254/16, 172.16/12 and 192.168/16; anything else, loopback and
// text that is no IPv4 address included, is not private.
bool IsPrivateAddress(const std::string& address);

struct NetworkAdapter {
    std::string name;
    std::vector<std::string> addresses;  // IPv4, dotted, in the system's order
    bool hasGateway = false;             // a default route leaves through it
};

struct DefaultRoutes {
    std::string best;                     // the interface of the cheapest one; empty when none
    std::vector<std::string> interfaces;  // every interface that has one
};

// The default routes of a routing table in the text form of /proc/net/route.
DefaultRoutes ParseDefaultRoutes(const std::string& routeTable);

// Takes the first address of the best interface, or else of the last adapter
// with a gateway. 1 when it is public, 0 when private, -1 when none was taken.
int ChooseAdapterAddress(const std::vector<NetworkAdapter>& adapters, const std::string& bestInterface,
                         std::string& address);

// Chooses this machine's address from its adapters, or else from its host
// name. 1 when it is public, 0 otherwise (also when none was found, and then
// address is empty).
int ChooseLocalAddress(std::string& address);

struct Broker {
    std::string host;     // requests go here
    std::string address;  // as listed; not used for requests
    int port = 0;         // as listed; not used for requests
};

constexpr int kMaxBrokers = 3;

// Up to three brokers, each a complete <host>, <ip>, <port> triple in order;
// reading stops at the first missing element.
std::vector<Broker> ParseBrokerList(std::string_view document);

// The brokers of the maker's list, or the built-in broker when the list
// cannot be had or holds none.
std::vector<Broker> FetchBrokerList();

// Registers the account's user name, the local address, the base port and
// the NAT flag with the first broker that takes the request; testFlag 1 asks
// the directory service to test reachability now. 0, or -1 when no broker
// took it. Callers hold gReachability.lock.
int RegisterWithDirectory(int testFlag);

// GetTickCount of the last successful registration; 0 before the first.
uint32_t LastRegistrationTick();

// The thread that watches the public address while the server runs with the
// directory service enabled, registering again when the address changes or
// registrations keep failing. Start: 0, or -1 when it runs already or cannot
// be created. Stop waits up to waitMs for it to end.
int StartAddressWatcher();
void StopAddressWatcher(int waitMs);

// The watcher's pause after a failed check (10 s) and after a good one, which
// is also the least time between repeated registrations (20 min).
void SetAddressWatcherPeriods(int retryMs, int refreshMs);
