// Command line of the client: connection options, stream options and the
// sequence of subcommands, all checked before anything is sent.
#pragma once

#include "requests.h"

#include <optional>
#include <string>
#include <vector>

namespace handheld {

enum class StepKind {
    Login,
    Channels,
    Channel0,
    ListMedia,
    ListSubtitles,
    FileInfo,
    Live,
    File,
    Record,
    StopRecord,
    ClearRecord,
    Status,
    Monitor,
    Motion,
    Schedules,
    AddSchedule,
    ModifySchedule,
    DeleteSchedule,
    Captions,
    Raw,
    Wait,
};

struct Step {
    StepKind kind = StepKind::Login;
    std::string path;
    int32_t number = 0;
    ScheduleRequest schedule;
    Bytes raw;
};

struct StreamOptions {
    int quality = 1;
    int sizeClass = 1;
    std::optional<uint8_t> profile;
    uint16_t width = 0;
    uint16_t height = 0;
    int32_t bitrateKbps = 256;
    uint8_t codec = kCodecMpeg4;
    uint8_t audioFormat = 0;
    bool captions = false;
    int32_t startSeconds = 0;
    int8_t videoNumber = -1;
    int8_t audioNumber = -1;
    int8_t subtitleNumber = -1;
    std::optional<std::string> subtitleFile;
    std::optional<double> seconds;
    std::string outPrefix;
};

struct Options {
    std::string host = "127.0.0.1";
    int basePort = kDefaultBasePort;
    uint8_t transportByte = kTransportTcp;
    double timeoutSeconds = 30;
    std::string user;
    std::string password;
    CompatMask compat = kDefaultCompatMask;
    bool login = true;
    bool disconnect = true;
    bool keepGoing = false;
    int rawWaitMs = 1500;
    StreamOptions stream;
    std::vector<Step> steps;
};

enum class ParseResult { Run, Help, Error };

// On Error, `error` holds a one-line explanation for stderr.
ParseResult parseArguments(int argc, char** argv, Options& options, std::string& error);
const char* usageText();

}  // namespace handheld
