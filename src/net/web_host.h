#pragma once
// The maker's web host, which serves the directory, account, version and
// address-echo services. ORVANDEL_WEB_HOST ("host" or "host:port") points
// the program at another host, such as a local stand-in of those services.

#include <string>
#include <string_view>

std::string WebHost();

// "http://" + WebHost() + path; path starts with '/'.
std::string WebUrl(std::string_view path);
