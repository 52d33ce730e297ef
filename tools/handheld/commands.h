// Requests on the control connection and the subcommands built on them.
#pragma once

#include "commander.h"
#include "options.h"
#include "report.h"

#include <array>
#include <span>
#include <string_view>

namespace handheld {

// Prints "<key>_code=0x.." and tells whether the server accepted the request.
Status checkCode(std::string_view key, const Reply& reply, uint8_t command);
// A request whose reply carries nothing but its code.
Status simpleRequest(Commander& commander, std::string_view key, uint8_t command,
                     std::span<const uint8_t> payload);

Status login(Commander& commander, const Options& options);
Status runStep(Commander& commander, const Options& options, const Step& step);
void disconnect(Commander& commander);

}  // namespace handheld
