#include "config/network_sources.h"

#include "config/settings.h"
#include "platform/log.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kSchemes[] = {"rtsp://", "rtsps://", "http://", "https://", "udp://", "rtp://", "file:"};

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool KnownScheme(const std::string& url)
{
    return std::any_of(std::begin(kSchemes), std::end(kSchemes),
                       [&](const char* scheme) { return url.starts_with(scheme); });
}

// The title: what follows the first comma outside the quoted attributes.
std::string ExtinfName(const std::string& line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ',' && !quoted)
            return Trimmed(line.substr(i + 1));
    }
    return {};
}

} // namespace

std::string NetworkSourcesPath()
{
    return ConfigDir() + "/Sources.ini";
}

std::vector<NetworkSourceDescription> ParseNetworkSources(const std::string& text)
{
    std::vector<NetworkSourceDescription> sources;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = Trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            sources.push_back({line.substr(1, line.size() - 2), "", true});
        } else if (!sources.empty() && line.starts_with("url=")) {
            sources.back().url = Trimmed(line.substr(4));
        } else if (!sources.empty() && line.starts_with("sound=")) {
            sources.back().sound = Trimmed(line.substr(6)) != "no";
        } else {
            // Not the line itself: it may hold a password.
            Log(NetworkSourcesPath() + ", line " + std::to_string(number) + " is not understood and is left out.");
        }
    }
    const auto withoutUrl = std::remove_if(sources.begin(), sources.end(), [](const NetworkSourceDescription& source) {
        if (source.url.empty())
            Log(NetworkSourcesPath() + ": the source \"" + source.name + "\" has no url and is left out.");
        return source.url.empty();
    });
    sources.erase(withoutUrl, sources.end());
    return sources;
}

std::vector<NetworkSourceDescription> LoadNetworkSources()
{
    std::ifstream file(NetworkSourcesPath());
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return ParseNetworkSources(text.str());
}

int SaveNetworkSources(const std::vector<NetworkSourceDescription>& sources)
{
    const std::string path = NetworkSourcesPath();
    const std::string temporary = path + ".new";
    std::error_code error;
    std::filesystem::create_directories(ConfigDir(), error);
    if (error) {
        Log("\"" + ConfigDir() + "\" could not be made: " + error.message() + ".");
        return -1;
    }
    {
        // URLs may hold passwords: only the user reads the file.
        const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (descriptor < 0) {
            Log("\"" + temporary + "\" could not be written: " + std::strerror(errno) + ".");
            return -1;
        }
        ::close(descriptor);
        std::ofstream file(temporary, std::ios::trunc);
        file << "; Orvandel's network sources: a section per source, named as channels refer to it.\n";
        for (const NetworkSourceDescription& source : sources)
            file << "\n[" << source.name << "]\nurl=" << source.url << "\nsound=" << (source.sound ? "yes" : "no")
                 << "\n";
        file.flush();
        if (!file) {
            Log("\"" + temporary + "\" could not be written: " + std::strerror(errno) + ".");
            return -1;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        Log("\"" + path + "\" could not be replaced: " + std::strerror(errno) + ".");
        return -1;
    }
    return 0;
}

std::string NetworkSourceProblem(const NetworkSourceDescription& source, const std::vector<std::string>& takenNames)
{
    const std::string& name = source.name;
    if (name.empty() || name != Trimmed(name))
        return "A source needs a name without spaces at its ends.";
    if (name.size() >= sizeof ChannelRecord{}.videoDeviceName)
        return "The source's name is too long.";
    if (name.find_first_of("[]\n\r") != std::string::npos)
        return "A source's name cannot hold brackets.";
    if (std::find(takenNames.begin(), takenNames.end(), name) != takenNames.end())
        return "There is a capture device or source named \"" + name + "\" already.";
    if (source.url.empty() || source.url.find_first_of("\n\r") != std::string::npos)
        return "The source needs a URL.";
    if (!KnownScheme(source.url) && source.url.find("://") != std::string::npos)
        return "Orvandel reads rtsp, http(s), udp and rtp sources, and files.";
    return {};
}

std::vector<NetworkSourceDescription> ParsePlaylist(const std::string& text)
{
    std::vector<NetworkSourceDescription> sources;
    constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
    std::istringstream lines(text.starts_with(kByteOrderMark) ? text.substr(3) : text);
    std::string line;
    std::string name;
    while (std::getline(lines, line)) {
        line = Trimmed(line);
        if (line.starts_with("#EXTINF"))
            name = ExtinfName(line);
        if (line.empty() || line[0] == '#')
            continue;
        sources.push_back({name.empty() ? line : name, line, true});
        name.clear();
    }
    return sources;
}
