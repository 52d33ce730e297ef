#pragma once
// The recordings the guide's rules plan take schedule slots as they come
// within a day, so that the scheduler records them as it records any
// schedule and the handheld sees them in its list. What does not fit in the
// 20 slots waits in the guide's database and takes a slot when one frees; a
// slot deleted before its start skips that one recording, not the rule's
// others. Run by the schedule thread, which alone writes slots besides the
// dialogs.

#include "guide/guide_store.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

// The guide's programme that a slot records, if it is one.
std::optional<GuideProgramme> ProgrammeOfSlot(int slot);

class GuideSlots {
public:
    // The guide's database at path (empty: the program's own, beside the
    // settings), opened at the first pass.
    explicit GuideSlots(std::string databasePath = {}) : databasePath_(std::move(databasePath)) {}

    // One pass at the moment now (UTC seconds). The slots it filled.
    int Fill(int64_t now);

private:
    bool Open();
    void ForgetEndedAndSkipDeleted(int64_t now);

    std::string databasePath_;
    std::unique_ptr<GuideStore> store_;
    // The settings keep slots only from a clean end: at the first pass, a
    // slot the guide remembers but the settings lost is taken again rather
    // than skipped.
    bool firstPass_ = true;
    // The recordings a schedule of its own keeps waiting, told once.
    std::set<std::pair<int, int64_t>> toldWaiting_;
};
