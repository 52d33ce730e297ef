#include "report.h"

#include <cstdio>

namespace handheld {

Status worse(Status a, Status b)
{
    // Failures outrank refusals: a refusal still proves the server answered.
    auto rank = [](Status s) { return s == kOk ? 0 : s == kRefused ? 1 : s == kUsage ? 2 : 3; };
    return rank(a) >= rank(b) ? a : b;
}

std::string escapeText(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

void printText(std::string_view key, std::string_view value)
{
    const std::string escaped = escapeText(value);
    std::printf("%.*s=%s\n", int(key.size()), key.data(), escaped.c_str());
    std::fflush(stdout);
}

void printNumber(std::string_view key, long long value)
{
    std::printf("%.*s=%lld\n", int(key.size()), key.data(), value);
    std::fflush(stdout);
}

void printCode(std::string_view key, uint8_t code)
{
    std::printf("%.*s=0x%02X\n", int(key.size()), key.data(), unsigned(code));
    std::fflush(stdout);
}

void printError(std::string_view message)
{
    std::fprintf(stderr, "orvandel-handheld: %.*s\n", int(message.size()), message.data());
}

}  // namespace handheld
