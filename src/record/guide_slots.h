#pragma once
// The recordings the guide's rules plan take schedule slots as they come
// within a day, so that the scheduler records them as it records any
// schedule and the handheld sees them in its list. What does not fit in the
// 20 slots waits in the guide's database and takes a slot when one frees; a
// slot deleted before its start skips that one recording, not the rule's
// others. A programme that moves in the guide, or whose rule goes, gives
// its slot up before it starts; a recording that runs keeps it. Run by the schedule thread, which alone writes slots besides the
// dialogs.

#include "guide/recording_rules.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class GuideSlots {
public:
    // The guide's database at path (empty: the program's own, beside the
    // settings), opened at the first pass.
    explicit GuideSlots(std::string databasePath = {}) : databasePath_(std::move(databasePath)) {}

    // Each pass of the schedule thread, at the moment now (UTC seconds):
    // fills the slots once a minute, and at once when the guide's database
    // has changed. The slots it filled.
    int Pass(int64_t now);
    // Plans afresh and fills the slots now.
    int Fill(int64_t now);

private:
    bool Open();
    void ForgetEndedAndSkipDeleted(int64_t now);
    void FreeChanged(const std::vector<PlannedRecording>& plan);

    std::string databasePath_;
    std::unique_ptr<GuideStore> store_;
    int passes_ = 0;
    // The settings keep slots only from a clean end: at the first pass, a
    // slot the guide remembers but the settings lost is taken again rather
    // than skipped.
    bool firstPass_ = true;
    // The recordings a schedule of its own keeps waiting, told once.
    std::set<std::pair<int, int64_t>> toldWaiting_;
};
