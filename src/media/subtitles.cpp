#include "media/subtitles.h"

#include "shared/live_params.h"
#include "media/files.h"

#include <cstring>
#include <string>

SubtitleTable gSubtitles;

namespace {

// Far beyond any real subtitle file: 8,192 entries of 511 characters.
constexpr size_t kMaxSubtitleFileSize = 64 * 1024 * 1024;

} // namespace

int LoadSubtitleFile(const std::string& path)
{
    std::string contents;
    if (ReadRegularFile(path, kMaxSubtitleFileSize, contents) != 0)
        return -1;
    std::memset(&gSubtitles, 0, sizeof gSubtitles);
    gLiveParams.subtitleKind = kSubtitleKindFile;
    if (!contents.empty()) {
        contents.back() = 0;
        FillSubtitleTable(contents.data(), contents.size(), gSubtitles);
    }
    return 0;
}
