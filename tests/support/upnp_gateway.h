#pragma once
// A stand-in UPnP router on 127.0.0.1 for tests: an HTTP server on a thread
// of its own that serves an InternetGatewayDevice root description with one
// WANIPConnection service and answers the control actions the port-mapping
// engine sends, holding its mappings in memory and recording every action.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class UpnpGateway {
public:
    struct Mapping {
        std::string externalPort;
        std::string protocol;
        std::string internalPort;
        std::string internalClient;
        std::string description;
    };

    UpnpGateway();
    ~UpnpGateway();
    UpnpGateway(const UpnpGateway&) = delete;
    UpnpGateway& operator=(const UpnpGateway&) = delete;

    // The root description's address, for ORVANDEL_UPNP_GATEWAY.
    std::string RootUrl() const;

    void AddMapping(const Mapping& mapping);
    std::vector<Mapping> Mappings() const;
    // As after a restart of the router.
    void ClearMappings();
    // From now on AddPortMapping of this external port fails with error 501.
    void FailAddsOfPort(const std::string& externalPort);

    // Each control action asked, in order, as "Action arg arg ...":
    // "AddPortMapping 7000 TCP 10.1.2.3 Orvandel", "DeletePortMapping 7000 TCP",
    // "GetGenericPortMappingEntry 0".
    std::vector<std::string> Actions() const;
    // Only the adds and deletes.
    std::vector<std::string> Changes() const;

private:
    void Serve();
    void Answer(int connection);
    std::string Respond(const std::string& request);
    std::string Control(const std::string& action, const std::string& body);
    std::string GetEntry(const std::string& body);
    std::string Add(const std::string& body);
    std::string Delete(const std::string& body);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::vector<Mapping> mappings_;
    std::vector<std::string> actions_;
    std::string failingPort_;
    std::thread thread_;
};
