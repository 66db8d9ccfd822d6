#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devices {

// The census lists. Written only by the census and read on the window thread. Each holds COM
// numbers in the order the census met them (ascending), every number once and never 0, with room
// for every present port: six modules with several ports each need more than a small fixed table.
extern std::vector<uint32_t> AtPortCandidates;
// Nothing fills it: a module's Diag port comes from the settings file only.
extern std::vector<uint32_t> DiagPortCandidates;

// Takes the census of the present serial ports into the lists. 1 when at least one port's
// friendly name holds "(COM", else 0. When the device set cannot be read the lists keep their
// contents and the result is 0.
int GetDevicePorts();

// Whether the last census found port `com`.
bool in_census(int32_t com);

// The census over a device set already read: the friendly name of each device in the order met,
// or nothing for a device whose name could not be read.
int take_census(const std::vector<std::optional<std::string>>& friendly_names);

// A friendly name as a device reported it (on Windows), made safe as the names of the ports folder
// are: when it holds a COM number that can be offered, the description before its "(COM" is
// cleaned (see friendly_name) and the number kept; any other name is only cut to 259 bytes, which
// the census still reads for its "(COM".
std::string census_name(std::string_view reported);

// The number that a friendly name gives: the text after its first "(COM" up to the ")" that
// closes it (at most 39 characters), read the way atol reads. Nothing when there is no "(COM".
std::optional<int64_t> com_number_in_name(std::string_view name);

}  // namespace devices
