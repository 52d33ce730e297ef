// Bytes shown as hexadecimal text, for diagnostics about what the server sent.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace handheld {

std::string hexBytes(std::span<const uint8_t> bytes);
std::string hexCode(uint8_t code);

}  // namespace handheld
