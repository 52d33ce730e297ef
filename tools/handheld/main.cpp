// orvandel-handheld: a command-line stand-in for the handheld player, for
// checking a server by hand and for driving it from tests.
#include "commands.h"
#include "links.h"
#include "options.h"
#include "report.h"

#include <algorithm>
#include <cstdio>

namespace handheld {
namespace {

const char* transportName(uint8_t byte)
{
    if (byte == kTransportUdt)
        return "udt";
    return byte == kTransportTcp ? "tcp" : "tcp-nomarker";
}

bool hasLoginStep(const Options& options)
{
    return std::any_of(options.steps.begin(), options.steps.end(),
                       [](const Step& step) { return step.kind == StepKind::Login; });
}

// A broken connection ends the sequence even with --keep-going: every later
// step would only fail the same way.
Status runSteps(Commander& commander, const Options& options)
{
    Status status = kOk;
    if (options.login && !hasLoginStep(options))
        status = login(commander, options);
    for (const Step& step : options.steps) {
        if (status == kFailed || (status != kOk && !options.keepGoing))
            break;
        status = worse(status, runStep(commander, options, step));
    }
    return status;
}

Status runClient(const Options& options)
{
    const auto timeout = Millis(static_cast<long long>(options.timeoutSeconds * 1000));
    const SessionSettings settings{options.host, options.basePort, options.transportByte, timeout};
    Session session;
    std::string error;
    if (!openSession(settings, session, error)) {
        printError(error);
        return kFailed;
    }
    printText("transport", transportName(options.transportByte));
    printCode("transport_byte", options.transportByte);
    Commander commander(session, [](const std::string& message) { printError(message); });
    const Status status = runSteps(commander, options);
    if (options.disconnect)
        disconnect(commander);
    printNumber("exit_status", status);
    return status;
}

}  // namespace
}  // namespace handheld

int main(int argc, char** argv)
{
    using namespace handheld;
    Options options;
    std::string error;
    switch (parseArguments(argc, argv, options, error)) {
    case ParseResult::Help:
        std::fputs(usageText(), stdout);
        return kOk;
    case ParseResult::Error:
        printError(error);
        return kUsage;
    case ParseResult::Run:
        break;
    }
    return runClient(options);
}
