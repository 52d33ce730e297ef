#pragma once
// Which port mappings the router must hold for this server, and the run that
// gets them there: find the router, read its mappings, delete the ones that
// are in the way or left over from an earlier base port, add the missing
// ones, one operation at a time. The engine's notifications drive the run on
// the window thread; every run ends by setting gReachability.mappingEnded.

#include "net/port_forward.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// How long closing the main window waits for a running mapping step.
constexpr int kPortMappingCloseWaitMs = 1000;

// The description of the mappings this program adds.
constexpr char kMappingDescription[] = "Orvandel";

class PortMappingPolicy {
public:
    PortMappingPolicy(CPortForwardEngine& engine, MessageTarget target);

    // On the network start-up thread: begins a run unless the ports are
    // mapped already. 0 when a run began or none was needed, -1 when it
    // could not begin; natConfig is set whenever no run goes on.
    int StartPortMapping();
    // On the address watcher: the same run from reading the mappings on, for
    // a router whose public address changed. 1 when it began; 0 also while
    // another run goes on.
    int RenewMappings();
    // On the window thread: one kMsgPortForward notification.
    void OnEngineNotification(uintptr_t code, intptr_t value);

    CPortForwardEngine& Engine() { return engine_; }

    // Told true when a run begins and false when it ends, on the thread that
    // begins or ends it; for the status line. Set once, before any run.
    using RunObserver = std::function<void(bool running)>;
    void ReportRunsTo(RunObserver observer) { runObserver_ = std::move(observer); }

private:
    struct DeleteSlot {
        bool pending = false;
        std::string port;
        std::string protocol;
    };
    static constexpr int kWantedCount = 3;

    void OnDeviceQueryDone(bool succeeded);
    void OnRetrievalDone(bool succeeded);
    void PlanFrom(const std::vector<PortMappingRecord>& mappings);
    void PlaceStaleMapping(const PortMappingRecord& mapping);
    // Each: the engine's answer (1 started, 0 not), or -1 with nothing to do.
    int StartPendingDelete();
    int StartMissingAdd();
    // Starts the next delete or add; completes the run when none is left.
    void TakeNextStep();
    void ReportRun(bool running);
    void Finish();
    void Complete();

    CPortForwardEngine& engine_;
    MessageTarget target_;
    // From a run's start to its Finish: one run at a time.
    std::atomic<bool> runActive_{false};
    RunObserver runObserver_;
    // Indexed like the wanted mappings: base, base + 1, base + 2.
    bool needsAdding_[kWantedCount] = {};
    DeleteSlot deletes_[kWantedCount];
};

// The program's one policy and engine; the main frame hands it the engine's
// notifications.
PortMappingPolicy& PortMapping();
