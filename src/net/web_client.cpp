#include "net/web_client.h"

#include "platform/log.h"
#include "platform/socket_wait.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>


namespace {

std::atomic<int> httpReadLimitMs{30000};


constexpr int kConnectLimitMs = 10000;
constexpr int kFailedConnectPauseMs = 500;
constexpr size_t kUrlLimit = 4095;
constexpr size_t kReadPiece = 1024;
constexpr std::string_view kSchemePrefix = "http://";
constexpr std::string_view kStatusKey = "status=";
// Where a status value may start at the latest in the 2048-byte response.
constexpr size_t kStatusValueLimit = 2045;

struct UrlParts {
    std::string authority;  // host[:port], as the Host header carries it
    std::string hostName;
    int port = 80;
    std::string path;
};

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

int ParsePort(std::string_view digits)
{
    if (digits.empty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), IsDigit))
        return -1;
    int port = std::atoi(std::string(digits).c_str());
    return port >= 1 && port <= 65535 ? port : -1;
}

int SplitUrl(std::string_view url, UrlParts& parts)
{
    // Like the C string it once was: the URL ends at its first NUL.
    std::string_view text = url.substr(0, std::min(url.find('\0'), kUrlLimit));
    if (text.starts_with(kSchemePrefix))
        text.remove_prefix(kSchemePrefix.size());
    size_t slash = text.find('/');
    if (slash == std::string_view::npos || slash == 0)
        return -1;
    parts.authority = text.substr(0, slash);
    parts.path = text.substr(slash);
    size_t colon = parts.authority.find(':');
    parts.hostName = parts.authority.substr(0, colon);
    if (colon != std::string::npos)
        parts.port = ParsePort(std::string_view(parts.authority).substr(colon + 1));
    return parts.hostName.empty() || parts.port < 0 ? -1 : 0;
}

// Names under .invalid never exist; they are answered here rather than by
// asking a name server.
bool IsReservedInvalidName(std::string_view host)
{
    std::string name(host);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    return name == "invalid" || name.ends_with(".invalid");
}

// A lookup shared by the caller and the thread that asks the name server:
// whichever is the last to let go frees it.
struct Lookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int result = EAI_FAIL;  // getaddrinfo's
    sockaddr_in address{};
};

// getaddrinfo has no time limit of its own: it runs on a thread of its own,
// and a caller that has waited the connect limit goes on without it. Empty,
// or why the name was not found.
std::string ResolveIpv4(const UrlParts& parts, sockaddr_in& address)
{
    if (IsReservedInvalidName(parts.hostName))
        return "the name is reserved as invalid";
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host = parts.hostName] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
            std::lock_guard hold(lookup->lock);
            if (result == 0 && found)
                std::memcpy(&lookup->address, found->ai_addr, sizeof lookup->address);
            lookup->result = result == 0 && !found ? EAI_NONAME : result;
            lookup->finished = true;
            lookup->done.notify_all();
            if (found)
                freeaddrinfo(found);
        }).detach();
    } catch (const std::system_error& error) {
        return std::string("no thread for the lookup: ") + error.what();
    }
    std::unique_lock hold(lookup->lock);
    if (!lookup->done.wait_for(hold, std::chrono::milliseconds(kConnectLimitMs), [&] { return lookup->finished; }))
        return "the name server did not answer within " + std::to_string(kConnectLimitMs / 1000) + " s";
    if (lookup->result != 0)
        return gai_strerror(lookup->result);
    address = lookup->address;
    address.sin_port = htons(static_cast<uint16_t>(parts.port));
    return "";
}

void SetBlocking(int socket, bool blocking)
{
    int flags = ::fcntl(socket, F_GETFL);
    ::fcntl(socket, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

// A connected, blocking socket, or -1 with the reason in why.
int ConnectWithLimit(const sockaddr_in& address, std::string& why)
{
    int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        why = std::strerror(errno);
        return -1;
    }
    SetBlocking(socket, false);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) {
            why = std::strerror(errno);
            ::close(socket);
            std::this_thread::sleep_for(std::chrono::milliseconds(kFailedConnectPauseMs));
            return -1;
        }
        int error = 0;
        socklen_t errorSize = sizeof error;
        const int ready = WaitForSocket(socket, POLLOUT, kConnectLimitMs);
        if (ready <= 0 || ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0 || error != 0) {
            why = ready <= 0 ? "no answer within " + std::to_string(kConnectLimitMs / 1000) + " s"
                             : std::strerror(error != 0 ? error : errno);
            ::close(socket);
            return -1;
        }
    }
    SetBlocking(socket, true);
    return socket;
}

std::string BuildRequest(const UrlParts& parts, int version)
{
    std::string request = "GET " + parts.path + (version == kHttp11 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
    request += "Host: " + parts.authority + "\r\n";
    // These headers, byte for byte, are what the web services have always
    // been sent; a service may answer by what the client accepts, so they
    // stay as they are rather than risk an answer nobody has seen.
    request += "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
               "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
    request += "Accept-Language: en-us\r\n";
    request += "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n";
    request += "Connection: close\r\n\r\n";
    return request;
}

// Reads until the peer closes, the buffer is full or the read limit passes
// in silence; the text is terminated. Returns the bytes kept.
size_t ReadResponse(int socket, std::span<char> response)
{
    std::fill(response.begin(), response.end(), 0);
    size_t received = 0;
    while (received < response.size() - 1) {
        if (WaitForSocket(socket, POLLIN, httpReadLimitMs) <= 0)
            break;
        ssize_t got =
            ::recv(socket, response.data() + received, std::min(kReadPiece, response.size() - 1 - received), 0);
        if (got <= 0)
            break;
        received += static_cast<size_t>(got);
    }
    response[received] = 0;
    return received;
}

bool StartsAt(std::string_view text, size_t position, std::string_view piece)
{
    return position <= text.size() && text.size() - position >= piece.size() &&
           std::memcmp(text.data() + position, piece.data(), piece.size()) == 0;
}

int SkipPast(std::string_view text, std::string_view piece, size_t& position)
{
    size_t found = text.find(piece, position);
    if (found == std::string_view::npos)
        return -1;
    position = found + piece.size();
    return 0;
}

// Moves position just past the start pattern, matching '*' to anything.
int SkipPastPattern(std::string_view text, std::string_view pattern, size_t& position)
{
    for (size_t star; (star = pattern.find('*')) != std::string_view::npos; pattern.remove_prefix(star + 1)) {
        if (SkipPast(text, pattern.substr(0, star), position) != 0)
            return -1;
    }
    return pattern.empty() ? 0 : SkipPast(text, pattern, position);
}

bool AnyStartsAt(std::string_view text, size_t position, const char* list)
{
    for (const char* entry = list; entry && *entry; entry += std::strlen(entry) + 1) {
        if (StartsAt(text, position, entry))
            return true;
    }
    return false;
}

// Passes every listed string found at position, in list order.
bool SkipListed(std::string_view text, size_t& position, const char* list)
{
    bool skipped = false;
    for (const char* entry = list; entry && *entry; entry += std::strlen(entry) + 1) {
        if (StartsAt(text, position, entry)) {
            position += std::strlen(entry);
            skipped = true;
        }
    }
    return skipped;
}

// "&#" with two or three digits and ';': its length, or 0.
size_t NumericReferenceAt(std::string_view text, size_t position, char& value)
{
    if (!StartsAt(text, position, "&#"))
        return 0;
    size_t digits = 0;
    int number = 0;
    for (size_t at = position + 2; at < text.size() && digits < 4 && IsDigit(text[at]); ++at, ++digits)
        number = number * 10 + (text[at] - '0');
    if (digits < 2 || digits > 3 || !StartsAt(text, position + 2 + digits, ";"))
        return 0;
    value = static_cast<char>(number);
    return digits + 3;
}

struct NamedEntity {
    std::string_view name;
    char value;
};
constexpr NamedEntity kNamedEntities[] = {
    {"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'},
};

// The byte the text at position stands for, and how many bytes it takes.
size_t DecodeAt(std::string_view text, size_t position, char& value)
{
    if (size_t length = NumericReferenceAt(text, position, value))
        return length;
    for (const NamedEntity& entity : kNamedEntities) {
        if (StartsAt(text, position, entity.name)) {
            value = entity.value;
            return entity.name.size();
        }
    }
    value = text[position];
    return 1;
}

int ParseDecimal(const char* text)
{
    long value = std::strtol(text, nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

} // namespace

void SetHttpReadLimit(int milliseconds)
{
    httpReadLimitMs = milliseconds;
}

int HttpGet(std::string_view url, int version, std::span<char> response, size_t* receivedLength)
{
    if (receivedLength)
        *receivedLength = 0;
    UrlParts parts;
    sockaddr_in address{};
    if ((receivedLength && response.empty()) || SplitUrl(url, parts) != 0)
        return -1;
    // The rest of the address may carry account texts: only the host is logged.
    if (const std::string notFound = ResolveIpv4(parts, address); !notFound.empty()) {
        Log("The web host " + parts.authority + " could not be found: " + notFound + ".");
        return -1;
    }
    std::string unreached;
    int socket = ConnectWithLimit(address, unreached);
    if (socket < 0) {
        Log("The web host " + parts.authority + " could not be reached: " + unreached + ".");
        return -1;
    }
    const std::string request = BuildRequest(parts, version);
    ::send(socket, request.data(), request.size(), MSG_NOSIGNAL);
    int result = 0;
    if (receivedLength) {
        *receivedLength = ReadResponse(socket, response);
        result = *receivedLength > 0 ? 0 : -1;
        if (result != 0)
            Log("The web host " + parts.authority + " did not answer.");
    }
    ::close(socket);
    return result;
}

int ExtractText(std::string_view text, std::span<char> output, const TextExtraction& what, size_t* endOffset)
{
    if (output.empty())
        return -1;
    output[0] = 0;
    size_t position = what.startOffset;
    if (what.startPattern && SkipPastPattern(text, what.startPattern, position) != 0)
        return -1;
    size_t written = 0;
    while (position < text.size() && written + 1 < output.size()) {
        if (AnyStartsAt(text, position, what.stopStrings))
            break;
        if (SkipListed(text, position, what.skipStrings))
            continue;
        if (what.digitsOnly && !IsDigit(text[position])) {
            ++position;
            continue;
        }
        position += DecodeAt(text, position, output[written++]);
    }
    output[written] = 0;
    if (endOffset)
        *endOffset = position;
    return 0;
}

int StatusInResponse(std::string_view response)
{
    const size_t key = response.find(kStatusKey);
    if (key == std::string_view::npos || key + kStatusKey.size() >= kStatusValueLimit)
        return -1;
    // strtol reads a terminated text: after the blanks it skips, 31 bytes
    // hold every number it could tell apart from an overflow.
    std::string_view value = response.substr(key + kStatusKey.size());
    value.remove_prefix(std::min(value.find_first_not_of(" \t\n\v\f\r"), value.size()));
    char digits[32] = {};
    value.copy(digits, sizeof digits - 1);
    return ParseDecimal(digits);
}

int QueryStatus(std::string_view url)
{
    char response[kWebResponseSize];
    size_t received = 0;
    if (HttpGet(url, kHttp11, response, &received) != 0)
        return -1;
    return StatusInResponse({response, received});
}

std::string EncodeBase64Url(std::string_view text)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    if (std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return {};
    std::string encoded;
    for (size_t at = 0; at < text.size(); at += 3) {
        const size_t count = std::min<size_t>(3, text.size() - at);
        uint32_t group = 0;
        for (size_t i = 0; i < 3; ++i)
            group = group << 8 | (i < count ? static_cast<unsigned char>(text[at + i]) : 0);
        for (size_t i = 0; i < 4; ++i)
            encoded += i <= count ? kAlphabet[(group >> (18 - 6 * i)) & 0x3F] : '=';
    }
    return encoded;
}
