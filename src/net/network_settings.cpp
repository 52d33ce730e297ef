#include "net/network_settings.h"

#include "config/settings.h"
#include "net/connectivity.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sstream>

namespace {
constexpr int kNicAddressFields = 4;
}

int BasePortFromText(const std::string& text)
{
    long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

std::string ControlPortText(const std::string& basePortText)
{
    return std::to_string(static_cast<long long>(BasePortFromText(basePortText)) + 1);
}

int ApplyNetworkSettings(const std::string& basePortText)
{
    const int port = BasePortFromText(basePortText);
    if (port != gSettings.record.basePort)
        gReachability.portsMapped = 0;
    gSettings.record.basePort = port;
    return SaveSettings();
}

void ToggleDirectoryService()
{
    gSettings.record.directoryDisabled = gSettings.record.directoryDisabled ? 0 : 1;
}

std::string NicAddressText(uint32_t hostOrderAddress)
{
    if (hostOrderAddress == 0)
        return {};
    return std::to_string(hostOrderAddress >> 24) + "." + std::to_string(hostOrderAddress >> 16 & 0xFF) + "." +
           std::to_string(hostOrderAddress >> 8 & 0xFF) + "." + std::to_string(hostOrderAddress & 0xFF);
}

int ParseNicAddress(const std::string& text, uint32_t& hostOrderAddress)
{
    std::istringstream fields(text);
    std::string field;
    uint32_t address = 0;
    int count = 0;
    while (std::getline(fields, field, '.')) {
        if (++count > kNicAddressFields || field.size() > 3 ||
            field.find_first_not_of("0123456789") != std::string::npos)
            return -1;
        const int value = field.empty() ? 0 : std::atoi(field.c_str());
        if (value > 255)
            return -1;
        address |= static_cast<uint32_t>(value) << (8 * (kNicAddressFields - count));
    }
    hostOrderAddress = address;
    return 0;
}

int ApplyAdvancedNetworkSettings(const std::string& nicAddressText)
{
    uint32_t address = 0;
    if (ParseNicAddress(nicAddressText, address) != 0)
        return -1;
    gSettings.record.listenAddress = address;
    return 0;
}
