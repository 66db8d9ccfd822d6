#pragma once

#include <string>

namespace runner {

// The checks made before any module starts. Each gives false with the message for the operator
// (the path and the reason) in `why`.

// The settings file `path` exists, is a file and can be read.
bool check_settings_file(const std::string& path, std::string* why);

// The update file can be loaded whole as a run loads it, and its name can be stored on a module.
bool check_update_file(const std::string& path, std::string* why);

// Why COM<n> could not be opened, in words, with what to do about it where there is a remedy: the
// reason the opening gave (`why`), explained with what the bench tells (which process holds the
// port, a link that leads nowhere, a missing number). Empty when `why` is.
std::string port_open_failure(unsigned n, const std::string& why);

}  // namespace runner
