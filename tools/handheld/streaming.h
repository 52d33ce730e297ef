// Live and file streams: start, receive, stop, and the summary of what came.
#pragma once

#include "commands.h"

namespace handheld {

Status runLiveStream(Commander& commander, const StreamOptions& options, int32_t channel);
Status runFileStream(Commander& commander, const StreamOptions& options, const std::string& path);

}  // namespace handheld
