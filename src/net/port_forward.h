#pragma once
// Asks the router, by UPnP, to forward ports to this PC. Each operation runs
// on a worker thread of its own, at most one of each kind at a time, and
// reports its progress and its end by posting kMsgPortForward to a target
// handled on the window thread.

#include "platform/messages.h"
#include "platform/thread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// One port mapping of the router, as texts.
struct PortMappingRecord {
    std::string remoteHost;      // empty when adding
    std::string externalPort;    // decimal
    std::string internalPort;    // decimal
    std::string protocol;        // "TCP" or "UDP"
    std::string internalClient;  // dotted IPv4
    std::string enabled;         // "Yes" when enabled
    std::string description;
};

// The wParam of kMsgPortForward.
enum PortForwardCode : uintptr_t {
    kRetrieveProgress = 1,
    kRetrieveDone = 2,
    kDeviceQueryProgress = 17,
    kDeviceQueryDone = 18,
    kAddProgress = 33,
    kAddDone = 34,
    kDeleteProgress = 129,
    kDeleteDone = 130,
};

// The lParam of a done code; a failure is negative.
constexpr intptr_t kPortForwardOk = 0;
constexpr intptr_t kPortForwardFailed = static_cast<int32_t>(0x80004005u);

// Where the last device query found the router's port-mapping service.
struct GatewayInfo {
    std::string controlUrl;
    std::string serviceType;
};

class CPortForwardEngine {
public:
    CPortForwardEngine() = default;
    CPortForwardEngine(const CPortForwardEngine&) = delete;
    CPortForwardEngine& operator=(const CPortForwardEngine&) = delete;
    // Waits a little for running operations; one that still runs is left to
    // end with the process.
    ~CPortForwardEngine();

    // Each returns 1 when its worker thread started, 0 when one of the same
    // kind still runs or no thread could be made.
    int StartDeviceQuery(MessageTarget target);
    int StartRetrieveMappings(MessageTarget target);
    int StartAddMapping(const PortMappingRecord& mapping, MessageTarget target);
    int StartDeleteMapping(const PortMappingRecord& mapping, MessageTarget target);

    // A copy of the list read by the last retrieval.
    std::vector<PortMappingRecord> GetMappings() const;
    // True while any operation runs.
    bool IsBusy() const;
    // Waits up to limitMs for every operation to end and collects the
    // workers; false when one still runs.
    bool WaitWhileBusy(int limitMs);
    // Forgets the router found by the last device query; the next operations
    // then need a new query.
    void StopListening();

private:
    enum Kind { kRetrieve, kDeviceQuery, kAdd, kDelete, kKindCount };
    using Progress = std::function<void(intptr_t value)>;
    using Operation = std::function<bool(const Progress& progress)>;

    struct Slot {
        WorkerThread thread;
        // Taken by the starter, given back by the worker before it posts its
        // done code, so that the receiver may start the next of its kind.
        std::atomic<bool> busy{false};
    };

    int StartOperation(Kind kind, MessageTarget target, Operation operation);
    bool QueryDevice(const Progress& progress);
    bool RetrieveMappings(const Progress& progress);
    bool AddMapping(const PortMappingRecord& mapping, const Progress& progress);
    bool DeleteMapping(const PortMappingRecord& mapping, const Progress& progress);
    // The router to talk to, or false when no query found one.
    bool CurrentGateway(GatewayInfo& gateway) const;

    mutable std::mutex lock_;  // guards mappings_ and gateway_
    std::vector<PortMappingRecord> mappings_;
    GatewayInfo gateway_;
    bool hasGateway_ = false;
    Slot slots_[kKindCount];
};
