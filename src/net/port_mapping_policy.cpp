#include "net/port_mapping_policy.h"

#include "shared/resources.h"
#include "config/settings.h"
#include "net/connectivity.h"
#include "platform/log.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace {

constexpr const char* kWantedProtocols[] = {"TCP", "TCP", "UDP"};
constexpr int kUdpWanted = 2;
// What the step starters return when they have nothing to start.
constexpr int kNothingLeft = -1;

int BasePort()
{
    return gSettings.record.basePort;
}

long WantedPort(int wanted)
{
    return static_cast<long>(BasePort()) + wanted;
}

} // namespace

PortMappingPolicy::PortMappingPolicy(CPortForwardEngine& engine, MessageTarget target)
    : engine_(engine), target_(target)
{
}

int PortMappingPolicy::StartPortMapping()
{
    if (gReachability.portsMapped) {
        gReachability.mappingEnded.Set();
        return 0;
    }
    // A run already going (a renewal) sets natConfig as it ends: the caller
    // waits for that one, and two runs never share the plan.
    if (runActive_.exchange(true))
        return 0;
    ReportRun(true);
    if (engine_.StartDeviceQuery(target_))
        return 0;
    Finish();
    return -1;
}

int PortMappingPolicy::RenewMappings()
{
    if (runActive_.exchange(true))
        return 0;
    ReportRun(true);
    if (engine_.StartRetrieveMappings(target_))
        return 1;
    Finish();
    return 0;
}

void PortMappingPolicy::OnEngineNotification(uintptr_t code, intptr_t value)
{
    const bool succeeded = value >= 0;
    switch (code) {
    case kDeviceQueryDone:
        OnDeviceQueryDone(succeeded);
        break;
    case kRetrieveDone:
        OnRetrievalDone(succeeded);
        break;
    case kAddDone:
    case kDeleteDone:
        if (succeeded)
            TakeNextStep();
        else
            Finish();
        break;
    }
}

void PortMappingPolicy::OnDeviceQueryDone(bool succeeded)
{
    if (!succeeded || !engine_.StartRetrieveMappings(target_))
        Finish();
}

void PortMappingPolicy::OnRetrievalDone(bool succeeded)
{
    if (!succeeded) {
        std::fill(std::begin(needsAdding_), std::end(needsAdding_), false);
        Finish();
        return;
    }
    PlanFrom(engine_.GetMappings());
    TakeNextStep();
}

// A mapping on one of the wanted ports is kept when it already is the wanted
// one and deleted otherwise; one of this program's on another port is a
// leftover of an earlier base port.
void PortMappingPolicy::PlanFrom(const std::vector<PortMappingRecord>& mappings)
{
    const std::string local = LocalAddress();
    std::fill(std::begin(needsAdding_), std::end(needsAdding_), true);
    // What an ended run left pending was read from an older list.
    std::fill(std::begin(deletes_), std::end(deletes_), DeleteSlot{});
    for (const PortMappingRecord& mapping : mappings) {
        const long port = std::atol(mapping.externalPort.c_str());
        bool onWantedPort = false;
        for (int wanted = 0; wanted < kWantedCount; ++wanted) {
            if (port != WantedPort(wanted))
                continue;
            onWantedPort = true;
            if (mapping.internalClient == local && mapping.protocol == kWantedProtocols[wanted])
                needsAdding_[wanted] = false;
            else
                deletes_[wanted] = {true, mapping.externalPort, mapping.protocol};
        }
        if (!onWantedPort && mapping.description == kMappingDescription)
            PlaceStaleMapping(mapping);
    }
}

// A leftover goes into a free delete slot, a UDP one preferably into the
// UDP port's; with all slots taken it stays for a later run.
void PortMappingPolicy::PlaceStaleMapping(const PortMappingRecord& mapping)
{
    const DeleteSlot stale{true, mapping.externalPort, mapping.protocol};
    if (mapping.protocol == "UDP" && !deletes_[kUdpWanted].pending) {
        deletes_[kUdpWanted] = stale;
        return;
    }
    for (int wanted = 0; wanted < kUdpWanted; ++wanted) {
        if (!deletes_[wanted].pending) {
            deletes_[wanted] = stale;
            return;
        }
    }
}

int PortMappingPolicy::StartPendingDelete()
{
    for (DeleteSlot& slot : deletes_) {
        if (!slot.pending)
            continue;
        slot.pending = false;
        PortMappingRecord mapping;
        mapping.externalPort = slot.port;
        mapping.protocol = slot.protocol;
        return engine_.StartDeleteMapping(mapping, target_);
    }
    return kNothingLeft;
}

int PortMappingPolicy::StartMissingAdd()
{
    for (int wanted = 0; wanted < kWantedCount; ++wanted) {
        if (!needsAdding_[wanted])
            continue;
        needsAdding_[wanted] = false;
        const std::string port = std::to_string(WantedPort(wanted));
        return engine_.StartAddMapping(
            {"", port, port, kWantedProtocols[wanted], LocalAddress(), "Yes", kMappingDescription}, target_);
    }
    return kNothingLeft;
}

// Deletes come first, so that an add never meets the mapping it replaces.
void PortMappingPolicy::TakeNextStep()
{
    int started = StartPendingDelete();
    if (started == kNothingLeft)
        started = StartMissingAdd();
    if (started == kNothingLeft) {
        Complete();
    } else if (!started) {
        Log("UPnP: the next port mapping step could not be started.");
        std::fill(std::begin(needsAdding_), std::end(needsAdding_), false);
        Finish();
    }
}

void PortMappingPolicy::ReportRun(bool running)
{
    if (runObserver_)
        runObserver_(running);
}

void PortMappingPolicy::Finish()
{
    ReportRun(false);
    runActive_ = false;
    gReachability.mappingEnded.Set();
}

void PortMappingPolicy::Complete()
{
    gReachability.portsMapped = 1;
    Finish();
}

PortMappingPolicy& PortMapping()
{
    // Never destroyed: a worker still waiting on the router at exit must not
    // find its engine gone.
    static auto* engine = new CPortForwardEngine;
    static auto* policy = new PortMappingPolicy(*engine, MessageTarget::Frame);
    return *policy;
}
