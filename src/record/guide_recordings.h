#pragma once
// What the recorder asks of the guide: which programme a schedule slot
// records, and the files each rule's recordings made, so that a series
// rule keeps only its newest N. Each call opens the guide's database for
// the moment, and logs why when it cannot.

#include "guide/recording_rules.h"

#include <optional>
#include <string>

// The guide's recording that a slot holds, if it is one.
std::optional<GuideRecording> RecordingOfSlot(int slot);

// Notes the file the recording is being written to, under its rule; a
// one-off rule has then done its work and goes.
void NoteGuideRecording(const GuideRecording& recording, int channel, const std::string& path);

// After a recording of a rule ends (so none of them is being written):
// deletes its rule's recordings beyond the rule's keep, oldest first, with
// their .nfo and picture, and logs each. Does nothing for a recording of no rule.
void DeleteBeyondKeep(const std::string& finishedPath);
