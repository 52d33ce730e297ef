// Settings files as they may be found on disk: cut short, from another
// version, damaged or made by hand. Loading one must never read past it.
// Most random files would fail the checksum at once, so the harness makes
// the checksum right; the first two input bytes choose the file's length
// near the sizes of the three stored layouts, and the rest fill the file
// from the version field on, repeated.

#include "config/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// 4 + main record + 1000 channel records, for the layouts of versions 0, 1, 2.
constexpr size_t kLayoutFileSizes[] = {4 + 18848 + 620000, 4 + 18556 + 620000, 4 + 18560 + 620000};

std::string PrepareFolder()
{
    static char folder[] = "/tmp/orvandel-fuzz-settings.XXXXXX";
    if (!::mkdtemp(folder))
        std::abort();
    ::setenv("XDG_CONFIG_HOME", folder, 1);
    ::setenv("HOME", folder, 1);
    const std::string path = SettingsFilePath();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    return path;
}

std::vector<uint8_t> FileImage(const uint8_t* data, size_t size)
{
    const size_t choice = size >= 2 ? data[0] | data[1] << 8 : 0;
    // Lengths just around each layout's size, and short ones.
    const size_t base = choice % 4 == 3 ? 0 : kLayoutFileSizes[choice % 4];
    const size_t length = base + (choice >> 2) % 64 - (base ? 32 : 0);
    std::vector<uint8_t> image(length);
    const uint8_t* fill = size > 2 ? data + 2 : nullptr;
    const size_t fillSize = size > 2 ? size - 2 : 0;
    for (size_t i = 4; fill && i < image.size(); ++i)
        image[i] = fill[(i - 4) % fillSize];
    if (image.size() >= 4) {
        const int32_t sum = SettingsChecksum(image.data() + 4, image.size() - 4);
        std::memcpy(image.data(), &sum, 4);
    }
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = PrepareFolder();
    const std::vector<uint8_t> image = FileImage(data, size);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    std::fwrite(image.data(), 1, image.size(), file);
    std::fclose(file);
    SetDefaultSettings();
    LoadSettings();
    return 0;
}
