#include "bench/bench_folder.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/ui/x_session.h"

namespace bench {

namespace {

namespace fs = std::filesystem;

// A path of this machine as Windows programs under Wine see it (drive Z: is the root folder).
std::string windows_path(const fs::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

BenchFolder make(int64_t size, int first_com) {
  BenchFolder b;
  std::string pattern = (fs::temp_directory_path() / "quillmark-window-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return b;
  b.dir = pattern;
  b.runtime = b.dir / "runtime";
  fs::create_directory(b.runtime);
  fs::permissions(b.runtime, fs::perms::owner_all);
  std::string content(static_cast<size_t>(size), '\0');
  std::mt19937 random(42);
  for (char& c : content) c = static_cast<char>(random());
  std::ofstream(b.dir / "update.bin", std::ios::binary) << content;
  const bool wine = first_com > 0;
  const fs::path update = b.dir / "update.bin";
  std::ofstream ini(b.dir / "ZEBL.ini");
  ini << "[FilePath]\r\nPath=" << (wine ? windows_path(update) : update.string())
      << "\r\nSleepTime=0\r\n";
  const char* ordinals[] = {"First", "Second", "Third", "Fourth", "Fifth", "Sixth"};
  const int first = wine ? first_com : 1;
  for (int k = 0; k < 6; ++k)
    ini << "[ATPort_" << ordinals[k] << "]\r\nnumber=" << first + k << "\r\n";
  ini.close();

  std::vector<std::string> simulator = {QUILL_SIMULATOR, "--count", "6", "--store", "store"};
  if (wine) {
    simulator.insert(simulator.end(),
                     {"--ports", "com-ports", "--first", std::to_string(first_com)});
  }
  x_session::Child sim = x_session::spawn(simulator, b.dir, {}, true);
  std::string line;
  while (x_session::read_line(sim.output, &line) && line != "ready") {
  }
  ::close(sim.output);
  b.simulator = line == "ready" ? sim.pid : -1;
  return b;
}

}  // namespace

BenchFolder make_bench(int64_t size) {
  return make(size, 0);
}

BenchFolder make_wine_bench(int64_t size, int first_com) {
  return make(size, first_com);
}

void remove_bench(BenchFolder& b) {
  if (b.simulator > 0) {
    ::kill(b.simulator, SIGTERM);
    ::waitpid(b.simulator, nullptr, 0);
  }
  std::error_code ignored;
  if (!b.dir.empty()) fs::remove_all(b.dir, ignored);
}

}  // namespace bench
