#pragma once

#include <string>

namespace platform {

// The folder of the running program, with its final slash; empty when it cannot be found.
std::string executable_directory();

// The file name of the running program ("quillmark-run", "quillmark-run.exe"); empty when it
// cannot be found.
std::string executable_name();

// The working directory, with its final slash; empty when it cannot be found.
std::string working_directory();

// The user's home folder without a final slash: $HOME when it is absolute, else the home of the
// password database; empty when neither is known. Linux only (Windows has its known folders).
std::string home_directory();

}  // namespace platform
