#pragma once

// The bench folder of the window benchmark: a fresh temporary folder with an update file, its
// ZEBL.ini (the file, a settling time of 0, six modules) and the module simulator serving the six
// modules in a process of its own, which stores what it receives in store/COM<n>/.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>

namespace bench {

struct BenchFolder {
  std::filesystem::path dir;      // empty when it could not be made
  std::filesystem::path runtime;  // a private XDG_RUNTIME_DIR for the Qt window
  pid_t simulator = -1;           // -1 when the simulator did not start
};

// The Linux window's bench: the modules are COM1 to COM6 of its ports folder.
BenchFolder make_bench(int64_t size);
// The Windows window's bench under Wine: the modules are COM<first_com> onwards, as links in
// com-ports/ that wine-x-run --com-ports maps; ZEBL.ini names the update file as Windows programs
// under Wine see it.
BenchFolder make_wine_bench(int64_t size, int first_com);
// Ends the simulator and removes the folder.
void remove_bench(BenchFolder& bench);

}  // namespace bench
