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

}  // namespace platform
