// A download is gathered as the fragmented MP4 the page plays, then written
// out as an ordinary MP4 with its index at the front, which every player
// opens and can start before the whole file has arrived.
#pragma once

#include <string>

namespace web {

// Copies the tracks of `fragmented` into `target`, up to `seconds` of them
// when that is above 0; false with the reason.
bool writePlainMp4(const std::string& fragmented, const std::string& target, double seconds, std::string& error);

}  // namespace web
