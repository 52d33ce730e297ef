#include "support/temp_config.h"

#include "config/settings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string GetEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

void RestoreEnv(const char* name, const std::string& value)
{
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
}

} // namespace

TempConfig::TempConfig() : savedHome_(GetEnv("HOME")), savedConfigHome_(GetEnv("XDG_CONFIG_HOME"))
{
    std::string pattern = (fs::temp_directory_path() / "orvandel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    root_ = pattern;
    fs::create_directories(root_ + "/home");
    setenv("HOME", (root_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
}

TempConfig::~TempConfig()
{
    RestoreEnv("HOME", savedHome_);
    RestoreEnv("XDG_CONFIG_HOME", savedConfigHome_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int CountInFile(const std::string& path, const std::string& text)
{
    const std::string bytes = ReadFileBytes(path);
    int count = 0;
    for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + 1))
        ++count;
    return count;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void StoreTestAccount()
{
    SettingsRecord& record = gSettings.record;
    StoreScrambled(record.email, sizeof record.email, "viewer@example.org");
    StoreScrambled(record.userName, sizeof record.userName, "viewer");
    StoreScrambled(record.password, sizeof record.password, "secret");
}
