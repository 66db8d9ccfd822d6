#include "station/ship_position.h"

#include <sstream>
#include <vector>

#include "platform/files.h"

namespace station {

namespace {

constexpr const char* kFirstLine = "quillmark-position 1";

bool parse_number(const std::string& text, int64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

}  // namespace

std::string ship_position_path(const std::string& runs_path) {
  const size_t slash = runs_path.find_last_of(platform::kPathSeparators);
  return (slash == std::string::npos ? "" : runs_path.substr(0, slash + 1)) + kShipPositionFileName;
}

bool read_ship_positions(const std::string& path, ShipPositions* positions, std::string* why) {
  positions->clear();
  platform::FileError error;
  platform::File file =
      platform::File::open(path, platform::FileAccess::read, &error, platform::FileLinks::refuse);
  if (!file.is_open()) {
    *why = error.missing ? "no position file" : "position file: " + error.text;
    return false;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const long n = file.read(buffer, sizeof buffer, &error);
    if (n < 0) {
      *why = "position file: " + error.text;
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > (1 << 20)) break;
  }
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kFirstLine) {
    *why = "the position file is damaged";
    return false;
  }
  while (std::getline(lines, line)) {
    std::vector<std::string> parts;
    std::istringstream fields(line);
    for (std::string part; std::getline(fields, part, '\t');) parts.push_back(part);
    ShipPosition position;
    if (parts.size() != 5 || parts[0].empty() || !parse_number(parts[1], &position.offset) ||
        !parse_number(parts[2], &position.start) || !parse_number(parts[3], &position.number) ||
        position.start > position.offset) {
      positions->clear();
      *why = "the position file is damaged";
      return false;
    }
    position.run_id = parts[4];
    (*positions)[parts[0]] = position;
  }
  return true;
}

bool write_ship_positions(const std::string& path, const ShipPositions& positions,
                          std::string* why) {
  std::string text = std::string(kFirstLine) + "\n";
  for (const auto& [name, p] : positions)
    text += name + '\t' + std::to_string(p.offset) + '\t' + std::to_string(p.start) + '\t' +
            std::to_string(p.number) + '\t' + p.run_id + '\n';
  const std::string temporary = path + ".new";
  platform::remove_file(temporary);  // left by a crash
  platform::FileError error;
  platform::File file = platform::File::open(temporary, platform::FileAccess::create_new, &error);
  bool ok = file.is_open() && file.write_all(text, &error) && file.flush_to_disk(&error) &&
            file.close(&error) && platform::replace_file(temporary, path, &error);
  if (!ok) {
    platform::remove_file(temporary);
    *why = "position file: " + error.text;
  }
  return ok;
}

}  // namespace station
