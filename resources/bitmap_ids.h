#pragma once

// The numbers of the program's pictures, the same for every window system (the Qt resource tree
// and the Windows resource script).

#include <array>

namespace resources {

// The PASS and FAIL pictures of Module1 to Module6, indexed by slot.
constexpr std::array<int, 6> kPassBitmapIds{144, 146, 147, 148, 149, 150};
constexpr std::array<int, 6> kFailBitmapIds{151, 152, 153, 155, 156, 157};

constexpr int kApplicationIconId = 128;
// The application icon is drawn once for each of these sizes in pixels.
constexpr std::array<int, 5> kApplicationIconSizes{16, 24, 32, 48, 256};

}  // namespace resources
