// .tvs files from anywhere: orvandel-tvs reads them packet by packet and
// must name what is wrong with a damaged one, never crash on it or loop.

#include "tvs_reader.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string PreparePath()
{
    static char folder[] = "/tmp/orvandel-fuzz-tvs.XXXXXX";
    if (!::mkdtemp(folder))
        std::abort();
    return std::string(folder) + "/input.tvs";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = PreparePath();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    tvs::Reader reader;
    if (!reader.Open(path))
        return 0;
    tvs::Packet packet;
    uint64_t lastOffset = 0;
    size_t packets = 0;
    while (reader.Next(packet)) {
        // Every packet starts further into the file than the one before.
        if ((packets++ > 0 && packet.offset <= lastOffset) || packet.offset >= reader.FileSize())
            std::abort();
        lastOffset = packet.offset;
    }
    reader.ReadIndex();
    return 0;
}
