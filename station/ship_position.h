#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace station {

// How far the line's records of each runs file are confirmed by the database, kept in a small file
// beside the runs file so that a restart does not send everything again. It is only a shortcut:
// the database refuses a run id it has, so a position lost or wrong costs re-sending, never a
// duplicate.
constexpr const char* kShipPositionFileName = "runs.position";

struct ShipPosition {
  int64_t offset = 0;  // just after the line end of the last confirmed record
  int64_t start = 0;   // where that record starts
  int64_t number = 0;  // its 1-based number among the records of its file
  std::string run_id;  // its run id (derived for a file without the column)
};

// By the runs file's name (without its folder).
using ShipPositions = std::map<std::string, ShipPosition>;

// The position file beside the runs file `runs_path`.
std::string ship_position_path(const std::string& runs_path);

// Reads the position file `path`. False, with the case in words in `why`, when it is missing or
// damaged: then every runs file starts from its beginning.
bool read_ship_positions(const std::string& path, ShipPositions* positions, std::string* why);

// Writes the position file `path` whole: a temporary file beside it, on the disk, then renamed over
// it, so that a crash leaves the old positions or the new ones.
bool write_ship_positions(const std::string& path, const ShipPositions& positions,
                          std::string* why);

}  // namespace station
