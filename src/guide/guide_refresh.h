#pragma once
// The guide refreshes itself from where it was last imported (a file or a
// URL): once a day, at a minute of the day chosen at random for this
// installation so that many of them do not ask one server at once, and at
// start when that minute passed while the PC was off. A failed refresh
// keeps the old guide, is logged, and is tried again an hour later.

#include "guide/guide_import.h"
#include "platform/sync.h"
#include "platform/thread.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// When the refresh after an import at `imported` is due: the first
// `minuteOfDay` of the local day that is at least 12 hours after it.
int64_t NextGuideRefresh(int64_t imported, int minuteOfDay);

// The minute of the day this installation refreshes at, chosen and kept in
// the store the first time it is asked for.
int GuideRefreshMinute(GuideStore& store);

// Imports the guide again from its remembered source, matching its
// channels to lineup. Needs a QCoreApplication for a URL.
GuideImportResult RefreshGuide(GuideStore& store, const std::vector<LineupChannel>& lineup,
                               const StopRequest* stop = nullptr);

// The thread that refreshes when due; it looks once a minute, so that a
// changed clock is seen.
class GuideRefresh {
public:
    // The lineup to match the guide's channels to, asked for at each
    // refresh from the thread that owns it.
    using LineupSource = std::function<std::vector<LineupChannel>()>;

    // The guide's database at path (empty: the program's own).
    explicit GuideRefresh(LineupSource lineup, std::string databasePath = {})
        : lineup_(std::move(lineup)), databasePath_(std::move(databasePath))
    {
    }
    GuideRefresh(const GuideRefresh&) = delete;
    GuideRefresh& operator=(const GuideRefresh&) = delete;
    ~GuideRefresh() { Stop(); }

    bool Start();
    // Safe when it never started. A refresh under way ends within a piece
    // of the guide; one stuck in SQLite is waited for, and logged.
    void Stop();

private:
    int Run();
    void RefreshIfDue(int64_t now);

    LineupSource lineup_;
    std::string databasePath_;
    WorkerThread thread_;
    StopRequest stop_;
    // After a failure, the next try.
    int64_t retryAt_ = 0;
};
