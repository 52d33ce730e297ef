#include "net/port_forward.h"

#include "platform/log.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

struct KindInfo {
    const char* threadName;
    uintptr_t progressCode;
    uintptr_t doneCode;
};

// Indexed by the engine's Kind.
constexpr KindInfo kKinds[] = {{"PortRtrv", kRetrieveProgress, kRetrieveDone},
                               {"DevInfo", kDeviceQueryProgress, kDeviceQueryDone},
                               {"AddMap", kAddProgress, kAddDone},
                               {"DelMap", kDeleteProgress, kDeleteDone}};

constexpr char kGatewayVariable[] = "ORVANDEL_UPNP_GATEWAY";
constexpr int kDiscoveryDelayMs = 2000;
constexpr unsigned char kDiscoveryTtl = 2;
// A worker that has given its slot back only has to return; collecting it
// takes moments, and a bound keeps a stuck one from blocking the caller.
constexpr int kCollectMs = 1000;
constexpr int kDestroyWaitMs = 1000;
constexpr int kBusyPollMs = 20;
// A router answering every index would otherwise keep the retrieval going.
constexpr int kMaxMappings = 1024;
// Niceness added to UPnP workers: their requests may wait on the router, and
// streaming must never wait for them.
constexpr int kBelowNormalNice = 2;

struct UrlsFree {
    void operator()(UPNPUrls* urls) const
    {
        FreeUPNPUrls(urls);
        delete urls;
    }
};
struct DevlistFree {
    void operator()(UPNPDev* devices) const { freeUPNPDevlist(devices); }
};
using UrlsHolder = std::unique_ptr<UPNPUrls, UrlsFree>;
using DevlistHolder = std::unique_ptr<UPNPDev, DevlistFree>;

void PrepareWorkerThread(const char* name)
{
    pthread_setname_np(pthread_self(), name);
    const id_t thread = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        setpriority(PRIO_PROCESS, thread, nice + kBelowNormalNice);
}

void LogCommandFailure(const std::string& what, int code)
{
    const char* meaning = strupnperror(code);
    Log("UPnP: " + what + " failed (" + std::to_string(code) + (meaning ? std::string(" ") + meaning : "") + ").");
}

// The port as the router is asked for it: the text's leading number.
std::string PortText(const std::string& text)
{
    return std::to_string(std::atol(text.c_str()));
}

std::string EnabledText(const char* value)
{
    const std::string text = value;
    return text == "1" || text == "true" || text == "Yes" ? "Yes" : "No";
}

GatewayInfo GatewayFrom(const UPNPUrls& urls, const IGDdatas& data)
{
    return {urls.controlURL ? urls.controlURL : "", data.first.servicetype};
}

enum class GatewaySearch { Found, NoneFound, ReadFailed };

// A router named by ORVANDEL_UPNP_GATEWAY is used without discovery, for
// routers that do not answer it and for tests, which must send none.
GatewaySearch FindGateway(UPNPUrls& urls, IGDdatas& data)
{
    char lanAddress[64] = "";
    if (const char* url = std::getenv(kGatewayVariable); url && *url) {
        const bool read = UPNP_GetIGDFromUrl(url, &urls, &data, lanAddress, sizeof lanAddress) == 1 &&
                          urls.controlURL && *urls.controlURL && *data.first.servicetype;
        if (!read)
            Log(std::string("UPnP: the router at ") + url + " could not be read.");
        return read ? GatewaySearch::Found : GatewaySearch::ReadFailed;
    }
    int error = 0;
    DevlistHolder devices(
        upnpDiscover(kDiscoveryDelayMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, kDiscoveryTtl, &error));
    if (!devices) {
        Log("UPnP: no router answered.");
        return GatewaySearch::NoneFound;
    }
    // 1: a connected router, 2: a router not connected yet, 3: no router;
    // 0: the devices' descriptions could not be read.
    const int igd = UPNP_GetValidIGD(devices.get(), &urls, &data, lanAddress, sizeof lanAddress);
    if (igd == 1 || igd == 2)
        return GatewaySearch::Found;
    Log("UPnP: no usable router among the devices that answered.");
    return igd == 0 ? GatewaySearch::ReadFailed : GatewaySearch::NoneFound;
}

} // namespace

CPortForwardEngine::~CPortForwardEngine()
{
    WaitWhileBusy(kDestroyWaitMs);
}

int CPortForwardEngine::StartDeviceQuery(MessageTarget target)
{
    return StartOperation(kDeviceQuery, target, [this](const Progress& progress) { return QueryDevice(progress); });
}

int CPortForwardEngine::StartRetrieveMappings(MessageTarget target)
{
    return StartOperation(kRetrieve, target, [this](const Progress& progress) { return RetrieveMappings(progress); });
}

int CPortForwardEngine::StartAddMapping(const PortMappingRecord& mapping, MessageTarget target)
{
    return StartOperation(kAdd, target,
                          [this, mapping](const Progress& progress) { return AddMapping(mapping, progress); });
}

int CPortForwardEngine::StartDeleteMapping(const PortMappingRecord& mapping, MessageTarget target)
{
    return StartOperation(kDelete, target,
                          [this, mapping](const Progress& progress) { return DeleteMapping(mapping, progress); });
}

std::vector<PortMappingRecord> CPortForwardEngine::GetMappings() const
{
    std::lock_guard hold(lock_);
    return mappings_;
}

bool CPortForwardEngine::IsBusy() const
{
    for (const Slot& slot : slots_)
        if (slot.busy)
            return true;
    return false;
}

bool CPortForwardEngine::WaitWhileBusy(int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (IsBusy()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPollMs));
    }
    // Workers that have posted their end are collected, so that none is
    // left behind unjoined.
    for (Slot& slot : slots_)
        if (!slot.busy)
            slot.thread.Wait(kCollectMs);
    return true;
}

void CPortForwardEngine::StopListening()
{
    std::lock_guard hold(lock_);
    gateway_ = GatewayInfo{};
    hasGateway_ = false;
}

int CPortForwardEngine::StartOperation(Kind kind, MessageTarget target, Operation operation)
{
    Slot& slot = slots_[kind];
    bool expected = false;
    if (!slot.busy.compare_exchange_strong(expected, true))
        return 0;
    // The slot is this caller's now: the previous worker of the kind has
    // posted its end and only has to be collected.
    const KindInfo& info = kKinds[kind];
    const bool started = slot.thread.Wait(kCollectMs) && slot.thread.Start([&slot, info, target, operation] {
        PrepareWorkerThread(info.threadName);
        const Progress progress = [&info, target](intptr_t value) {
            PostAppMessage(target, kMsgPortForward, info.progressCode, value);
        };
        const bool succeeded = operation(progress);
        slot.busy = false;
        PostAppMessage(target, kMsgPortForward, info.doneCode, succeeded ? kPortForwardOk : kPortForwardFailed);
        return succeeded ? 0 : -1;
    });
    if (!started) {
        Log(std::string("UPnP: no thread could be started for ") + info.threadName + ".");
        slot.busy = false;
    }
    return started ? 1 : 0;
}

bool CPortForwardEngine::CurrentGateway(GatewayInfo& gateway) const
{
    std::lock_guard hold(lock_);
    gateway = gateway_;
    return hasGateway_;
}

bool CPortForwardEngine::QueryDevice(const Progress& progress)
{
    progress(0);
    UrlsHolder urls(new UPNPUrls{});
    IGDdatas data{};
    progress(1);
    const GatewaySearch search = FindGateway(*urls, data);
    progress(5);
    {
        std::lock_guard hold(lock_);
        hasGateway_ = search == GatewaySearch::Found;
        gateway_ = hasGateway_ ? GatewayFrom(*urls, data) : GatewayInfo{};
    }
    progress(6);
    return search != GatewaySearch::ReadFailed;
}

bool CPortForwardEngine::RetrieveMappings(const Progress& progress)
{
    progress(0);
    {
        std::lock_guard hold(lock_);
        mappings_.clear();
    }
    GatewayInfo gateway;
    if (!CurrentGateway(gateway)) {
        Log("UPnP: no router to read the port mappings from.");
        return false;
    }
    progress(1);
    progress(2);
    // The generic entries carry no count; with none reported every mapping
    // read counts as the same step.
    progress(3);
    for (int index = 0; index < kMaxMappings; ++index) {
        char extPort[6] = "", intClient[16] = "", intPort[6] = "", protocol[4] = "", desc[80] = "", enabled[4] = "",
             remoteHost[64] = "", duration[16] = "";
        const int result = UPNP_GetGenericPortMappingEntry(gateway.controlUrl.c_str(), gateway.serviceType.c_str(),
                                                           std::to_string(index).c_str(), extPort, intClient, intPort,
                                                           protocol, desc, enabled, remoteHost, duration);
        // A UPnP error answer (713 past the last index) ends the list; no
        // answer at all means the router cannot be read.
        if (result != UPNPCOMMAND_SUCCESS) {
            if (result < 0)
                LogCommandFailure("reading the port mappings", result);
            return result > 0;
        }
        {
            std::lock_guard hold(lock_);
            mappings_.push_back({remoteHost, extPort, intPort, protocol, intClient, EnabledText(enabled), desc});
        }
        progress(4);
    }
    return true;
}

// The router adds every mapping enabled: the enabled text has no other effect.
bool CPortForwardEngine::AddMapping(const PortMappingRecord& mapping, const Progress& progress)
{
    progress(0);
    GatewayInfo gateway;
    if (!CurrentGateway(gateway)) {
        Log("UPnP: no router to add a port mapping to.");
        return false;
    }
    progress(1);
    const std::string external = PortText(mapping.externalPort);
    const std::string internal = PortText(mapping.internalPort);
    progress(2);
    const int result = UPNP_AddPortMapping(
        gateway.controlUrl.c_str(), gateway.serviceType.c_str(), external.c_str(), internal.c_str(),
        mapping.internalClient.c_str(), mapping.description.c_str(), mapping.protocol.c_str(),
        mapping.remoteHost.empty() ? nullptr : mapping.remoteHost.c_str(), "0");
    if (result != UPNPCOMMAND_SUCCESS)
        LogCommandFailure("adding the mapping of port " + external + " " + mapping.protocol, result);
    return result == UPNPCOMMAND_SUCCESS;
}

bool CPortForwardEngine::DeleteMapping(const PortMappingRecord& mapping, const Progress& progress)
{
    progress(0);
    GatewayInfo gateway;
    if (!CurrentGateway(gateway)) {
        Log("UPnP: no router to delete a port mapping from.");
        return false;
    }
    progress(1);
    const std::string external = PortText(mapping.externalPort);
    progress(2);
    const int result = UPNP_DeletePortMapping(gateway.controlUrl.c_str(), gateway.serviceType.c_str(),
                                              external.c_str(), mapping.protocol.c_str(), nullptr);
    if (result != UPNPCOMMAND_SUCCESS)
        LogCommandFailure("deleting the mapping of port " + external + " " + mapping.protocol, result);
    return result == UPNPCOMMAND_SUCCESS;
}
