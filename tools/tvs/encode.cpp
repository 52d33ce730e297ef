// orvandel-tvs encode: the Encode File dialog's work without a window, with
// the same checks, messages and pipeline.

#include "commands.h"

#include "config/settings.h"
#include "encode/stream_buffers.h"
#include "media/media_info.h"
#include "server/tvs_encoding.h"
#include "shared/live_params.h"
#include "shared/resources.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> interrupted{false};

void OnInterrupt(int)
{
    interrupted = true;
}

// Seconds, or H:MM:SS.
std::optional<int> ParseTime(const std::string& text)
{
    unsigned hours = 0;
    unsigned minutes = 0;
    unsigned seconds = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%u:%u:%u%c", &hours, &minutes, &seconds, &end) == 3 && minutes < 60 &&
        seconds < 60 && hours < 100)
        return static_cast<int>(hours * 3600 + minutes * 60 + seconds);
    if (std::sscanf(text.c_str(), "%u%c", &seconds, &end) == 1 && seconds < 100 * 3600)
        return static_cast<int>(seconds);
    return std::nullopt;
}

std::optional<int> ParseChoice(const std::string& text, const char* const (&names)[3])
{
    for (int i = 0; i < 3; ++i)
        if (text == names[i])
            return i;
    return std::nullopt;
}

struct EncodeOptions {
    TvsRequest request;
    bool endGiven = false;
    bool force = false;
};

bool ParseOptions(const std::vector<std::string>& arguments, EncodeOptions& options, std::string& problem)
{
    static const char* const kResolutions[3] = {"low", "medium", "high"};
    static const char* const kBitRates[3] = {"high", "medium", "low"};
    std::vector<std::string> paths;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        std::optional<int> value;
        if (argument == "--force") {
            options.force = true;
            continue;
        }
        if (argument == "--resolution" && hasValue && (value = ParseChoice(arguments[++i], kResolutions)))
            options.request.resolution = *value;
        else if (argument == "--bitrate" && hasValue && (value = ParseChoice(arguments[++i], kBitRates)))
            options.request.bitRate = *value;
        else if (argument == "--start" && hasValue && (value = ParseTime(arguments[++i])))
            options.request.startSeconds = *value;
        else if (argument == "--end" && hasValue && (value = ParseTime(arguments[++i]))) {
            options.request.endSeconds = *value;
            options.endGiven = true;
        } else if (!argument.starts_with("--"))
            paths.push_back(argument);
        else {
            problem = "bad option or value: " + argument;
            return false;
        }
    }
    if (paths.size() != 2) {
        problem = "encode needs an INPUT and an OUTPUT";
        return false;
    }
    options.request.inputPath = paths[0];
    options.request.outputPath = paths[1];
    return true;
}

// As the dialog fills its duration fields: the whole seconds of the file.
int ClipSeconds(const std::string& path)
{
    MediaInfoRecord record{};
    if (GetMediaInfo(path, record) != 0)
        return 0;
    return record.hours * 3600 + record.minutes * 60 + record.seconds;
}

bool Confirm(const char* question, bool force)
{
    if (force)
        return true;
    if (!::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s\nNot overwritten: give --force to overwrite without a terminal.\n", question);
        return false;
    }
    std::fprintf(stderr, "%s [y/N] ", question);
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

void ShowProgress(const TvsEncoding& encoding, Clock::time_point started)
{
    constexpr int kBarWidth = 40;
    const double percent = std::min(100.0, encoding.Percent());
    const int filled = static_cast<int>(percent * kBarWidth / 100);
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    const int left = percent > 0 ? static_cast<int>(elapsed * (100 - percent) / percent) : 0;
    std::fprintf(stderr, "\r[%s%s] %6.2f%%  %d:%02d:%02d left ", std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, '.').c_str(), percent, left / 3600, left / 60 % 60, left % 60);
}

int RunEncoding(const TvsRequest& request, int duration)
{
    TvsEncoding encoding;
    const std::string refusal = encoding.Start(request, duration);
    if (!refusal.empty()) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        return kExitRefused;
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const bool terminal = ::isatty(STDERR_FILENO);
    const auto started = Clock::now();
    while (!encoding.Done() && !interrupted) {
        if (terminal)
            ShowProgress(encoding, started);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const bool done = encoding.Done();
    encoding.Finish();
    if (terminal)
        std::fputs("\n", stderr);
    std::printf("output=%s\nstatus=%s\nseconds=%d\n", request.outputPath.c_str(), done ? "done" : "stopped",
                encoding.PositionSeconds());
    return kExitDone;
}

} // namespace

int EncodeCommand(const std::vector<std::string>& arguments)
{
    EncodeOptions options;
    std::string problem;
    if (!ParseOptions(arguments, options, problem)) {
        std::fprintf(stderr, "orvandel-tvs: %s (see orvandel-tvs --help)\n", problem.c_str());
        return kExitUsage;
    }
    av_log_set_level(AV_LOG_ERROR);
    SetDefaultSettings();
    SetDefaultEncoderParams();
    if (AllocateLargeBuffers() != 0) {
        std::fputs("Out of memory!\n", stderr);
        return kExitRefused;
    }
    AttachStreamBuffers();
    if (!options.endGiven)
        options.request.endSeconds = ClipSeconds(options.request.inputPath);
    const TvsCheck check =
        CheckTvsRequest(options.request, [&](const char* question) { return Confirm(question, options.force); });
    int status = kExitRefused;
    if (check.go)
        status = RunEncoding(options.request, check.durationSeconds);
    else if (!check.refusal.empty())
        std::fprintf(stderr, "%s\n", check.refusal.c_str());
    FreeLargeBuffers();
    return status;
}
