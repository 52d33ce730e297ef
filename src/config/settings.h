#pragma once
// The settings block: one process-wide record of every persistent setting,
// followed by the 1,000 channel records, written whole to "Orvandel.ini".
// The layouts are the file format: every offset below is fixed.

#include "platform/clock.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

static_assert(std::endian::native == std::endian::little, "the settings file is little-endian");

// A caption font description in the 60-byte layout the file stores.
struct LogFont {
    int32_t height;
    int32_t width;
    int32_t escapement;
    int32_t orientation;
    int32_t weight;
    uint8_t italic;
    uint8_t underline;
    uint8_t strikeOut;
    uint8_t charSet;
    uint8_t outPrecision;
    uint8_t clipPrecision;
    uint8_t quality;
    uint8_t pitchAndFamily;
    char faceName[32];
};
static_assert(sizeof(LogFont) == 60);

// Audio and video parameters of a recording, or of one channel's live stream.
struct RecordingProfile {
    uint8_t stereo;
    uint8_t reserved1;
    uint8_t frameRate;
    uint8_t reserved3;
    int32_t videoBitRate;
    int32_t audioSampleRate;
    int32_t audioSampleBits;
    int32_t audioBitRate;
    int32_t reserved20;
};
static_assert(sizeof(RecordingProfile) == 24);

struct ScheduleSlot {
    int32_t used;
    int32_t active;  // its recording was started by the scheduler and runs
    int32_t channel;
    int32_t reserved;
    SystemTime start;
    SystemTime end;
};
static_assert(sizeof(ScheduleSlot) == 48);

struct MediaFolderEntry {
    int32_t used;
    int32_t flag;
    char path[256];
};
static_assert(sizeof(MediaFolderEntry) == 264);

constexpr int kScheduleSlots = 20;
constexpr int kMediaFolderSlots = 64;
constexpr int kChannelCount = 1000;
constexpr int kNoDevice = 255;

struct SettingsRecord {
    int32_t version;
    int32_t descriptionMinWidth;
    int32_t enabledChannels;
    int32_t currentChannel;
    int32_t reserved16;
    int32_t directoryDisabled;
    int32_t reserved24;
    int32_t limitRecordingTime;
    int32_t limitRecordingSize;
    int32_t recordingTimeLimit;     // seconds
    int32_t recordingSizeLimitMb;
    int32_t basePort;
    char recordingFolder[256];
    char email[128];                // scrambled, see ScrambleText
    char userName[32];              // scrambled
    char password[32];              // scrambled
    uint8_t reserved496[17];
    uint8_t dontAskNewVersion;
    uint8_t recordOnMotion;
    uint8_t reserved515;
    RecordingProfile recordingProfile;
    int32_t recordingDialogValue;   // kept by the recording settings dialog only
    int32_t recordingSizeIndex;     // 0..4: 320x240, 320x256, 352x288, 640x480, 720x576
    ScheduleSlot schedules[kScheduleSlots];
    int32_t scheduleRowToSlot[kScheduleSlots];
    MediaFolderEntry mediaFolders[kMediaFolderSlots];
    LogFont captionFont;
    uint32_t captionColor;          // 0x00BBGGRR
    int32_t autostart;
    int32_t reserved18552;
    uint32_t listenAddress;         // IPv4, host byte order; 0 = choose automatically
};

static_assert(offsetof(SettingsRecord, descriptionMinWidth) == 4);
static_assert(offsetof(SettingsRecord, enabledChannels) == 8);
static_assert(offsetof(SettingsRecord, currentChannel) == 12);
static_assert(offsetof(SettingsRecord, directoryDisabled) == 20);
static_assert(offsetof(SettingsRecord, limitRecordingTime) == 28);
static_assert(offsetof(SettingsRecord, limitRecordingSize) == 32);
static_assert(offsetof(SettingsRecord, recordingTimeLimit) == 36);
static_assert(offsetof(SettingsRecord, recordingSizeLimitMb) == 40);
static_assert(offsetof(SettingsRecord, basePort) == 44);
static_assert(offsetof(SettingsRecord, recordingFolder) == 48);
static_assert(offsetof(SettingsRecord, email) == 304);
static_assert(offsetof(SettingsRecord, userName) == 432);
static_assert(offsetof(SettingsRecord, password) == 464);
static_assert(offsetof(SettingsRecord, reserved496) == 496);
static_assert(offsetof(SettingsRecord, dontAskNewVersion) == 513);
static_assert(offsetof(SettingsRecord, recordOnMotion) == 514);
static_assert(offsetof(SettingsRecord, reserved515) == 515);
static_assert(offsetof(SettingsRecord, recordingProfile) == 516);
static_assert(offsetof(SettingsRecord, recordingDialogValue) == 540);
static_assert(offsetof(SettingsRecord, recordingSizeIndex) == 544);
static_assert(offsetof(SettingsRecord, schedules) == 548);
static_assert(offsetof(SettingsRecord, scheduleRowToSlot) == 1508);
static_assert(offsetof(SettingsRecord, mediaFolders) == 1588);
static_assert(offsetof(SettingsRecord, captionFont) == 18484);
static_assert(offsetof(SettingsRecord, captionColor) == 18544);
static_assert(offsetof(SettingsRecord, autostart) == 18548);
static_assert(offsetof(SettingsRecord, reserved18552) == 18552);
static_assert(offsetof(SettingsRecord, listenAddress) == 18556);
static_assert(sizeof(SettingsRecord) == 18560);

struct ChannelRecord {
    int32_t enabled;
    int32_t autoTuneWork;
    char description[32];
    int32_t videoDevice;        // index into the video device list, 255 = none
    int32_t audioDevice;        // index into the audio device list, 255 = none
    int32_t editSelection;      // lineup dialog: video index << 8 | audio index, 0xFF = none
    int32_t videoCrossbarIn;    // -1 = none
    int32_t videoCrossbarOut;
    int32_t audioCrossbarIn;
    int32_t audioCrossbarOut;
    int32_t tunerChannel;       // -1 = no tuner channel
    int32_t tunerInputType;     // 1 = antenna, 0 = cable
    int32_t tunerCountry;
    uint8_t motionDetection;
    uint8_t reserved81[3];
    RecordingProfile profile;
    char videoDeviceName[256];
    char audioDeviceName[256];
};

static_assert(offsetof(ChannelRecord, autoTuneWork) == 4);
static_assert(offsetof(ChannelRecord, description) == 8);
static_assert(offsetof(ChannelRecord, videoDevice) == 40);
static_assert(offsetof(ChannelRecord, audioDevice) == 44);
static_assert(offsetof(ChannelRecord, editSelection) == 48);
static_assert(offsetof(ChannelRecord, videoCrossbarIn) == 52);
static_assert(offsetof(ChannelRecord, videoCrossbarOut) == 56);
static_assert(offsetof(ChannelRecord, audioCrossbarIn) == 60);
static_assert(offsetof(ChannelRecord, audioCrossbarOut) == 64);
static_assert(offsetof(ChannelRecord, tunerChannel) == 68);
static_assert(offsetof(ChannelRecord, tunerInputType) == 72);
static_assert(offsetof(ChannelRecord, tunerCountry) == 76);
static_assert(offsetof(ChannelRecord, motionDetection) == 80);
static_assert(offsetof(ChannelRecord, profile) == 84);
static_assert(offsetof(ChannelRecord, videoDeviceName) == 108);
static_assert(offsetof(ChannelRecord, audioDeviceName) == 364);
static_assert(sizeof(ChannelRecord) == 620);

struct SettingsBlock {
    SettingsRecord record;
    ChannelRecord channels[kChannelCount];
};
static_assert(offsetof(SettingsBlock, channels) == 18560);
static_assert(sizeof(SettingsBlock) == 638560);

constexpr size_t kSettingsFileSize = 4 + sizeof(SettingsBlock);  // checksum, then the block
constexpr int kSettingsVersion = 2;

// The settings of this process, edited in place by every part of the program.
extern SettingsBlock gSettings;

// Zeroes the block and writes every default, as at start-up.
void SetDefaultSettings();
// Clears a channel entry as the lineup dialog's Clear List and Delete do.
void ClearChannelEntry(ChannelRecord& channel);

std::string SettingsFilePath();
int LoadSettings();
int SaveSettings();
// Copies a verified file image (checksum included) into the block according
// to its version; unknown versions and over-long files are not applied.
void ApplySettingsImage(const uint8_t* data, size_t length);
// The sum of the bytes, each taken as a signed value, with wrap-around.
int32_t SettingsChecksum(const uint8_t* data, size_t length);

// XORs up to destinationSize - 1 bytes with 0x9E and terminates the result;
// the same call turns plain text into stored text and back.
char* ScrambleText(const char* source, size_t sourceLength, char* destination, size_t destinationSize);
// Stores plain text scrambled in a field, and reads a stored field as plain text.
void StoreScrambled(char* field, size_t fieldSize, const std::string& plain);
std::string ReadScrambled(const char* field, size_t fieldSize);

// True when the stored account texts are all present.
bool AccountIsStored();
// True when a user name is stored: without one nobody logs in and nothing
// is registered with the directory.
bool UserNameIsStored();
// What the log says while no account is stored.
constexpr char kNoAccountText[] =
    "No account is stored, so no handheld can log in. Set one up with Settings > New Account... on a desktop, or "
    "with \"orvandel-setup account --user NAME --password-stdin --email ADDRESS\" while Orvandel is stopped.";
