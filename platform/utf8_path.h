#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Paths are UTF-8 inside the tool on every system. A std::filesystem::path made from a std::string
// reads it in the system's narrow encoding, which on Windows is the ANSI code page and not UTF-8
// (a Chinese name becomes question marks or other characters): paths cross over through these.

// The path that the UTF-8 text `text` names. On Windows text that is not UTF-8 is read in the ANSI
// code page, as every file call of the tool reads it; elsewhere the bytes are the name.
std::filesystem::path utf8_path(std::string_view text);

// The UTF-8 text of `path`.
std::string utf8_text(const std::filesystem::path& path);

// A path written outside the tool (the update file's path in a settings file) as the tool keeps
// paths. On Windows text that is not UTF-8 was written in the ANSI code page (by an older tool, or
// an editor that saves "ANSI") and is converted to UTF-8, so that its separators are found and
// the name sent to a module is the same as for the UTF-8 path; elsewhere the bytes are the name and
// are kept as they are.
std::string outside_path_text(std::string_view text);

}  // namespace platform
