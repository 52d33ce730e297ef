// One HTTP/1.1 request as a browser on the home network sends it, read
// from the bytes a connection has received so far. Anything past the
// limits is refused from the request's head alone, before its body is
// read, so that nobody can make the gateway hold more than a few pages of
// text for a connection.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace web {

struct HttpLimits {
    // The request line and every header, with their line ends.
    size_t headBytes = 16 * 1024;
    size_t headerCount = 64;
    // A login or an API request is a few hundred bytes of JSON.
    size_t bodyBytes = 64 * 1024;
};

struct HttpRequest {
    std::string method;
    // The path as sent, without its query.
    std::string path;
    std::string query;
    // Names in lower case; values without surrounding blanks.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool keepAlive = true;

    // The first header of that name (given in lower case), or empty.
    std::string_view header(std::string_view lowerName) const;
    bool upgradesToWebSocket() const;
};

enum class HttpParse {
    Incomplete,  // more bytes are needed
    Complete,    // `request` holds it; `consumed` bytes were its own
    Refused,     // answer `status` and close the connection
};

struct HttpParseResult {
    HttpParse outcome = HttpParse::Incomplete;
    HttpRequest request{};
    size_t consumed = 0;
    // While Incomplete: the bytes the request needs in all, once its head
    // has come; 0 before.
    size_t needed = 0;
    int status = 0;
    std::string reason{};  // for the log
};

// Reads the request at the start of `bytes`: the whole of what has come
// since the previous request ended.
HttpParseResult ParseHttpRequest(std::string_view bytes, const HttpLimits& limits);

// "Not Found" for 404; the statuses the gateway answers with.
const char* HttpStatusText(int status);

}  // namespace web
