#include "platform/paths.h"

#include "platform/log.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string EnvOrEmpty(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string ConfigHome()
{
    std::string configHome = EnvOrEmpty("XDG_CONFIG_HOME");
    return configHome.empty() ? HomeDir() + "/.config" : configHome;
}

// The videos entry of user-dirs.dirs, with $HOME expanded; empty without one.
std::string VideosDirFromUserDirs()
{
    std::ifstream userDirs(ConfigHome() + "/user-dirs.dirs");
    const std::string_view key = "XDG_VIDEOS_DIR=";
    std::string line;
    while (std::getline(userDirs, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = HomeDir() + value.substr(5);
        return value;
    }
    return "";
}

} // namespace

std::string HomeDir()
{
    std::string home = EnvOrEmpty("HOME");
    if (!home.empty())
        return home;
    const passwd* entry = getpwuid(getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "/";
}

std::string ConfigDir()
{
    return ConfigHome() + "/orvandel";
}

std::string VideosDir()
{
    std::string videos = VideosDirFromUserDirs();
    if (videos.empty())
        videos = HomeDir() + "/Videos";
    return MakeFolders(videos) == 0 ? videos : HomeDir();
}

std::string ExecutablePath()
{
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? "" : path.string();
}

std::string AutostartEntryPath()
{
    return ConfigHome() + "/autostart/orvandel.desktop";
}

bool AutostartEntryExists()
{
    std::error_code error;
    return fs::exists(AutostartEntryPath(), error);
}

int WriteAutostartEntry(const std::string& command)
{
    const std::string path = AutostartEntryPath();
    if (MakeFolders(fs::path(path).parent_path().string()) != 0)
        return -1;
    std::ofstream entry(path, std::ios::trunc);
    entry << "[Desktop Entry]\n"
             "Type=Application\n"
             "Name=Orvandel\n"
             "Comment=Streams live TV and media files to your handheld\n"
             "Exec="
          << command << "\n"
                        "X-GNOME-Autostart-enabled=true\n";
    entry.flush();
    return entry ? 0 : -1;
}

std::string DesktopExecProgram(const std::string& path)
{
    const bool quoted = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string text;
    for (const char c : path) {
        if (c == '%')
            text += "%%";
        else if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\'))
            text += std::string("\\") + c;
        else
            text += c;
    }
    return quoted ? "\"" + text + "\"" : text;
}

int RemoveAutostartEntry()
{
    std::error_code error;
    fs::remove(AutostartEntryPath(), error);
    return error ? -1 : 0;
}

int AuthorizeInFirewall(const std::string&)
{
    return 0;
}

int MakeFolders(const std::string& path)
{
    std::error_code error;
    fs::create_directories(path, error);
    if (!error && fs::is_directory(path, error))
        return 0;
    Log("The folder " + path + " could not be made: " + (error ? error.message() : "a file has its name"));
    return -1;
}
