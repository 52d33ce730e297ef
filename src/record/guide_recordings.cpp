#include "record/guide_recordings.h"

#include "platform/log.h"
#include "record/recording_thumbnail.h"

#include <filesystem>
#include <memory>
#include <system_error>

namespace {

std::unique_ptr<GuideStore> OpenGuide(const std::string& purpose)
{
    std::string error;
    std::unique_ptr<GuideStore> store = GuideStore::Open(GuideDatabasePath(), error);
    if (!store)
        Log(purpose + ": " + error);
    return store;
}

// Removes the file if it is there; false, logged, when it stays.
bool RemoveFile(const std::filesystem::path& path)
{
    std::error_code error;
    if (std::filesystem::remove(path, error) || !error)
        return true;
    Log("The recording " + path.string() + " could not be deleted: " + error.message() + ".");
    return false;
}

} // namespace

std::optional<GuideRecording> RecordingOfSlot(int slot)
{
    const std::unique_ptr<GuideStore> store =
        OpenGuide("The guide's programme of schedule slot " + std::to_string(slot) + " cannot be read");
    return store ? RecordingRules(*store).RecordingInSlot(slot) : std::nullopt;
}

void NoteGuideRecording(const GuideRecording& recording, int channel, const std::string& path)
{
    const std::unique_ptr<GuideStore> store = OpenGuide("The guide cannot note the recording " + path);
    if (!store)
        return;
    RecordingRules rules(*store);
    if (!rules.Recorded(recording, channel, path))
        Log("The guide cannot note the recording " + path + ": " + rules.Error());
    if (rules.RetireIfOneOff(recording.ruleId))
        Log("Rule " + std::to_string(recording.ruleId) + " records its showing, and is done.");
}

void DeleteBeyondKeep(const std::string& finishedPath)
{
    const std::unique_ptr<GuideStore> store = OpenGuide("Old recordings of the rule of " + finishedPath + " stay");
    if (!store)
        return;
    RecordingRules rules(*store);
    // A file the person deleted no longer counts among the kept.
    for (const std::string& path : rules.OfTheSameRule(finishedPath)) {
        std::error_code error;
        if (!std::filesystem::exists(path, error) && !error)
            rules.Forget(path);
    }
    for (const std::string& path : rules.BeyondKeep(finishedPath)) {
        const std::filesystem::path file(path);
        if (!RemoveFile(file) || !RemoveFile(std::filesystem::path(file).replace_extension(".nfo")) ||
            !RemoveFile(ThumbnailPath(path)))
            continue;
        rules.Forget(path);
        Log("The recording " + path + " was deleted: its rule keeps only the newest ones.");
    }
}
