// Answers of the web services as any server, or anything between it and
// this machine, may send them: the broker list, the status of an account
// request, and ExtractText with a start pattern, stop and skip lists that
// the input itself chooses (its first three NUL-ended pieces).

#include "net/connectivity.h"
#include "net/web_client.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// The next NUL-ended piece of the input, as a list of one string ended by
// an empty one.
std::string TakeList(std::string_view& input)
{
    const size_t end = std::min(input.find('\0'), input.size());
    std::string list(input.substr(0, end));
    input.remove_prefix(std::min(end + 1, input.size()));
    return list + std::string(2, '\0');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    for (const Broker& broker : ParseBrokerList(input))
        if (broker.host.empty() || broker.host.size() >= 128 || broker.address.size() >= 32)
            std::abort();
    StatusInResponse(input);

    const std::string pattern = TakeList(input);
    const std::string stops = TakeList(input);
    const std::string skips = TakeList(input);
    const TextExtraction what{.startPattern = pattern[0] ? pattern.c_str() : nullptr,
                              .startOffset = pattern.size() % 7,
                              .stopStrings = stops.c_str(),
                              .skipStrings = skips.c_str(),
                              .digitsOnly = skips.size() % 2 == 1};
    char output[64];
    size_t end = 0;
    if (ExtractText(input, output, what, &end) == 0 &&
        (end > input.size() + what.startOffset || strnlen(output, sizeof output) == sizeof output))
        std::abort();
    return 0;
}
