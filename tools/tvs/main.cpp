// orvandel-tvs: makes .tvs files from media files, as the Encode File
// dialog does, and reads them back: their fields, their streams, or an
// ordinary container that plays on the PC.

#include "commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kUsage[] = R"(Usage:
  orvandel-tvs encode INPUT OUTPUT [--resolution low|medium|high]
                                   [--bitrate high|medium|low]
                                   [--start TIME] [--end TIME] [--force]
      Converts a media file into a .tvs file for offline playback, as the
      Encode File dialog does. OUTPUT gets ".tvs" unless it contains it.
      TIME is seconds or H:MM:SS; --end is the end position in the clip
      (default: its end). Resolution and bit rate default to medium; the
      high bit rate is the custom rate of the handheld. An existing OUTPUT
      is overwritten with --force, or after a question on a terminal.
      Ctrl+C stops early and leaves a playable, shorter file.
      Example: orvandel-tvs encode film.mp4 film --start 0:01:00 --end 0:05:00
  orvandel-tvs info FILE
      The header fields, the packets by kind, the seek index and the
      duration, as key=value lines.
  orvandel-tvs extract FILE PREFIX
      Writes the streams to PREFIX.m4v (or .h264, .h263), PREFIX.mp3 and,
      with subtitle records, PREFIX.subs (one record per line).
  orvandel-tvs remux FILE OUTPUT.mkv
      Puts the streams into a Matroska file that plays on the PC.

Exit status: 0 when done, 1 when refused or failed, 2 on a bad command line.
)";

int Usage(const char* problem)
{
    std::fprintf(stderr, "orvandel-tvs: %s\n\n%s", problem, kUsage);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty())
        return Usage("a command is missing");
    const std::string command = arguments.front();
    arguments.erase(arguments.begin());
    if (command == "-h" || command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "encode")
        return EncodeCommand(arguments);
    if (command == "info" && arguments.size() == 1)
        return InfoCommand(arguments[0]);
    if (command == "extract" && arguments.size() == 2)
        return ExtractCommand(arguments[0], arguments[1]);
    if (command == "remux" && arguments.size() == 2)
        return RemuxCommand(arguments[0], arguments[1]);
    return Usage(("unknown command or wrong arguments: " + command).c_str());
}
