// orvandel-setup: the user's settings without a desktop. Each verb runs the
// same code, checks and messages as the dialog that sets the same thing, and
// the settings file is written only while Orvandel does not run (it saves
// its own settings when it ends, over any change made meanwhile).

#include "account/account.h"
#include "capture/auto_tune.h"
#include "capture/crossbar_router.h"
#include "capture/capture_graph.h"
#include "capture/channel_setup.h"
#include "capture/devices.h"
#include "capture/source_list.h"
#include "config/network_sources.h"
#include "config/settings.h"
#include "media/media_folders.h"
#include "net/network_settings.h"
#include "platform/instance_lock.h"
#include "platform/log.h"
#include "platform/messages.h"
#include "record/recording_setup.h"
#include "guide_verbs.h"
#include "probe.h"
#include "verb_status.h"
#include "ui/channel_lineup.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "orvandel-setup: %s (see orvandel-setup --help)\n", problem.c_str());
    return kUsage;
}

int Refuse(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    return kRefused;
}

namespace {

constexpr char kUsageText[] = R"(Usage: orvandel-setup VERB [OPTIONS]

Edits Orvandel's settings file ($XDG_CONFIG_HOME/orvandel/Orvandel.ini) with
the same checks and messages as the desktop dialogs. It refuses to write
while Orvandel runs: stop it first (it saves its settings when it ends).

  show
      The account's user name, the network, the recording settings, the
      shared media folders and the enabled channels.
  devices [--verbose]
      The capture devices, with their inputs and whether they have a tuner;
      with --verbose also their frame sizes, the format they deliver, the
      tuner's channels, and their picture formats and standards.
  probe DEVICE [--seconds S] [--out FILE]
      Captures S seconds (5 unless given) from a video device, with its own
      sound when it has some, into FILE (orvandel-probe.mkv unless given),
      and prints each step as it works or fails; the log lines of a failure
      name the device, the call and the system's reason. Send this output
      and the file when reporting a card that does not work.
  account --user NAME --password-stdin [--email ADDRESS]
      Records an existing account, as "I already have an account" does; the
      password is read from standard input. The address may be left out only
      when one is stored already.
      Example: echo secret | orvandel-setup account --user me --password-stdin --email me@example.org
  channel N --video DEVICE [--audio DEVICE] [--input Tuner|Composite|S-Video]
            [--tuner-channel C] [--name TEXT] [--motion on|off] [--disable]
      Sets up channel N (0..999) on a device given by its name or by the
      number that "devices" shows, and enables it (--disable turns it off).
      Example: orvandel-setup channel 5 --video 1 --audio 1 --tuner-channel 5 --name News
  scan --device DEVICE [--from N]
      Tries every channel of the device's tuner, as Auto Tune in the capture
      options does, and makes each one with a signal a channel, from channel
      N (0 unless given) on.
  source add NAME URL [--no-sound] | source list | source remove NAME | source import PLAYLIST
      Network sources: an IP camera (rtsp://), a network tuner (http://, as
      MPEG-TS or HLS), a multicast stream (udp://, rtp://) or a file. A
      source is then a capture device: "channel N --video NAME" puts a
      channel on it. "import" adds each entry of an IPTV playlist (.m3u) as
      a source and a channel on the first channels not in use.
      Example: orvandel-setup source add Garden rtsp://192.168.1.20/stream
  folder add|remove PATH
      Shares a media folder with the handheld, or stops sharing it.
      Example: orvandel-setup folder add /srv/films
  network --port P [--address A] [--directory on|off]
      The base port (the control port is P+1, UDT P+2), the address to serve
      on (empty for any) and the directory service.
      Example: orvandel-setup network --port 7000 --directory off
  recording --folder PATH [--max-minutes M] [--max-megabytes S]
      Where recordings go, and their limits (0 for none).
  guide import FILE|URL | guide refresh | guide show [--channel N] [--at "YYYY-MM-DD HH:MM"]
  | guide map GUIDE-ID N
      The programme guide: "import" reads an XMLTV file or http(s) address
      (plain or gzip) and matches its channels to the lineup by number and
      name; if the guide cannot be read or is malformed, the old one stays.
      Orvandel imports it again from there once a day; "refresh" does now.
      "show" lists what is on every matched channel now (or at --at), or one
      channel's next 24 hours, in local time. "map" matches a guide channel
      by hand.
      Example: orvandel-setup guide import https://example.org/tv.xml.gz
  record TITLE [--series] [--contains] [--channel N] [--new-only] [--keep N]
         [--early M] [--late M] | rules | rules remove ID | rules prefer ID
      A recording rule over the guide: the first showing of TITLE, or with
      --series every one (--new-only: no repeats), on channel N or any,
      starting M minutes early (1) and ending M late (2); --keep N deletes
      the rule's older recordings once N newer ones are made. It prints the
      recordings the rule will make, and those it cannot because another
      rule records another channel then: the rule made earlier wins, unless
      "rules prefer ID" lets another win. "rules" lists every rule so.
      Example: orvandel-setup record "The News" --series --new-only

Exit status: 0 when done, 1 when refused, 2 on a bad command line.
)";

// Messages of the shared code go to the terminal; a question is answered yes,
// since the command line has already said what to do.
class TerminalSink : public MessageSink {
public:
    void Error(const std::string& text, bool) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void Info(const std::string& text) override { std::printf("%s\n", text.c_str()); }
    bool Confirm(const std::string&) override { return true; }
};

// While a device is probed the log says everything, with the backends'
// reasons: the messages it also shows would be said twice.
class LogOnlySink : public MessageSink {
public:
    void Error(const std::string&, bool) override {}
    void Info(const std::string&) override {}
    bool Confirm(const std::string&) override { return true; }
};

using Options = std::map<std::string, std::string>;

// "--name value" pairs, and "--flag" without a value for the flags named.
bool ParseOptions(const std::vector<std::string>& arguments, size_t from, const std::vector<std::string>& flags,
                  Options& options, std::vector<std::string>& positional)
{
    for (size_t i = from; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!argument.starts_with("--")) {
            positional.push_back(argument);
        } else if (std::find(flags.begin(), flags.end(), argument) != flags.end()) {
            options[argument] = "";
        } else if (i + 1 < arguments.size()) {
            options[argument] = arguments[++i];
        } else {
            return false;
        }
    }
    return true;
}

std::optional<int> Number(const std::string& text)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return std::nullopt;
    return std::stoi(text);
}

// A device by the number "devices" shows or by its name: its entry in the
// name list (entry 0 is "None").
std::optional<int> DeviceEntryOf(const std::vector<std::string>& names, const std::string& given)
{
    if (const auto number = Number(given); number && *number >= 1 && *number < static_cast<int>(names.size()))
        return *number;
    for (size_t entry = 1; entry < names.size(); ++entry)
        if (names[entry] == given)
            return static_cast<int>(entry);
    return std::nullopt;
}

std::string Normalised(const std::string& text)
{
    std::string letters;
    for (const unsigned char c : text)
        if (std::isalnum(c))
            letters += static_cast<char>(std::tolower(c));
    return letters;
}

void ShowChannels()
{
    for (int index = 0; index < kChannelCount; ++index) {
        const ChannelRecord& channel = gSettings.channels[index];
        if (!channel.enabled)
            continue;
        std::printf("channel %d: \"%.32s\" video \"%s\" audio \"%s\"", index, channel.description,
                    DeviceName(gDeviceNames.video, channel.videoDevice).c_str(),
                    DeviceName(gDeviceNames.audio, channel.audioDevice).c_str());
        if (channel.tunerChannel >= 0)
            std::printf(" tuner channel %d", channel.tunerChannel);
        std::printf("%s\n", channel.motionDetection ? " motion on" : "");
    }
}

// How long the recording folder's free space records at the profile.
void ShowRecordingRoom(const std::string& folder)
{
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    if (error) {
        std::printf("recording room: unknown (%s)\n", error.message().c_str());
        return;
    }
    const RecordingProfile& profile = gSettings.record.recordingProfile;
    const double bytesPerSecond = (double(profile.videoBitRate) + profile.audioBitRate) / 8;
    const double hours = bytesPerSecond > 0 ? double(space.available) / bytesPerSecond / 3600 : 0;
    std::printf("recording room: %.1f GB free, about %.0f hours at the recording profile\n",
                double(space.available) / 1e9, hours);
}

int Show()
{
    const SettingsRecord& record = gSettings.record;
    const std::string user = ReadScrambled(record.userName, sizeof record.userName);
    std::printf("account: %s\n", user.empty() ? "(none: nobody can log in)" : user.c_str());
    std::printf("base port: %d (control %d, UDT %d)\n", record.basePort, record.basePort + 1, record.basePort + 2);
    const std::string address = NicAddressText(record.listenAddress);
    std::printf("server address: %s\n", address.empty() ? "any" : address.c_str());
    std::printf("directory service: %s\n", record.directoryDisabled ? "off" : "on");
    const RecordingSetup recording = LoadRecordingSetup();
    std::printf("recording folder: %s\n", recording.folder.c_str());
    ShowRecordingRoom(recording.folder);
    std::printf("recording limits: %s, %s\n",
                recording.limitTime ? (std::to_string(JoinTimeLimit(recording.timeLimit) / 60) + " minutes").c_str()
                                    : "no time limit",
                recording.limitSize ? (std::to_string(recording.sizeLimitMb) + " MB").c_str() : "no size limit");
    for (const std::string& folder : AssignMediaFolderRows())
        std::printf("media folder: %s\n", folder.c_str());
    ShowChannels();
    return kDone;
}

// The built graph's device in detail: sizes, the format it delivers, the
// tuner's range and what the device says of itself.
void ShowDeviceDetails()
{
    CaptureFilter* device = gCapture.videoCapture.get();
    if (!device) {
        std::printf("    could not be opened (the log says why)\n");
        return;
    }
    if (VideoStreamConfig* config = device->VideoConfig()) {
        std::string sizes;
        FrameSize size;
        for (int i = 0; config->Capability(i, size) == 0; ++i)
            sizes += (sizes.empty() ? "" : ", ") + std::to_string(size.width) + "x" + std::to_string(size.height);
        std::printf("    frame sizes: %s\n", sizes.c_str());
        if (VideoFormat format; config->GetFormat(format) == 0 && format.frameInterval > 0)
            std::printf("    delivers: %dx%d at %.2f pictures/s\n", format.width, format.height,
                        double(kUnitsPerSecond) / format.frameInterval);
    }
    if (const TvTuner* tuner = FindTuner()) {
        const TunerChannelRange range = AutoTuneChannelRange(*tuner);
        std::printf("    tuner channels: %d to %d\n", range.minimum, range.maximum);
    }
    for (const std::string& line : device->Details())
        std::printf("    %s\n", line.c_str());
}

int Devices(bool verbose)
{
    for (size_t entry = 1; entry < gDeviceNames.video.size(); ++entry) {
        ChannelRecord probe{};
        probe.editSelection = ChooseDevice(0xFFFF, kColumnVideo, static_cast<int>(entry));
        probe.videoCrossbarIn = -1;
        ChannelSetupModel model;
        LoadChannelSetup(probe, model);
        std::string inputs;
        for (const std::string& route : model.routeNames)
            inputs += (inputs.empty() ? "" : ", ") + route;
        std::printf("video %zu: %s%s%s%s\n", entry, gDeviceNames.video[entry].c_str(),
                    model.tunerFound ? " (tuner)" : "", inputs.empty() ? "" : "; inputs: ", inputs.c_str());
        if (verbose)
            ShowDeviceDetails();
    }
    for (size_t entry = 1; entry < gDeviceNames.audio.size(); ++entry)
        std::printf("audio %zu: %s\n", entry, gDeviceNames.audio[entry].c_str());
    TearDownCaptureGraph();
    return kDone;
}

int Account(const Options& options)
{
    if (!options.contains("--user") || !options.contains("--password-stdin"))
        return Usage("account needs --user NAME and --password-stdin");
    std::string password;
    std::getline(std::cin, password);
    const auto email = options.find("--email");
    const std::string address = email != options.end() ? email->second : ReadScrambled(gSettings.record.email,
                                                                                     sizeof gSettings.record.email);
    return RecordExistingAccount({address, options.at("--user"), password, password}) ? kDone : kRefused;
}

// The lineup as the settings hold it, for StoreLineup.
std::vector<LineupRow> CurrentLineup()
{
    std::vector<LineupRow> rows(kChannelCount);
    for (int i = 0; i < kChannelCount; ++i)
        rows[i] = {gSettings.channels[i].enabled != 0,
                   std::string(gSettings.channels[i].description, strnlen(gSettings.channels[i].description, 32))};
    return rows;
}

// The input of the video device that --input names, as the capture options
// show its inputs.
std::optional<int> InputRoute(const ChannelSetupModel& model, const std::string& wanted)
{
    if (Normalised(wanted) == "tuner" && model.tunerRoute >= 0)
        return model.tunerRoute;
    for (size_t route = 0; route < model.routeNames.size(); ++route)
        if (Normalised(model.routeNames[route]).find(Normalised(wanted)) != std::string::npos)
            return static_cast<int>(route);
    return std::nullopt;
}

int Channel(const std::vector<std::string>& positional, const Options& options)
{
    if (positional.size() != 1)
        return Usage("channel needs its number N");
    const auto index = Number(positional[0]);
    if (!index || *index >= kChannelCount)
        return Refuse("The channel number must be between 0 and 999.");
    ChannelRecord& channel = gSettings.channels[*index];
    for (const auto& [option, names, column] : {std::tuple{"--video", &gDeviceNames.video, kColumnVideo},
                                                std::tuple{"--audio", &gDeviceNames.audio, kColumnAudio}}) {
        if (!options.contains(option))
            continue;
        const auto entry = DeviceEntryOf(*names, options.at(option));
        if (!entry)
            return Refuse("There is no capture device \"" + options.at(option) + "\". \"orvandel-setup devices\" lists them.");
        channel.editSelection = ChooseDevice(channel.editSelection, column, *entry);
    }
    ChannelSetupModel model;
    LoadChannelSetup(channel, model);
    if (options.contains("--input")) {
        const auto route = InputRoute(model, options.at("--input"));
        if (!route)
            return Refuse("The video device has no input \"" + options.at("--input") + "\".");
        model.videoInput = *route;
    }
    if (options.contains("--tuner-channel")) {
        const auto tuned = Number(options.at("--tuner-channel"));
        if (!tuned || *tuned > kSpinMaximum)
            return Refuse("The tuner channel must be between 0 and 1000.");
        model.channel = *tuned;
    }
    if (options.contains("--motion"))
        model.motion = options.at("--motion") == "on";
    StoreChannelSetup(model, channel);
    TearDownCaptureGraph();

    std::vector<LineupRow> rows = CurrentLineup();
    LineupRow& row = rows[*index];
    row.enabled = !options.contains("--disable");
    if (options.contains("--name"))
        row.description = options.at("--name").substr(0, sizeof channel.description - 1);
    const std::string video = DeviceName(gDeviceNames.video, channel.editSelection >> 8 & 0xFF);
    const std::string audio = DeviceName(gDeviceNames.audio, channel.editSelection & 0xFF);
    if (RefuseCheckedRow(row.enabled, video, audio))
        return kRefused;
    return StoreLineup(rows) == 0 ? kDone : kRefused;
}

// Progress of a tuner scan: one line per channel found, and on a terminal
// the channel being tried.
class TerminalScanObserver : public AutoTuneObserver {
public:
    TerminalScanObserver() : terminal_(isatty(STDOUT_FILENO) != 0) {}
    void RangeKnown(TunerChannelRange range) override
    {
        std::printf("scanning tuner channels %d to %d\n", range.minimum, range.maximum);
    }
    void Scanning(int channel) override
    {
        if (!terminal_)
            return;
        std::printf("\rtrying channel %d ", channel);
        std::fflush(stdout);
    }
    void Found(int channel) override { std::printf("%ssignal on channel %d\n", terminal_ ? "\r" : "", channel); }

private:
    const bool terminal_;
};

int Scan(const Options& options)
{
    if (!options.contains("--device"))
        return Usage("scan needs --device DEVICE");
    const auto from = Number(options.contains("--from") ? options.at("--from") : "0");
    if (!from || *from >= kChannelCount)
        return Refuse("The channel number must be between 0 and 999.");
    const auto entry = DeviceEntryOf(gDeviceNames.video, options.at("--device"));
    if (!entry)
        return Refuse("There is no capture device \"" + options.at("--device") + "\". \"orvandel-setup devices\" lists them.");
    ChannelRecord& base = gSettings.channels[*from];
    base.editSelection = ChooseDevice(base.editSelection, kColumnVideo, *entry);
    // A card with its own sound records it, as the capture options would offer.
    if (const auto sound = DeviceEntryOf(gDeviceNames.audio, gDeviceNames.video[*entry]))
        base.editSelection = ChooseDevice(base.editSelection, kColumnAudio, *sound);
    ChannelSetupModel model;
    LoadChannelSetup(base, model);
    TvTuner* tuner = model.tunerFound ? FindTuner() : nullptr;
    if (!tuner) {
        TearDownCaptureGraph();
        return Refuse("\"" + gDeviceNames.video[*entry] + "\" has no tuner to scan.");
    }
    model.videoInput = model.tunerRoute;
    StoreChannelSetup(model, base);
    tuner->SetInputType(0, base.tunerInputType);
    tuner->SetCountryCode(base.tunerCountry);
    if (StartCapture() != 0) {
        TearDownCaptureGraph();
        return kRefused;
    }
    TerminalScanObserver observer;
    const int found = AutoTuneScan(*tuner, *from).Run(observer);
    StopCapture();
    TearDownCaptureGraph();
    std::printf("%d channels found\n", found);
    std::vector<LineupRow> rows = CurrentLineup();
    for (int row = *from; row < *from + found; ++row) {
        rows[row].enabled = true;
        rows[row].description = gSettings.channels[row].description;
        std::printf("channel %d: \"%s\" on tuner channel %d\n", row, rows[row].description.c_str(),
                    gSettings.channels[row].tunerChannel);
    }
    return found == 0 || StoreLineup(rows) == 0 ? kDone : kRefused;
}

// Looks at the source once; one that cannot be reached now is kept all the
// same (a camera may be off), with sound assumed.
void DescribeNewSource(NetworkSourceDescription& source)
{
    const std::atomic<bool> never{false};
    const SourceProbe probe = ProbeNetworkSource(source.url, {640, 480}, never);
    if (!probe.failure.empty()) {
        std::printf("\"%s\" could not be reached now (%s); it is added all the same.\n", source.name.c_str(),
                    probe.failure.c_str());
        return;
    }
    source.sound = probe.sound;
    std::printf("\"%s\": %s\n", source.name.c_str(), probe.description.c_str());
}

int AddSource(NetworkSourceDescription source)
{
    if (const std::string refusal = NetworkSourceRefusal(source); !refusal.empty())
        return Refuse(refusal);
    DescribeNewSource(source);
    const std::string problem = AddNetworkSource(source);
    return problem.empty() ? kDone : Refuse(problem);
}

int RemoveSource(const std::string& name)
{
    if (const std::string problem = RemoveNetworkSource(name); !problem.empty())
        return Refuse(problem);
    for (int channel : ChannelsOnDevice(name))
        std::printf("channel %d still names \"%s\": put it on another device.\n", channel, name.c_str());
    return kDone;
}

// A name a source may have and that is not yet taken: the playlist's own,
// with round brackets for square ones and cut to fit a channel's name, or
// with " 2", " 3", ... after it.
NetworkSourceDescription WithFreeName(NetworkSourceDescription entry)
{
    std::replace(entry.name.begin(), entry.name.end(), '[', '(');
    std::replace(entry.name.begin(), entry.name.end(), ']', ')');
    std::string wanted = CutWhereACharacterEnds(entry.name, sizeof ChannelRecord{}.description - 4);
    while (!wanted.empty() && wanted.back() == ' ')
        wanted.pop_back();
    entry.name = wanted;
    for (int suffix = 2; DeviceNameTaken(entry.name); ++suffix)
        entry.name = wanted + " " + std::to_string(suffix);
    return entry;
}

// Each entry becomes a source and a channel on the first channel not in use.
int ImportPlaylist(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        return Refuse("\"" + path + "\" could not be read: " + std::strerror(errno) + ".");
    std::ostringstream text;
    text << file.rdbuf();
    const std::vector<NetworkSourceDescription> entries = ParsePlaylist(text.str());
    if (entries.empty())
        return Refuse("\"" + path + "\" lists no streams.");
    int channel = 0;
    for (const NetworkSourceDescription& listed : entries) {
        const NetworkSourceDescription entry = WithFreeName(listed);
        if (const std::string problem = AddNetworkSource(entry); !problem.empty())
            return Refuse("\"" + entry.name + "\": " + problem);
        while (channel < kChannelCount && gSettings.channels[channel].enabled)
            ++channel;
        if (channel == kChannelCount)
            return Refuse("Every channel is in use: \"" + entry.name + "\" and those after it are not imported.");
        // By their numbers: a playlist's names may be numbers themselves.
        const auto entryOf = [&](const std::vector<std::string>& names) {
            return std::to_string(std::find(names.begin() + 1, names.end(), entry.name) - names.begin());
        };
        const Options channelOptions = {{"--video", entryOf(gDeviceNames.video)},
                                        {"--audio", entryOf(gDeviceNames.audio)},
                                        {"--input", "Tuner"},
                                        {"--name", entry.name}};
        if (Channel({std::to_string(channel)}, channelOptions) != kDone)
            return kRefused;
        std::printf("channel %d: \"%s\"\n", channel, entry.name.c_str());
    }
    return kDone;
}

int Source(const std::vector<std::string>& positional, const Options& options)
{
    const std::string action = positional.empty() ? "" : positional[0];
    if (action == "list" && positional.size() == 1) {
        for (const NetworkSourceDescription& source : LoadNetworkSources())
            std::printf("%s: %s%s\n", source.name.c_str(), source.url.c_str(), source.sound ? "" : " (no sound)");
        return kDone;
    }
    if (action == "add" && positional.size() == 3)
        return AddSource({positional[1], positional[2], !options.contains("--no-sound")});
    if (action == "remove" && positional.size() == 2)
        return RemoveSource(positional[1]);
    if (action == "import" && positional.size() == 2)
        return ImportPlaylist(positional[1]);
    return Usage("source needs add NAME URL, list, remove NAME or import PLAYLIST");
}

int Folder(const std::vector<std::string>& positional)
{
    if (positional.size() != 2 || (positional[0] != "add" && positional[0] != "remove"))
        return Usage("folder needs add or remove and a PATH");
    std::error_code error;
    const std::string& path = positional[1];
    if (positional[0] == "add") {
        if (!std::filesystem::is_directory(path, error))
            return Refuse("\"" + path + "\" is no folder.");
        return AddMediaFolder(std::filesystem::absolute(path, error).lexically_normal().string()) == 0 &&
                       SaveSettings() == 0
                   ? kDone
                   : kRefused;
    }
    const std::vector<std::string> rows = AssignMediaFolderRows();
    const auto row = std::find(rows.begin(), rows.end(), path);
    if (row == rows.end())
        return Refuse("\"" + path + "\" is not shared.");
    return RemoveMediaFolderRow(static_cast<int>(row - rows.begin())) == 0 && SaveSettings() == 0 ? kDone : kRefused;
}

int Network(const Options& options)
{
    if (!options.contains("--port"))
        return Usage("network needs --port P");
    const int port = BasePortFromText(options.at("--port"));
    if (port < 1 || port > 65533)
        return Refuse("The base port must be between 1 and 65533.");
    if (options.contains("--address") && ApplyAdvancedNetworkSettings(options.at("--address")) != 0)
        return Refuse("\"" + options.at("--address") + "\" is no IPv4 address.");
    if (options.contains("--directory")) {
        const bool wantedOff = options.at("--directory") == "off";
        if (wantedOff != (gSettings.record.directoryDisabled != 0))
            ToggleDirectoryService();
    }
    return ApplyNetworkSettings(options.at("--port")) == 0 ? kDone : kRefused;
}

int Recording(const Options& options)
{
    if (!options.contains("--folder"))
        return Usage("recording needs --folder PATH");
    std::error_code error;
    if (!std::filesystem::is_directory(options.at("--folder"), error))
        return Refuse("\"" + options.at("--folder") + "\" is no folder.");
    RecordingSetup setup = LoadRecordingSetup();
    setup.folder = options.at("--folder");
    if (options.contains("--max-minutes")) {
        const auto minutes = Number(options.at("--max-minutes"));
        if (!minutes)
            return Usage("--max-minutes needs a number");
        setup.limitTime = *minutes > 0;
        setup.timeLimit = SplitTimeLimit(*minutes * 60);
    }
    if (options.contains("--max-megabytes")) {
        const auto megabytes = Number(options.at("--max-megabytes"));
        if (!megabytes)
            return Usage("--max-megabytes needs a number");
        setup.limitSize = *megabytes > 0;
        setup.sizeLimitMb = *megabytes;
    }
    return ApplyRecordingSetup(setup) == 0 ? kDone : kRefused;
}

int Probe(const std::vector<std::string>& positional, const Options& options)
{
    if (positional.size() != 1)
        return Usage("probe needs a DEVICE");
    const auto entry = DeviceEntryOf(gDeviceNames.video, positional[0]);
    if (!entry)
        return Refuse("There is no capture device \"" + positional[0] + "\". \"orvandel-setup devices\" lists them.");
    const auto seconds = Number(options.contains("--seconds") ? options.at("--seconds") : "5");
    if (!seconds || *seconds < 1 || *seconds > 60)
        return Usage("--seconds needs a number from 1 to 60");
    static LogOnlySink logOnly;
    SetMessageSink(&logOnly);
    SetLogEnabled(true);
    const std::string out = options.contains("--out") ? options.at("--out") : "orvandel-probe.mkv";
    const int failures = ProbeCaptureDevice(*entry, out, *seconds);
    SetLogEnabled(false);
    return failures == 0 ? kDone : kRefused;
}

int RunVerb(const std::string& verb, const std::vector<std::string>& positional, const Options& options)
{
    if (verb == "show")
        return Show();
    if (verb == "devices")
        return Devices(options.contains("--verbose"));
    if (verb == "probe")
        return Probe(positional, options);
    if (verb == "source" && positional == std::vector<std::string>{"list"})
        return Source(positional, options);
    // The guide is a database of its own, which Orvandel only reads.
    if (verb == "guide")
        return GuideVerb(positional, options);
    if (verb == "record")
        return RecordVerb(positional, options);
    if (verb == "rules")
        return RulesVerb(positional);
    if (!InstanceLock::TryTake())
        return Refuse("Orvandel is running: stop it first, since it saves its own settings when it ends.");
    if (verb == "account")
        return Account(options);
    if (verb == "channel")
        return Channel(positional, options);
    if (verb == "folder")
        return Folder(positional);
    if (verb == "scan")
        return Scan(options);
    if (verb == "source")
        return Source(positional, options);
    if (verb == "network")
        return Network(options);
    if (verb == "recording")
        return Recording(options);
    return Usage("unknown verb " + verb);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv, argv + argc);
    if (arguments.size() < 2)
        return Usage("a verb is missing");
    if (arguments[1] == "--help" || arguments[1] == "-h") {
        std::fputs(kUsageText, stdout);
        return kDone;
    }
    Options options;
    std::vector<std::string> positional;
    if (!ParseOptions(arguments, 2, {"--password-stdin", "--disable", "--no-sound", "--verbose", "--series", "--contains", "--new-only"}, options, positional))
        return Usage("an option lacks its value");
    TerminalSink sink;
    SetMessageSink(&sink);
    SetLogEnabled(false);
    // A source's reason for failing is told in the tool's own words.
    av_log_set_level(AV_LOG_QUIET);
    SetDefaultSettings();
    LoadSettings();
    CreateGraphObjects();
    EnumerateCaptureDevices();
    ReconcileChannelDevices();
    const int status = RunVerb(arguments[1], positional, options);
    ReleaseGraphObjects();
    SetMessageSink(nullptr);
    return status;
}
