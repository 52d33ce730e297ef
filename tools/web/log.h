// The gateway's log: one line per event on standard error, which the
// journal keeps when it runs as a service.
#pragma once

#include <string>

namespace web {

void logLine(const std::string& text);

}  // namespace web
