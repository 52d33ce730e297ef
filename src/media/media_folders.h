#pragma once
// The shared media folders: the 64 slots of the settings record that the
// Streaming Media Folders dialog edits and the handheld browses from.

#include <string>
#include <vector>

constexpr char kMediaFoldersFullText[] =
    "Maxiumum number of media folders reached. Please remove some folders from the list.";
constexpr char kMediaFolderTooLongText[] = "The folder path is too long to be shared.";
constexpr char kRemoveMediaFolderText[] =
    "The selected folder will no longer be visible to the remote device. Continue?";
constexpr char kRemoveAllMediaFoldersText[] =
    "None of the folders on your computer will be visible to the remote device. Continue?";

// Gives every used slot, in slot order, the next row of the list and
// returns their paths in that order.
std::vector<std::string> AssignMediaFolderRows();

// Shares a folder in the first free slot. 0, or -1 when all slots are used
// or the path does not fit a slot (the user has been told).
int AddMediaFolder(const std::string& path);

// Asks the user, then frees the slot shown in row. 0, or -1 when the user
// declined or no slot shows that row.
int RemoveMediaFolderRow(int row);

// Asks the user, then frees every slot. 0, or -1 when the user declined.
int RemoveAllMediaFolders();
