#pragma once
// The channel lineup's rules, apart from its window: what a device cell
// shows, what a device choice and a check mark may do, what the buttons
// check and change, and what OK stores in the channel records.

#include <cstddef>
#include <string>
#include <vector>

enum LineupColumn { kColumnEnable, kColumnChannel, kColumnVideo, kColumnAudio, kColumnDescription, kLineupColumns };

// What a device column shows for no device.
inline constexpr char kNoDeviceName[] = "None";

// The entry of a device name list (entry 0 "None") that shows a stored
// device index: its own entry, or "None" for no device or one beyond the list.
int DeviceEntry(int deviceIndex, size_t entryCount);

// The name a device index stands for in a name list; "None" for no device
// and for an index the list no longer has.
std::string DeviceName(const std::vector<std::string>& names, int deviceIndex);

// The pending selection word after entry `entry` (0 = "None") was picked in
// the video or the audio column; the other device's byte is kept.
int ChooseDevice(int selectionWord, int column, int entry);

// At most limit bytes of UTF-8 text, not cut inside a character.
std::string CutWhereACharacterEnds(const std::string& text, size_t limit);

// Whether a row whose video and audio cells show these names may offer its
// capture options (it has at least one device).
bool RowHasDevice(const std::string& video, const std::string& audio);

// A row checked with neither device is refused: tells the user and returns
// true when the check mark must be taken away again.
bool RefuseCheckedRow(bool checked, const std::string& video, const std::string& audio);

// The guards in front of a channel's capture options: 0 when they may open,
// -1 when the user cancelled or was told why not.
int CaptureOptionsGuard();

// Deletes channel `channel`: every later record moves down one index and the
// last record is left cleared.
void DeleteChannelRecord(int channel);
void ClearAllChannelRecords();

struct LineupRow {
    bool enabled = false;
    std::string description;
};

// OK: the rows' check marks and descriptions, the pending device choices
// with their names and the enabled count go into the settings, which are
// then saved. The result of the save.
int StoreLineup(const std::vector<LineupRow>& rows);
