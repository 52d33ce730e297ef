#include "media/media_folders.h"

#include "config/settings.h"
#include "platform/messages.h"

#include <cstring>

namespace {

MediaFolderEntry* SlotShownInRow(int row)
{
    for (MediaFolderEntry& entry : gSettings.record.mediaFolders)
        if (entry.used && entry.flag == row)
            return &entry;
    return nullptr;
}

} // namespace

std::vector<std::string> AssignMediaFolderRows()
{
    std::vector<std::string> paths;
    for (MediaFolderEntry& entry : gSettings.record.mediaFolders) {
        if (!entry.used)
            continue;
        entry.flag = static_cast<int32_t>(paths.size());
        paths.emplace_back(entry.path, strnlen(entry.path, sizeof entry.path));
    }
    return paths;
}

int AddMediaFolder(const std::string& path)
{
    MediaFolderEntry* slot = nullptr;
    for (MediaFolderEntry& entry : gSettings.record.mediaFolders) {
        if (!entry.used) {
            slot = &entry;
            break;
        }
    }
    if (!slot) {
        ShowMessage(kMediaFoldersFullText, 1, 1);
        return -1;
    }
    // A cut path would share some other folder, or none.
    if (path.size() >= sizeof slot->path) {
        ShowMessage(kMediaFolderTooLongText, 1, 1);
        return -1;
    }
    std::memset(slot, 0, sizeof *slot);
    std::memcpy(slot->path, path.data(), path.size());
    slot->used = 1;
    return 0;
}

int RemoveMediaFolderRow(int row)
{
    MediaFolderEntry* entry = SlotShownInRow(row);
    if (!entry || AskConfirm(kRemoveMediaFolderText) != IDOK)
        return -1;
    std::memset(entry, 0, sizeof *entry);
    return 0;
}

int RemoveAllMediaFolders()
{
    if (AskConfirm(kRemoveAllMediaFoldersText) != IDOK)
        return -1;
    std::memset(gSettings.record.mediaFolders, 0, sizeof gSettings.record.mediaFolders);
    return 0;
}
