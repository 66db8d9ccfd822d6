#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace engine {

// The port number of an arrival notice: the decimal digits among the first 9 characters of the
// port name, in order, read as one number ("COM12" gives 12); 0 when there are none.
int32_t arrival_port_number(std::string_view port_name);

// The port number of a removal notice: the text after the first "COM" (at most 9 characters) read
// as atol reads it; nothing when the name holds no "COM".
std::optional<int32_t> removal_port_number(std::string_view port_name);

// A port `d` has gone away. Every module whose last run has not ended in success (`upgraded` 0)
// and whose Diag port is `d` loses it at once: `resultOk` 0 and its AT port closed, so that its
// worker fails its current exchange and ends its run. Then every module whose worker is not
// running is marked idle (`busy` 0); a running module stays busy, so that the next ALL START
// does not take it for idle and stop it. Gives the modules (0..5) that lost their port, in order:
// the window shows their FAIL picture.
std::vector<int> on_port_removed(int32_t d);

}  // namespace engine
