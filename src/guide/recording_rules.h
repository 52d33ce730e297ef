#pragma once
// Recording by programme: rules ("record this", "record every new episode
// of that"), kept in the guide's database, and their expansion over the
// guide into concrete recordings. There is one tuner, so two recordings
// that overlap on different channels conflict: the rule made earlier wins
// unless the person prefers another, and the one that loses says with which
// programme.

#include "guide/guide_store.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

struct RecordingRule {
    int64_t id = 0;
    std::string title;
    bool titleContains = false;  // else the title must match exactly
    int channel = -1;            // Orvandel's channel; -1: any
    bool series = false;         // else only the first programme that matches
    bool newOnly = false;        // leave out repeats: previously shown, or an episode seen before
    int keep = 0;                // recordings to keep of a series, the newest; 0: all
    int earlyMinutes = 1;
    int lateMinutes = 2;
    // A one-off for one showing: its start (UTC seconds); 0 for the first
    // showing from now.
    int64_t showing = 0;
};

struct PlannedRecording {
    int64_t ruleId = 0;
    int channel = -1;
    int64_t start = 0;  // UTC seconds, with the rule's margins
    int64_t end = 0;
    GuideProgramme programme;
    // Why it will not be recorded; empty when it will.
    std::string conflict;
};

// A planned recording that holds a schedule slot.
struct SlottedRecording {
    int slot = -1;
    int64_t ruleId = 0;
    int channel = -1;
    int64_t programmeStart = 0;
    int64_t start = 0;
    int64_t end = 0;
};

// What the recorder needs of a slot's guide recording.
struct GuideRecording {
    int64_t ruleId = 0;
    GuideProgramme programme;
};

class RecordingRules {
public:
    // The rules live in store's database.
    explicit RecordingRules(GuideStore& store) : store_(store) {}

    // The new rule's id, or 0 when it could not be stored or another rule
    // is the same (Error says why).
    int64_t Add(const RecordingRule& rule);
    bool Remove(int64_t id);
    // A one-off rule has done its work once its recording starts.
    bool RetireIfOneOff(int64_t id);
    // The rule wins its conflicts from now on, over rules made earlier too.
    bool Prefer(int64_t id);
    // Changes the rule's margins, keep and new-only to the given rule's.
    bool Edit(const RecordingRule& rule);
    // In the order they win conflicts: preferred, then made earlier.
    std::vector<RecordingRule> All();
    // Every recording the rules make from now on, by start, with the ones
    // that lose a conflict or were skipped among them.
    std::vector<PlannedRecording> Plan(int64_t now);

    // Which slots hold planned recordings, and the programme one records.
    std::vector<SlottedRecording> Slotted();
    std::optional<GuideRecording> RecordingInSlot(int slot);
    // The guide's recording of a slot on channel that starts in [from, to).
    std::optional<GuideRecording> RecordingStartingOn(int channel, int64_t from, int64_t to);
    bool Slot(int slot, const PlannedRecording& planned);
    bool Unslot(int slot);
    // The recording of the programme will not be made.
    bool Skip(int channel, int64_t programmeStart);

    // The files the rules' recordings made, with their programme's details.
    // Recorded notes one as it starts. Once one has ended, BeyondKeep gives
    // the recordings of its rule past the rule's keep, oldest first.
    // Forget drops a file's note.
    bool Recorded(const GuideRecording& recording, int channel, const std::string& path);
    std::vector<std::string> BeyondKeep(const std::string& finishedPath);
    // Every noted file of the rule that made finishedPath.
    std::vector<std::string> OfTheSameRule(const std::string& finishedPath);
    bool Forget(const std::string& path);

    const std::string& Error() const { return error_; }

private:
    std::vector<PlannedRecording> Candidates(const RecordingRule& rule, int64_t now);
    bool Change(const char* sql, std::initializer_list<int64_t> values);
    void MarkSkipped(std::vector<PlannedRecording>& plan);

    GuideStore& store_;
    std::string error_;
};

// A guide recording's file name without its extension: "The News - S01E02 -
// 2027-01-05 20-00" (the episode when known, the start in local time), with
// what a file system refuses replaced.
std::string ProgrammeFileStem(const GuideProgramme& programme);
// The .nfo beside it that media centres read: title, episode, description,
// channel and start.
std::string ProgrammeNfo(const GuideProgramme& programme, int channel);

// "\"The News\" on channel 3 at 2027-01-05 20:00", in local time.
std::string DescribeProgramme(const PlannedRecording& planned);
// "records \"The News\" ... , 19:59-20:32", or "will not record ...: it
// conflicts with ...".
std::string DescribePlanned(const PlannedRecording& planned);
// "Rule 1: every new episode of \"The News\" on any channel, 1 min early,
// 2 min late."
std::string DescribeRule(const RecordingRule& rule);
