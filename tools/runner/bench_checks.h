#pragma once

#include <string>

namespace runner {

// The checks made before any module starts. Each gives false with the message for the operator
// (the path and the reason) in `why`.

// The settings file `path` exists, is a file and can be read.
bool check_settings_file(const std::string& path, std::string* why);

// The update file can be loaded whole as a run loads it, and its name can be stored on a module.
bool check_update_file(const std::string& path, std::string* why);

// Why COM<n> cannot be opened, in words, with what to do about it where there is a remedy; empty
// when it opens now.
std::string port_open_failure(unsigned n);

}  // namespace runner
