#pragma once

#include <string>

namespace platform {

// A random UUID, version 4 (RFC 9562), in lower-case hex with its dashes:
// "0f8fad5b-d9cb-469f-a165-70867728950e". Its 122 random bits come from the system's random source
// (getrandom on Linux, the system's preferred generator on Windows); empty in the unlikely case
// that the source fails, never a guessable id.
std::string uuid_v4();

}  // namespace platform
