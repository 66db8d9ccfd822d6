#pragma once

// The Windows window's figures under Wine, measured with the programs of a Windows build beside
// the Linux window's: its wine-x-run (a private Xvfb, the display prefix, simulated modules mapped
// as COM ports), and in bench/shipped/ quillmark.exe and the benchmark's bench_window_win.exe and
// bench_bare_window.exe as they ship, without debug information (the build's own quillmark.exe is
// timed too, for comparison).

#include <cstdint>
#include <filesystem>
#include <string>

#include "bench/window_figures.h"

namespace bench {

// Makes a bench of six modules on COM ports and runs `self` (this program) with --wine-session in
// the session of the build's wine-x-run; prints the session's lines and gives its figures (none
// when the build lacks a program).
Figures measure_under_wine(const std::string& self, const std::filesystem::path& windows_build,
                           int64_t size, int paints);

// In wine-x-run's session (its display, its prefix with the server running, QUILL_WINE naming
// Wine's loader), in the bench folder: `paints` starts of quillmark.exe to its first paint and of
// the bare program to its first, then the main dialog in a process of its own with the Wine
// server's CPU time read around its run. Prints the figures; gives 0 when every module passed.
int run_wine_session(const std::filesystem::path& windows_build, int64_t size, int paints);

}  // namespace bench
