#include "media/subtitles.h"

#include <cstdio>
#include <cstring>

namespace {

// sscanf measures the whole rest of the text before it scans; a bounded
// copy of the line keeps a huge file without blank lines linear.
constexpr size_t kTimingScanSize = 512;

int32_t Milliseconds(int hours, int minutes, int seconds, int milliseconds)
{
    const int64_t total = (int64_t{hours} * 3600 + int64_t{minutes} * 60 + seconds) * 1000 + milliseconds;
    return static_cast<int32_t>(total);
}

// Past the line feed that ends the line at line, or end when none comes first.
char* NextLine(char* line, char* end)
{
    char* feed = static_cast<char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
    return feed ? feed + 1 : end;
}

// The block at start runs to its first blank line, which is zeroed (both
// characters of CR LF). Returns the block's end and sets where the next begins.
char* EndBlock(char* start, char* end, char*& next)
{
    for (char* line = start; line < end; line = NextLine(line, end)) {
        if (*line != '\r' && *line != '\n')
            continue;
        const bool pair = line[0] == '\r' && line + 1 < end && line[1] == '\n';
        line[0] = 0;
        if (pair)
            line[1] = 0;
        next = line + (pair ? 2 : 1);
        return line;
    }
    next = end;
    return end;
}

// The first line of the block that parses as a timing line gives the entry.
bool StoreBlock(char* block, char* blockEnd, SubtitleEntry& entry)
{
    for (char* line = block; line < blockEnd; line = NextLine(line, blockEnd)) {
        int32_t start = 0;
        int32_t stop = 0;
        if (!ParseSubtitleTiming(line, start, stop))
            continue;
        entry.startMs = start;
        entry.endMs = stop;
        const size_t length = strnlen(line, static_cast<size_t>(blockEnd - line));
        const size_t copied = length < kSubtitleTextSize - 1 ? length : kSubtitleTextSize - 1;
        std::memcpy(entry.text, line, copied);
        entry.text[copied] = 0;
        return true;
    }
    return false;
}

} // namespace

const char* ParseSubtitleTiming(const char* text, int32_t& startMs, int32_t& endMs)
{
    char line[kTimingScanSize];
    const size_t length = strnlen(text, sizeof line - 1);
    std::memcpy(line, text, length);
    line[length] = 0;
    int h1 = 0, m1 = 0, s1 = 0, ms1 = 0, h2 = 0, m2 = 0, s2 = 0, ms2 = 0;
    unsigned x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    int timesEnd = 0;
    const int fields = std::sscanf(line, "%d:%2d:%2d%*1[,.]%3d --> %d:%2d:%2d%*1[,.]%3d%n%*[ ]X1:%u X2:%u Y1:%u Y2:%u",
                                   &h1, &m1, &s1, &ms1, &h2, &m2, &s2, &ms2, &timesEnd, &x1, &x2, &y1, &y2);
    if (fields < 8)
        return nullptr;
    startMs = Milliseconds(h1, m1, s1, ms1);
    endMs = Milliseconds(h2, m2, s2, ms2);
    const char* feed = std::strchr(text + timesEnd, '\n');
    return feed ? feed + 1 : text + timesEnd + std::strlen(text + timesEnd);
}

int32_t FillSubtitleTable(char* text, size_t size, SubtitleTable& table)
{
    char* const end = text + size - 1;
    int32_t count = 0;
    for (char* block = text; block < end && count < kMaxSubtitleEntries;) {
        char* next = end;
        char* const blockEnd = EndBlock(block, end, next);
        if (StoreBlock(block, blockEnd, table.entries[count]))
            ++count;
        block = next;
    }
    table.count = count;
    return count;
}
