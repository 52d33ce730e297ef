// Writes a ready-to-use settings file for trying Orvandel with its virtual
// TV card: an account, a lineup of virtual channels, a shared media folder,
// the directory service off and the server on loopback.

#include "config/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct DemoChannel {
    int index;
    const char* description;
    const char* videoDevice;  // nullptr: sound only
    const char* audioDevice;
    int tunerChannel;
};

const DemoChannel kChannels[] = {
    {3, "Test card", "Virtual TV Tuner", "Virtual TV Tuner", 3},
    {5, "Moving picture", "Virtual TV Tuner", "Virtual TV Tuner", 5},
    {9, "Colour bars with captions", "Virtual TV Tuner", "Virtual TV Tuner", 9},
    {13, "Second moving picture", "Virtual TV Tuner", "Virtual TV Tuner", 13},
    {20, "Radio (sound only)", nullptr, "Virtual Line In", -1},
};

// Device indices are matched to the names when the program starts.
void SetUpChannel(const DemoChannel& demo)
{
    ChannelRecord& channel = gSettings.channels[demo.index];
    channel.enabled = 1;
    std::snprintf(channel.description, sizeof channel.description, "%s", demo.description);
    if (demo.videoDevice) {
        std::snprintf(channel.videoDeviceName, sizeof channel.videoDeviceName, "%s", demo.videoDevice);
        channel.videoDevice = 0;
        channel.videoCrossbarIn = 0;  // the tuner input
    }
    std::snprintf(channel.audioDeviceName, sizeof channel.audioDeviceName, "%s", demo.audioDevice);
    channel.audioDevice = 0;
    channel.tunerChannel = demo.tunerChannel;
    channel.tunerInputType = 1;
    // Every picture channel may be watched for motion.
    channel.motionDetection = demo.videoDevice ? 1 : 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: orvandel-demo-setup BASE_PORT MEDIA_FOLDER USER PASSWORD\n"
                         "Writes Orvandel.ini into $XDG_CONFIG_HOME/orvandel for a demo on loopback.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return Usage();
    const int port = std::atoi(argv[1]);
    if (port < 1 || port > 65533)
        return Usage();
    SetDefaultSettings();
    SettingsRecord& record = gSettings.record;
    record.basePort = port;
    record.listenAddress = 0x7F000001;
    record.directoryDisabled = 1;
    StoreScrambled(record.email, sizeof record.email, "demo@localhost");
    StoreScrambled(record.userName, sizeof record.userName, argv[3]);
    StoreScrambled(record.password, sizeof record.password, argv[4]);
    record.mediaFolders[0].used = 1;
    std::snprintf(record.mediaFolders[0].path, sizeof record.mediaFolders[0].path, "%s", argv[2]);
    for (const DemoChannel& demo : kChannels)
        SetUpChannel(demo);
    record.enabledChannels = static_cast<int>(std::size(kChannels));
    record.currentChannel = kChannels[0].index;
    if (SaveSettings() != 0) {
        std::fprintf(stderr, "orvandel-demo-setup: cannot write %s\n", SettingsFilePath().c_str());
        return 1;
    }
    std::printf("%s\n", SettingsFilePath().c_str());
    return 0;
}
