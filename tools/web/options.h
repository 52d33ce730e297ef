// The command line of orvandel-web.
#pragma once

#include "gateway.h"

#include <QStringList>

namespace web {

enum class ParseResult { Run, Help, Error };

// On Error, `error` holds a one-line explanation.
ParseResult parseArguments(const QStringList& arguments, GatewaySettings& settings, QString& error);
const char* usageText();

}  // namespace web
