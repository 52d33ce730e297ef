#pragma once
// What the network settings dialogs show and what their buttons store; the
// dialogs only carry text between these and their fields.

#include <cstdint>
#include <string>

// The base port a field's text stands for: its leading decimal number, 0
// for anything else. There is deliberately no range check.
int BasePortFromText(const std::string& text);

// The control port shown beside a base port field: its value plus 1.
std::string ControlPortText(const std::string& basePortText);

// OK of the network settings: stores the base port, forgetting the router's
// mappings when it changed, and saves the settings. SaveSettings' result.
int ApplyNetworkSettings(const std::string& basePortText);

// Every click of "Disable directory service" takes effect at once, even
// when the dialog is then cancelled.
void ToggleDirectoryService();

// The NIC address as the address field shows it; 0 shows as empty.
std::string NicAddressText(uint32_t hostOrderAddress);

// Reads up to four dotted fields of 0..255, a blank field counting as 0 as
// in an IP address control; empty text is 0. -1 for anything else.
int ParseNicAddress(const std::string& text, uint32_t& hostOrderAddress);

// OK of the advanced settings: stores the NIC address. 0, or -1 when the
// text is no address and nothing was stored.
int ApplyAdvancedNetworkSettings(const std::string& nicAddressText);
