#include "net/web_host.h"

#include <cstdlib>

namespace {
constexpr char kDefaultWebHost[] = "www.vantorel.com";
}

std::string WebHost()
{
    const char* chosen = std::getenv("ORVANDEL_WEB_HOST");
    return chosen && *chosen ? chosen : kDefaultWebHost;
}

std::string WebPortSuffix()
{
    const std::string host = WebHost();
    const size_t colon = host.rfind(':');
    return colon == std::string::npos ? std::string() : host.substr(colon);
}

std::string WebUrl(std::string_view path)
{
    std::string url = "http://" + WebHost();
    url += path;
    return url;
}
