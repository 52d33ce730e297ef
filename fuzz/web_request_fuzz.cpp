// What anyone on the home network may send the web gateway: an HTTP
// request's bytes, under small limits so that every refusal is reached, and
// the page's JSON messages as a logged-in viewer's WebSocket brings them.
// The input's first NUL separates the two.

#include "http_request.h"
#include "viewer_requests.h"

#include <QJsonDocument>

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view request = input.substr(0, input.find('\0'));
    const web::HttpLimits limits{.headBytes = 512, .headerCount = 8, .bodyBytes = 256};
    const web::HttpParseResult parsed = web::ParseHttpRequest(request, limits);
    if (parsed.outcome == web::HttpParse::Complete
        && (parsed.consumed > request.size() || parsed.request.body.size() > limits.bodyBytes
            || parsed.request.headers.size() > limits.headerCount || parsed.request.path.empty()))
        std::abort();
    if (parsed.outcome == web::HttpParse::Refused && (parsed.status < 400 || parsed.status > 505))
        std::abort();

    const std::string_view message = input.substr(std::min(request.size() + 1, input.size()));
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(message.data(), qsizetype(message.size())));
    if (auto asked = web::viewerRequest(document.object()))
        asked->toMessage(web::Answer{.error = "fuzzed"});
    return 0;
}
