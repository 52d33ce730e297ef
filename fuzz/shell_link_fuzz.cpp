// Shell link files from anywhere. libFuzzer hands over a buffer of exactly
// the input's size, so any read past it is caught.

#include "media/shell_link.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string target;
    const int result = ParseShellLink(data, size, target);
    if (result != 0 && result != -1)
        std::abort();
    if ((result == 0) == target.empty())
        std::abort();
    return 0;
}
