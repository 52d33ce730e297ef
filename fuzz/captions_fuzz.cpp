// Line-21 byte pairs as a weak or hostile signal may carry them: the
// decoder takes batches of any content, and what it would show stays within
// its 15 rows of 32 columns.

#include "capture/captions.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetCaptionDecoder();
    // Batches as the caption callback hands them over: 16 bytes or more.
    const size_t batch = size > 0 ? 16 + data[0] % 32 : 16;
    for (size_t at = size > 0 ? 1 : 0; at < size; at += batch)
        DecodeCaptions(data + at, static_cast<int>(std::min(batch, size - at)));
    const QStringList lines = VisibleCaptionLines();
    if (lines.size() > 15)
        std::abort();
    for (const QString& line : lines)
        if (line.size() > 32)
            std::abort();
    for (int row = 0; row < 15; ++row)
        if (CaptionRowText(row).size() > 32)
            std::abort();
    return 0;
}
