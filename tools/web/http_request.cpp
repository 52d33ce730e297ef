#include "http_request.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace web {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeadEnd = "\r\n\r\n";
// 18 digits always fit in 64 bits; a longer length is far past any limit.
constexpr size_t kLengthDigits = 18;

HttpParseResult refuse(int status, std::string reason)
{
    return HttpParseResult{.outcome = HttpParse::Refused, .status = status, .reason = std::move(reason)};
}

std::string lower(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return result;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// RFC 9110's token characters: what a method and a header name are made of.
bool isToken(std::string_view text)
{
    constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [&](unsigned char c) {
        return std::isalnum(c) || kSymbols.find(char(c)) != std::string_view::npos;
    });
}

bool hasToken(std::string_view list, std::string_view token)
{
    while (!list.empty()) {
        const size_t comma = std::min(list.find(','), list.size());
        if (lower(trim(list.substr(0, comma))) == token)
            return true;
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return false;
}

// "GET /path?query HTTP/1.1"
bool parseRequestLine(std::string_view line, HttpRequest& request, int& status)
{
    status = 400;
    const size_t first = line.find(' ');
    const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
        return false;
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (!isToken(method) || target.empty() || target.front() != '/')
        return false;
    if (std::any_of(target.begin(), target.end(), [](unsigned char c) { return c < 0x21 || c == 0x7f; }))
        return false;
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        status = version.substr(0, 5) == "HTTP/" ? 505 : 400;
        return false;
    }
    request.method = method;
    const size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string_view::npos)
        request.query = target.substr(question + 1);
    request.keepAlive = version == "HTTP/1.1";
    return true;
}

bool parseHeader(std::string_view line, HttpRequest& request)
{
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon)))
        return false;
    const std::string_view value = trim(line.substr(colon + 1));
    if (std::any_of(value.begin(), value.end(), [](unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; }))
        return false;
    request.headers.emplace_back(lower(line.substr(0, colon)), std::string(value));
    return true;
}

// The body's length, or a refusal: bodies come with a length, once.
std::optional<HttpParseResult> bodyLength(const HttpRequest& request, const HttpLimits& limits, size_t& length)
{
    length = 0;
    bool seen = false;
    for (const auto& [name, value] : request.headers) {
        if (name == "transfer-encoding")
            return refuse(411, "a body without a Content-Length");
        if (name != "content-length")
            continue;
        if (value.empty() || !std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isdigit(c); }))
            return refuse(400, "a Content-Length that is no number");
        if (value.size() > kLengthDigits)
            return refuse(413, "a body of " + value + " bytes");
        const size_t given = std::stoull(value);
        if (seen && given != length)
            return refuse(400, "two different Content-Lengths");
        seen = true;
        length = given;
    }
    if (length > limits.bodyBytes)
        return refuse(413, "a body of " + std::to_string(length) + " bytes");
    return std::nullopt;
}

}  // namespace

std::string_view HttpRequest::header(std::string_view lowerName) const
{
    for (const auto& [name, value] : headers)
        if (name == lowerName)
            return value;
    return {};
}

bool HttpRequest::upgradesToWebSocket() const
{
    return lower(header("upgrade")) == "websocket" && hasToken(header("connection"), "upgrade");
}

HttpParseResult ParseHttpRequest(std::string_view bytes, const HttpLimits& limits)
{
    const size_t headEnd = bytes.substr(0, limits.headBytes).find(kHeadEnd);
    const std::string_view head = bytes.substr(0, std::min(headEnd, limits.headBytes));
    // What has come so far is refused as soon as it cannot become a request.
    if (std::count(head.begin(), head.end(), '\n') > std::ptrdiff_t(limits.headerCount))
        return refuse(431, "over " + std::to_string(limits.headerCount) + " headers");
    if (headEnd == std::string_view::npos) {
        if (bytes.size() >= limits.headBytes)
            return refuse(431, "a request head over " + std::to_string(limits.headBytes) + " bytes");
        return {};
    }
    HttpParseResult result;
    HttpRequest& request = result.request;
    std::string_view rest = head;
    size_t lineEnd = std::min(rest.find(kLineEnd), rest.size());
    if (!parseRequestLine(rest.substr(0, lineEnd), request, result.status))
        return refuse(result.status, "a request line that is not HTTP/1.1");
    while (lineEnd < rest.size()) {
        rest.remove_prefix(lineEnd + kLineEnd.size());
        lineEnd = std::min(rest.find(kLineEnd), rest.size());
        if (!parseHeader(rest.substr(0, lineEnd), request))
            return refuse(400, "a malformed header");
    }
    const std::string_view connection = request.header("connection");
    if (hasToken(connection, "close"))
        request.keepAlive = false;
    else if (hasToken(connection, "keep-alive"))
        request.keepAlive = true;
    size_t length = 0;
    if (auto refusal = bodyLength(request, limits, length))
        return *refusal;
    const size_t total = headEnd + kHeadEnd.size() + length;
    if (bytes.size() < total)
        return HttpParseResult{.needed = total};
    request.body = bytes.substr(headEnd + kHeadEnd.size(), length);
    result.outcome = HttpParse::Complete;
    result.consumed = total;
    return result;
}

const char* HttpStatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
    }
}

}  // namespace web
