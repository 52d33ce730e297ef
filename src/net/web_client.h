#pragma once
// The program's one HTTP client and the helpers its callers read responses
// with. No library, no TLS, no redirects, no chunked bodies: callers search
// the raw response text.

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

constexpr size_t kWebResponseSize = 2048;
constexpr int kHttp11 = 1;
constexpr int kHttp10 = 0;

// How long a read may stay silent before the request is given up, in ms.
extern std::atomic<int> gHttpReadLimitMs;

// GETs url ("http://host[:port]/path" or "host[:port]/path"; port 80 unless
// given) with HTTP/1.1 when version is kHttp11, else HTTP/1.0.
// Without receivedLength the request is only sent (response may then be
// null): 0 once the connection was made.
// With it, the whole response (status line and headers included) is kept,
// cut to responseSize - 1 bytes and terminated: 0 when at least one byte
// came, else -1. A URL without a path after its host fails without traffic.
int HttpGet(char* response, size_t responseSize, size_t* receivedLength, const char* url, int version);

// Copies text from response into output, from startOffset or from just past
// startPattern (whose '*' match anything), until a stop string, the end of
// the response or a full output. Skip strings are passed over; digitsOnly
// keeps only '0'..'9'; character references and the five XML entities are
// decoded. A list is NUL-separated strings ended by an empty one. The scan's
// end goes to endOffset. 0, or -1 when the pattern is not found.
int ExtractText(const char* response, size_t responseLength, char* output, size_t outputSize,
                const char* startPattern, size_t startOffset, size_t* endOffset, const char* stopStrings,
                const char* skipStrings, int digitsOnly);

// The integer after the first "status=" of the response to url (HTTP/1.1),
// or -1 when the request fails or there is no such value.
int QueryStatus(const char* url);

// RFC 4648 base64url with '=' padding; empty for a text holding any byte of
// 0x80 or more, which the web services cannot take.
std::string EncodeBase64Url(std::string_view text);
