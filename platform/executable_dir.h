#pragma once

#include <string>

namespace platform {

// The folder of the running program, with its final slash; empty when it cannot be found.
std::string executable_directory();

// The working directory, with its final slash; empty when it cannot be found.
std::string working_directory();

}  // namespace platform
