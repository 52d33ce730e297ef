// Subtitle files from anywhere: the bytes reach the parser as
// LoadSubtitleFile hands them over, in a buffer of their own size whose last
// byte is the terminator, so that any read past it is caught.

#include "media/subtitles.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

SubtitleTable table;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::unique_ptr<char[]> text(new char[size]);
    std::memcpy(text.get(), data, size);
    text[size - 1] = 0;
    int32_t start = 0;
    int32_t end = 0;
    const char* after = ParseSubtitleTiming(text.get(), start, end);
    if (after && (after < text.get() || after > text.get() + size - 1))
        std::abort();
    const int32_t count = FillSubtitleTable(text.get(), size, table);
    if (count < 0 || count > kMaxSubtitleEntries || count != table.count)
        std::abort();
    for (int32_t i = 0; i < count; ++i)
        if (strnlen(table.entries[i].text, kSubtitleTextSize) == kSubtitleTextSize)
            std::abort();
    return 0;
}
