#pragma once
// The program's one HTTP client and the helpers its callers read responses
// with. No library, no TLS, no redirects, no chunked bodies: callers search
// the raw response text.

#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

constexpr size_t kWebResponseSize = 2048;
constexpr int kHttp11 = 1;
constexpr int kHttp10 = 0;

// How long a read may stay silent before the request is given up, in ms
// (30,000); tests shorten it.
void SetHttpReadLimit(int milliseconds);

// GETs url ("http://host[:port]/path" or "host[:port]/path"; port 80 unless
// given) with HTTP/1.1 when version is kHttp11, else HTTP/1.0.
// Without receivedLength the request is only sent: 0 once the connection
// was made.
// With it, the whole response (status line and headers included) is kept,
// cut to response.size() - 1 bytes and terminated: 0 when at least one byte
// came, else -1. A URL without a path after its host fails without traffic.
int HttpGet(std::string_view url, int version, std::span<char> response = {}, size_t* receivedLength = nullptr);

// What ExtractText looks for. A list is NUL-separated strings ended by an
// empty one.
struct TextExtraction {
    const char* startPattern = nullptr;  // its '*' match anything; none: start at startOffset
    size_t startOffset = 0;
    const char* stopStrings = nullptr;
    const char* skipStrings = nullptr;   // passed over
    bool digitsOnly = false;             // keeps only '0'..'9'
};

// Copies text from response into output, from the start offset or from just
// past the start pattern, until a stop string, the end of the response or a
// full output, which is always terminated. Character references and the
// five XML entities are decoded. The scan's end goes to endOffset. 0, or -1
// when the pattern is not found or the output has no room.
int ExtractText(std::string_view response, std::span<char> output, const TextExtraction& what,
                size_t* endOffset = nullptr);

// The integer after the first "status=" of a response, or -1 when there is
// none early enough.
int StatusInResponse(std::string_view response);
// The status of the response to url (HTTP/1.1), or -1 when the request
// fails or there is no such value.
int QueryStatus(std::string_view url);

// RFC 4648 base64url with '=' padding; empty for a text holding any byte of
// 0x80 or more, which the web services cannot take.
std::string EncodeBase64Url(std::string_view text);
