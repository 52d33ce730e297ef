#pragma once
// The maker's web host, which serves the directory, account, version and
// address-echo services. ORVANDEL_WEB_HOST ("host" or "host:port") points
// the program at another host, such as a local stand-in of those services.

#include <string>
#include <string_view>

std::string WebHost();

// ":port" when ORVANDEL_WEB_HOST names one, else empty (port 80). Brokers of
// the directory's list are reached on that port too, never on one of theirs.
std::string WebPortSuffix();

// "http://" + WebHost() + path; path starts with '/'.
std::string WebUrl(std::string_view path);
