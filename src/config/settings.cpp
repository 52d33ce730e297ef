#include "config/settings.h"

#include "platform/log.h"
#include "platform/messages.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

SettingsBlock gSettings;

namespace {

const char kReadError[] = "Error during reading the channel configuration.";
const char kSaveError[] = "Error during saving the channel configuration.";

struct StoredLayout {
    size_t mainSize;
    size_t channelSize;
    size_t channelCount;
};

// Layouts of the versions this program has written. A version-0 file
// (638,852 bytes) is recognised but never applied: its main record is 288
// bytes longer than the one in memory, so the file is longer than the block
// can take and the length check refuses it whole, rather than copy fields
// that sit at other offsets into the wrong places.
const StoredLayout kLayouts[] = {{18848, 620, 1000}, {18556, 620, 1000}, {18560, 620, 1000}};

int32_t ReadInt(const uint8_t* data)
{
    int32_t value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

const StoredLayout* LayoutOf(const uint8_t* image, size_t length)
{
    if (length < 8)
        return nullptr;
    int32_t version = ReadInt(image + 4);
    return version >= 0 && version <= 2 ? &kLayouts[version] : nullptr;
}

size_t LayoutFileSize(const StoredLayout& layout)
{
    return 4 + layout.mainSize + layout.channelSize * layout.channelCount;
}

void SetDefaultChannel(ChannelRecord& channel)
{
    channel.tunerChannel = -1;
    channel.tunerCountry = 1;
    channel.audioDevice = kNoDevice;
    channel.videoDevice = kNoDevice;
    channel.editSelection = 0xFFFF;
    channel.videoCrossbarIn = channel.videoCrossbarOut = -1;
    channel.audioCrossbarIn = channel.audioCrossbarOut = -1;
    channel.profile = {1, 0, 15, 0, 100000, 44100, 16, 32000, 0};
}

void RefreshAutostartFlag()
{
    gSettings.record.autostart = AutostartEntryExists() ? 1 : 0;
}

// Reads the whole file; false when it cannot be opened (nothing to report)
// and readFailed set when it opened but could not be read whole.
bool ReadWholeFile(const std::string& path, std::unique_ptr<uint8_t[]>& data, size_t& length, bool& readFailed)
{
    readFailed = false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0)
        size = std::ftell(file);
    std::rewind(file);
    if (size < 0) {
        readFailed = true;
    } else {
        length = static_cast<size_t>(size);
        data.reset(new (std::nothrow) uint8_t[std::max<size_t>(length, 1)]);
        readFailed = !data || std::fread(data.get(), 1, length, file) != length;
    }
    std::fclose(file);
    return true;
}

bool WriteAllAndSync(int fd, const uint8_t* data, size_t length)
{
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return ::fsync(fd) == 0;
}

} // namespace

void SetDefaultSettings()
{
    std::memset(&gSettings, 0, sizeof gSettings);
    SettingsRecord& record = gSettings.record;
    record.descriptionMinWidth = 1000;
    record.basePort = 7000;
    std::snprintf(record.recordingFolder, sizeof record.recordingFolder, "%s", VideosDir().c_str());
    record.recordingProfile = {1, 0, 25, 0, 500000, 44100, 16, 64000, 0};
    record.captionFont.height = 110;
    record.captionFont.charSet = 1;
    record.captionFont.quality = 4;
    std::strcpy(record.captionFont.faceName, "Arial");
    for (ChannelRecord& channel : gSettings.channels)
        SetDefaultChannel(channel);
}

void ClearChannelEntry(ChannelRecord& channel)
{
    channel.enabled = 0;
    channel.autoTuneWork = 0;
    channel.editSelection = 0xFFFF;
    channel.audioDevice = kNoDevice;
    channel.videoDevice = kNoDevice;
    channel.videoCrossbarIn = channel.videoCrossbarOut = -1;
    channel.audioCrossbarIn = channel.audioCrossbarOut = -1;
    std::memset(channel.description, 0, sizeof channel.description);
}

std::string SettingsFilePath()
{
    return ConfigDir() + "/Orvandel.ini";
}

int32_t SettingsChecksum(const uint8_t* data, size_t length)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i)
        sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(data[i])));
    return static_cast<int32_t>(sum);
}

void ApplySettingsImage(const uint8_t* data, size_t length)
{
    const StoredLayout* layout = LayoutOf(data, length);
    if (!layout)
        return;
    const size_t channels = std::min<size_t>(layout->channelCount, kChannelCount);
    if (length > 4 + sizeof(SettingsRecord) + sizeof(ChannelRecord) * channels)
        return;
    if (length < LayoutFileSize(*layout))
        return;
    std::memcpy(&gSettings.record, data + 4, std::min(layout->mainSize, sizeof(SettingsRecord)));
    const uint8_t* stored = data + 4 + layout->mainSize;
    for (size_t i = 0; i < channels; ++i)
        std::memcpy(&gSettings.channels[i], stored + i * layout->channelSize,
                    std::min(layout->channelSize, sizeof(ChannelRecord)));
}

// A save that was killed leaves its temporary file beside the settings;
// the next start, when nothing else writes them, removes it.
void RemoveInterruptedSaves(const std::string& path)
{
    const std::filesystem::path settings(path);
    const std::string prefix = settings.filename().string() + ".";
    std::error_code error;
    for (std::filesystem::directory_iterator entry(settings.parent_path(), error), end; !error && entry != end;
         entry.increment(error))
        if (entry->path().filename().string().starts_with(prefix))
            std::filesystem::remove(entry->path(), error);
}

int LoadSettings()
{
    RemoveInterruptedSaves(SettingsFilePath());
    std::unique_ptr<uint8_t[]> data;
    size_t length = 0;
    bool readFailed = false;
    if (!ReadWholeFile(SettingsFilePath(), data, length, readFailed))
        return -1;
    // A file too short for its checksum and version, or for the layout its
    // version names, is damaged: refuse it rather than read past its end.
    const StoredLayout* layout = readFailed ? nullptr : LayoutOf(data.get(), length);
    bool tooShort = length < 8 || (layout && length < LayoutFileSize(*layout));
    if (readFailed || tooShort || SettingsChecksum(data.get() + 4, length - 4) != ReadInt(data.get())) {
        ShowMessage(kReadError, 1, 0);
        return -1;
    }
    ApplySettingsImage(data.get(), length);
    RefreshAutostartFlag();
    return 0;
}

int SaveSettings()
{
    const std::string path = SettingsFilePath();
    const std::string folder = ConfigDir();
    if (MakeFolders(folder) != 0)
        return -1;
    // The account's password is only scrambled: the file is the user's alone.
    ::chmod(folder.c_str(), 0700);
    // Write beside the old file and rename over it, so that a crash or a full
    // disk never leaves the user without their previous settings.
    // mkstemp turns the six X's into a unique suffix; a start after a
    // killed save removes such files by that shape.
    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        Log("The settings could not be saved: " + temporary + " could not be created: " + std::strerror(errno));
        return -1;
    }
    ::fchmod(fd, 0600);
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kSettingsFileSize]);
    if (!image) {
        ShowMessage(kSaveError, 1, 0);
        ::close(fd);
        ::unlink(temporary.c_str());
        return -1;
    }
    gSettings.record.version = kSettingsVersion;
    std::memcpy(image.get() + 4, &gSettings, sizeof gSettings);
    int32_t checksum = SettingsChecksum(image.get() + 4, sizeof gSettings);
    std::memcpy(image.get(), &checksum, sizeof checksum);
    bool written = WriteAllAndSync(fd, image.get(), kSettingsFileSize);
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        Log("The settings could not be saved to " + path + ": " + std::strerror(errno));
        ::unlink(temporary.c_str());
        ShowMessage(kSaveError, 1, 0);
        return -1;
    }
    return 0;
}

char* ScrambleText(const char* source, size_t sourceLength, char* destination, size_t destinationSize)
{
    if (destinationSize == 0)
        return destination;
    size_t i = 0;
    for (; i < sourceLength && i < destinationSize - 1; ++i)
        destination[i] = static_cast<char>(source[i] ^ 0x9E);
    destination[i] = 0;
    return destination;
}

void StoreScrambled(char* field, size_t fieldSize, const std::string& plain)
{
    char scratch[128] = {};
    size_t scratchSize = std::min(fieldSize, sizeof scratch);
    std::snprintf(scratch, scratchSize, "%s", plain.c_str());
    ScrambleText(scratch, std::strlen(scratch), scratch, scratchSize);
    std::memset(field, 0, fieldSize);
    std::strncpy(field, scratch, fieldSize - 1);
}

std::string ReadScrambled(const char* field, size_t fieldSize)
{
    char plain[128] = {};
    size_t size = std::min(fieldSize, sizeof plain);
    ScrambleText(field, strnlen(field, fieldSize), plain, size);
    return plain;
}

bool AccountIsStored()
{
    const SettingsRecord& record = gSettings.record;
    return record.email[0] && record.userName[0] && record.password[0];
}

bool UserNameIsStored()
{
    return !ReadScrambled(gSettings.record.userName, sizeof gSettings.record.userName).empty();
}
