#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace handheld {

namespace {

using Args = std::vector<std::string>;

bool parseInteger(std::string_view text, long long low, long long high, long long& value)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const char* end = text.data() + text.size();
    const auto [stop, code] = std::from_chars(text.data(), end, value, base);
    return !text.empty() && code == std::errc() && stop == end && value >= low && value <= high;
}

bool parseSeconds(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const auto [stop, code] = std::from_chars(text.data(), end, value);
    return code == std::errc() && stop == end && std::isfinite(value) && value > 0 && value < 1e6;
}

// Accepts "AA", "aaec", "0xAA"; every token must hold whole bytes.
bool parseHex(std::string_view text, Bytes& out)
{
    if (text.starts_with("0x") || text.starts_with("0X"))
        text.remove_prefix(2);
    if (text.empty() || text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        long long byte = 0;
        if (!parseInteger("0x" + std::string(text.substr(i, 2)), 0, 255, byte))
            return false;
        out.push_back(uint8_t(byte));
    }
    return true;
}

// Any separator is accepted, so "2024-05-01 20:30" works as well as
// 2024-05-01T20:30.
bool parseScheduleTime(const std::string& text, ScheduleTime& time)
{
    std::vector<long long> fields;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find_first_not_of("0123456789", at), text.size());
        long long value = 0;
        if (end == at || !parseInteger(std::string_view(text).substr(at, end - at), 0, 65535, value))
            return false;
        fields.push_back(value);
        at = end == text.size() ? end : end + 1;
    }
    if (fields.size() != 5)
        return false;
    time = {uint16_t(fields[0]), uint16_t(fields[1]), uint16_t(fields[2]), uint16_t(fields[3]),
            uint16_t(fields[4])};
    return true;
}

bool parseSize(const std::string& text, StreamOptions& stream)
{
    const size_t x = text.find('x');
    long long width = 0;
    long long height = 0;
    if (x == std::string::npos || !parseInteger(std::string_view(text).substr(0, x), 1, 65535, width)
        || !parseInteger(std::string_view(text).substr(x + 1), 1, 65535, height))
        return false;
    static const std::string standard[] = {"200x200", "320x240", "1024x768", "480x320"};
    const auto found = std::find(std::begin(standard), std::end(standard), text);
    const bool custom = found == std::end(standard);
    stream.sizeClass = custom ? kSizeClassCustom : int(found - std::begin(standard));
    stream.width = uint16_t(width);
    stream.height = uint16_t(height);
    return true;
}

bool parseTransport(const std::string& text, uint8_t& byte)
{
    long long value = 0;
    if (text == "tcp")
        byte = kTransportTcp;
    else if (text == "udt")
        byte = kTransportUdt;
    else if (text == "tcp-nomarker")
        byte = kTransportTcpNoMarker;
    else if (parseInteger(text, 0, 255, value))
        byte = uint8_t(value);
    else
        return false;
    return true;
}

bool parseCodec(const std::string& text, uint8_t& codec)
{
    long long value = 0;
    if (text == "mpeg4")
        codec = kCodecMpeg4;
    else if (text == "h264")
        codec = kCodecH264;
    else if (text == "h263")
        codec = kCodecH263;
    else if (parseInteger(text, 0, 255, value))
        codec = uint8_t(value);
    else
        return false;
    return true;
}

template <typename T>
bool parseInto(const std::string& text, long long low, long long high, T& target)
{
    long long value = 0;
    if (!parseInteger(text, low, high, value))
        return false;
    target = T(value);
    return true;
}

template <typename T>
bool parseOptional(const std::string& text, long long low, long long high, std::optional<T>& target)
{
    T value{};
    if (!parseInto(text, low, high, value))
        return false;
    target = value;
    return true;
}

bool parseOptionalSeconds(const std::string& text, std::optional<double>& target)
{
    double value = 0;
    if (!parseSeconds(text, value))
        return false;
    target = value;
    return true;
}

// Paths travel NUL-terminated in a 256-byte field.
bool fitsPathField(const std::string& text)
{
    return text.size() < kPathPayloadSize;
}

bool parsePath(const std::string& text, std::optional<std::string>& target)
{
    target = text;
    return fitsPathField(text);
}

bool parseCompat(const std::string& text, CompatMask& mask)
{
    Bytes bytes;
    if (!parseHex(text, bytes) || bytes.size() != mask.size())
        return false;
    std::copy(bytes.begin(), bytes.end(), mask.begin());
    return true;
}

bool parseCredential(const std::string& text, std::string& target)
{
    target = text;
    return text.size() <= kLoginFieldSize;
}

struct ValueOption {
    const char* name;
    const char* expected;
    bool (*apply)(const std::string& value, Options& options);
};

const ValueOption kValueOptions[] = {
    {"--host", "a host name",
     [](const std::string& v, Options& o) { o.host = v; return !v.empty(); }},
    {"--port", "a port 1..65533",
     [](const std::string& v, Options& o) { return parseInto(v, 1, kMaxBasePort, o.basePort); }},
    {"--transport", "tcp, udt, tcp-nomarker or 0..255",
     [](const std::string& v, Options& o) { return parseTransport(v, o.transportByte); }},
    {"--timeout", "a positive number of seconds",
     [](const std::string& v, Options& o) { return parseSeconds(v, o.timeoutSeconds); }},
    {"--user", "at most 32 bytes",
     [](const std::string& v, Options& o) { return parseCredential(v, o.user); }},
    {"--password", "at most 32 bytes",
     [](const std::string& v, Options& o) { return parseCredential(v, o.password); }},
    {"--compat", "32 hex digits",
     [](const std::string& v, Options& o) { return parseCompat(v, o.compat); }},
    {"--raw-wait", "milliseconds 1..600000",
     [](const std::string& v, Options& o) { return parseInto(v, 1, 600000, o.rawWaitMs); }},
    {"--quality", "0..15",
     [](const std::string& v, Options& o) { return parseInto(v, 0, 15, o.stream.quality); }},
    {"--size", "WIDTHxHEIGHT",
     [](const std::string& v, Options& o) { return parseSize(v, o.stream); }},
    {"--size-class", "0..15",
     [](const std::string& v, Options& o) { return parseInto(v, 0, 15, o.stream.sizeClass); }},
    {"--profile", "a byte 0..255",
     [](const std::string& v, Options& o) { return parseOptional(v, 0, 255, o.stream.profile); }},
    {"--bitrate", "kbit/s 0..2147483647",
     [](const std::string& v, Options& o) { return parseInto(v, 0, INT32_MAX, o.stream.bitrateKbps); }},
    {"--codec", "mpeg4, h264, h263 or 0..255",
     [](const std::string& v, Options& o) { return parseCodec(v, o.stream.codec); }},
    {"--audio-format", "a byte 0..255",
     [](const std::string& v, Options& o) { return parseInto(v, 0, 255, o.stream.audioFormat); }},
    {"--start", "seconds 0..2147483647",
     [](const std::string& v, Options& o) { return parseInto(v, 0, INT32_MAX, o.stream.startSeconds); }},
    {"--video-stream", "-128..127",
     [](const std::string& v, Options& o) { return parseInto(v, -128, 127, o.stream.videoNumber); }},
    {"--audio-stream", "-128..127",
     [](const std::string& v, Options& o) { return parseInto(v, -128, 127, o.stream.audioNumber); }},
    {"--subtitle-stream", "-128..127",
     [](const std::string& v, Options& o) { return parseInto(v, -128, 127, o.stream.subtitleNumber); }},
    {"--subtitle-file", "a path of at most 255 bytes",
     [](const std::string& v, Options& o) { return parsePath(v, o.stream.subtitleFile); }},
    {"--seconds", "a positive number of seconds",
     [](const std::string& v, Options& o) { return parseOptionalSeconds(v, o.stream.seconds); }},
    {"--out", "a file name prefix",
     [](const std::string& v, Options& o) { o.stream.outPrefix = v; return !v.empty(); }},
};

struct FlagOption {
    const char* name;
    void (*apply)(Options& options);
};

const FlagOption kFlagOptions[] = {
    {"--no-login", [](Options& o) { o.login = false; }},
    {"--no-disconnect", [](Options& o) { o.disconnect = false; }},
    {"--keep-going", [](Options& o) { o.keepGoing = true; }},
    {"--cc", [](Options& o) { o.stream.captions = true; }},
};

bool applyOption(const Args& args, size_t& at, Options& options, std::string& error)
{
    const std::string& arg = args[at++];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    for (const auto& flag : kFlagOptions) {
        if (name == flag.name && equals == std::string::npos) {
            flag.apply(options);
            return true;
        }
    }
    for (const auto& option : kValueOptions) {
        if (name != option.name)
            continue;
        if (equals == std::string::npos && at >= args.size()) {
            error = name + " needs a value (" + option.expected + ")";
            return false;
        }
        const std::string value = equals == std::string::npos ? args[at++] : arg.substr(equals + 1);
        if (!option.apply(value, options))
            error = "bad value '" + value + "' for " + name + ": expected " + option.expected;
        return error.empty();
    }
    error = "unknown option " + arg + " (see --help)";
    return false;
}

enum class Pattern { None, Path, Channel, Row, Seconds, Captions, AddSchedule, ModifySchedule, Raw };

struct StepSyntax {
    const char* name;
    StepKind kind;
    Pattern pattern;
    const char* usage;
};

const StepSyntax kSteps[] = {
    {"login", StepKind::Login, Pattern::None, "login"},
    {"channels", StepKind::Channels, Pattern::None, "channels"},
    {"channel0", StepKind::Channel0, Pattern::None, "channel0"},
    {"ls", StepKind::ListMedia, Pattern::Path, "ls PATH"},
    {"subs", StepKind::ListSubtitles, Pattern::Path, "subs PATH"},
    {"info", StepKind::FileInfo, Pattern::Path, "info PATH"},
    {"live", StepKind::Live, Pattern::Channel, "live CHANNEL"},
    {"file", StepKind::File, Pattern::Path, "file PATH"},
    {"record", StepKind::Record, Pattern::Channel, "record CHANNEL"},
    {"stop-record", StepKind::StopRecord, Pattern::None, "stop-record"},
    {"clear-record", StepKind::ClearRecord, Pattern::None, "clear-record"},
    {"status", StepKind::Status, Pattern::None, "status"},
    {"monitor", StepKind::Monitor, Pattern::Channel, "monitor CHANNEL"},
    {"motion", StepKind::Motion, Pattern::None, "motion"},
    {"schedules", StepKind::Schedules, Pattern::None, "schedules"},
    {"add-schedule", StepKind::AddSchedule, Pattern::AddSchedule,
     "add-schedule CHANNEL START END (CHANNEL 0..65535, times as YYYY-MM-DDTHH:MM)"},
    {"modify-schedule", StepKind::ModifySchedule, Pattern::ModifySchedule,
     "modify-schedule ROW CHANNEL START END (ROW, CHANNEL 0..65535, times as YYYY-MM-DDTHH:MM)"},
    {"delete-schedule", StepKind::DeleteSchedule, Pattern::Row, "delete-schedule ROW (0..65535)"},
    {"captions", StepKind::Captions, Pattern::Captions, "captions on|off|BYTE"},
    {"raw", StepKind::Raw, Pattern::Raw, "raw HEX... (whole bytes in hex, e.g. AA EA)"},
    {"wait", StepKind::Wait, Pattern::Seconds, "wait SECONDS (0..3600)"},
};

// Subcommand arguments follow their subcommand; anything starting with "--"
// is an option, so negative channel numbers still work.
bool takeArgument(const Args& args, size_t& at, std::string& value)
{
    if (at >= args.size() || args[at].starts_with("--"))
        return false;
    value = args[at++];
    return true;
}

bool takeNumber(const Args& args, size_t& at, long long low, long long high, long long& value)
{
    std::string text;
    return takeArgument(args, at, text) && parseInteger(text, low, high, value);
}

bool takeSchedule(const Args& args, size_t& at, bool withRow, ScheduleRequest& schedule)
{
    long long row = 0;
    long long channel = 0;
    std::string start;
    std::string end;
    if ((withRow && !takeNumber(args, at, 0, 65535, row)) || !takeNumber(args, at, 0, 65535, channel)
        || !takeArgument(args, at, start) || !takeArgument(args, at, end))
        return false;
    schedule.row = uint16_t(row);
    schedule.channel = uint16_t(channel);
    return parseScheduleTime(start, schedule.start) && parseScheduleTime(end, schedule.end);
}

bool takeCaptions(const Args& args, size_t& at, int32_t& flag)
{
    std::string text;
    long long value = 0;
    if (!takeArgument(args, at, text))
        return false;
    if (text == "on" || text == "off") {
        flag = text == "on" ? 1 : 0;
        return true;
    }
    if (!parseInteger(text, 0, 255, value))
        return false;
    flag = int32_t(value);
    return true;
}

bool takeRaw(const Args& args, size_t& at, Bytes& raw)
{
    while (at < args.size() && !args[at].starts_with("--") && parseHex(args[at], raw))
        ++at;
    return !raw.empty();
}

bool takeStepArguments(Pattern pattern, const Args& args, size_t& at, Step& step)
{
    long long number = 0;
    switch (pattern) {
    case Pattern::None: return true;
    case Pattern::Path: return takeArgument(args, at, step.path) && fitsPathField(step.path);
    case Pattern::Channel:
        if (!takeNumber(args, at, INT32_MIN, INT32_MAX, number))
            return false;
        step.number = int32_t(number);
        return true;
    case Pattern::Row:
        if (!takeNumber(args, at, 0, 65535, number))
            return false;
        step.number = int32_t(number);
        return true;
    case Pattern::Seconds:
        if (!takeNumber(args, at, 0, 3600, number))
            return false;
        step.number = int32_t(number);
        return true;
    case Pattern::Captions: return takeCaptions(args, at, step.number);
    case Pattern::AddSchedule: return takeSchedule(args, at, false, step.schedule);
    case Pattern::ModifySchedule: return takeSchedule(args, at, true, step.schedule);
    case Pattern::Raw: return takeRaw(args, at, step.raw);
    }
    return false;
}

bool parseStep(const Args& args, size_t& at, Options& options, std::string& error)
{
    const std::string& name = args[at++];
    for (const auto& syntax : kSteps) {
        if (name != syntax.name)
            continue;
        Step step;
        step.kind = syntax.kind;
        if (!takeStepArguments(syntax.pattern, args, at, step)) {
            error = std::string("bad arguments for ") + syntax.name + "; usage: " + syntax.usage;
            return false;
        }
        options.steps.push_back(std::move(step));
        return true;
    }
    error = "unknown subcommand '" + name + "' (see --help)";
    return false;
}

bool wantsHelp(const Args& args)
{
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "-h" || a == "--help"; });
}

}  // namespace

ParseResult parseArguments(int argc, char** argv, Options& options, std::string& error)
{
    const Args args(argv + 1, argv + argc);
    if (wantsHelp(args))
        return ParseResult::Help;
    for (size_t at = 0; at < args.size();) {
        const bool parsed = args[at].starts_with("--") ? applyOption(args, at, options, error)
                                                       : parseStep(args, at, options, error);
        if (!parsed)
            return ParseResult::Error;
    }
    if (options.steps.empty()) {
        error = "no subcommand given (see --help)";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

}  // namespace handheld
