#include "bench/bench_folder.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <string>

#include "config/private_profile.h"
#include "config/settings.h"

namespace {

namespace fs = std::filesystem;

// The settings file is read as the tool reads it: the update file, a settling time of 0, and six
// modules on consecutive COM numbers. Under Wine the update file is named as Windows programs see
// it, and the simulated modules are the links wine-x-run maps to those COM numbers. Removing the
// bench ends the simulator and leaves nothing behind.
TEST(BenchFolder, BothWindowsBenchesAreReadAsTheToolReadsThemAndLeaveNothingBehind) {
  for (const int first_com : {0, 7}) {
    SCOPED_TRACE(first_com);
    bench::BenchFolder b =
        first_com == 0 ? bench::make_bench(4096) : bench::make_wine_bench(4096, first_com);
    ASSERT_FALSE(b.dir.empty());
    ASSERT_GT(b.simulator, 0);
    EXPECT_EQ(fs::file_size(b.dir / "update.bin"), 4096u);

    const std::string ini = config::settings_path_in(b.dir.string());
    std::string expected_path = (b.dir / "update.bin").string();
    if (first_com != 0) {
      expected_path = "Z:" + expected_path;
      for (char& c : expected_path)
        if (c == '/') c = '\\';
    }
    EXPECT_EQ(config::get_private_profile_string("FilePath", "Path", "", ini), expected_path);
    EXPECT_EQ(config::get_private_profile_string("FilePath", "SleepTime", "", ini), "0");
    const auto ports = config::read_module_ports(b.dir.string());
    const int first = first_com == 0 ? 1 : first_com;
    for (int k = 0; k < 6; ++k) {
      EXPECT_EQ(ports[static_cast<size_t>(k)].at, first + k) << "Module" << k + 1;
      if (first_com == 0) continue;
      const fs::path link = b.dir / "com-ports" / ("COM" + std::to_string(first + k));
      EXPECT_TRUE(fs::is_symlink(link)) << link;
      EXPECT_TRUE(fs::is_character_file(link)) << link;
    }

    const fs::path dir = b.dir;
    const pid_t simulator = b.simulator;
    bench::remove_bench(b);
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_EQ(::kill(simulator, 0), -1);
    EXPECT_EQ(errno, ESRCH);
  }
}

}  // namespace
