// The simulator as a new user meets it: it never takes over the links of another simulator or port
// of the bench, takes the lowest free numbers by itself, tells what it does, and leaves no port
// locked by a tool that was killed.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/com_ports.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"
#include "tools/simulator/pty_module_server.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

class SimulatorTest : public ::testing::Test {
 protected:
  fs::path link(unsigned n) const { return bench.path() / "ports" / ("COM" + std::to_string(n)); }
  // Output (standard output and standard error) and exit status of a simulator that ends by itself.
  std::pair<std::string, int> run_to_end(std::vector<std::string> args) {
    args.insert(args.begin(), QUILL_SIMULATOR);
    Process p = spawn(args, bench.path(), runtime.str(), true);
    std::string out = read_all(p.output);
    return {out, wait_exit(p.pid)};
  }

  TempDir bench;
  TempDir runtime;
};

int open_descriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace

TEST_F(SimulatorTest, ASecondSimulatorRefusesLiveLinksAndLeavesThemIntact) {
  Process first =
      spawn({QUILL_SIMULATOR, "--first", "2", "--count", "1"}, bench.path(), runtime.str());
  std::string listed = wait_ready(first.output);
  fs::path device = fs::read_symlink(link(2));
  EXPECT_EQ(listed, "COM2 " + device.string() + "\nready\n");

  auto [out, status] = run_to_end({"--first", "1", "--count", "3"});  // COM1 is free, COM2 is not
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("quillmark-sim: COM2: ports/COM2 is in use: it leads to " + device.string()),
            std::string::npos)
      << out;
  EXPECT_EQ(fs::read_symlink(link(2)), device);
  EXPECT_FALSE(fs::is_symlink(link(1)));  // its own link is gone with it
  EXPECT_FALSE(fs::is_symlink(link(3)));

  ::kill(first.pid, SIGTERM);
  EXPECT_EQ(wait_exit(first.pid), 0);
  ::close(first.output);
  EXPECT_FALSE(fs::is_symlink(link(2)));
}

TEST_F(SimulatorTest, ADanglingLinkIsReplacedAndAFaultForAnotherPortIsRefused) {
  fs::create_directories(link(1).parent_path());
  fs::create_symlink(bench.path() / "crashed", link(1));

  auto [out, status] = run_to_end({"--count", "1", "--fault", "COM2:silent"});
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("COM2 is not simulated"), std::string::npos) << out;
  EXPECT_EQ(fs::read_symlink(link(1)), bench.path() / "crashed");

  Process sim = spawn({QUILL_SIMULATOR, "--count", "1"}, bench.path(), runtime.str());
  std::string listed = wait_ready(sim.output);
  EXPECT_EQ(listed, "COM1 " + fs::read_symlink(link(1)).string() + "\nready\n");
  ::kill(sim.pid, SIGTERM);
  EXPECT_EQ(wait_exit(sim.pid), 0);
  ::close(sim.output);
}

TEST_F(SimulatorTest, AModuleThatCannotBeAddedKeepsNoDescriptor) {
  simulator::PtyModuleServer first(bench.path() / "ports");
  ASSERT_TRUE(first.add(1, {}));
  std::ofstream(bench.path() / "file") << "x";
  simulator::PtyModuleServer second(bench.path() / "ports"), misplaced(bench.path() / "file");

  int before = open_descriptors();
  std::string why;
  EXPECT_FALSE(second.add(1, {}, &why));
  EXPECT_NE(why.find("is in use"), std::string::npos) << why;
  EXPECT_FALSE(misplaced.add(1, {}, &why));
  EXPECT_FALSE(first.add(1, {}, &why));
  EXPECT_EQ(why, "COM1 is simulated already");
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_EQ(fs::read_symlink(link(1)), first.device(1));
}

// Without --first the modules take the lowest numbers that no port of the bench uses or keeps: an
// on-board serial port that holds COM1 no longer keeps the simulator from starting.
TEST_F(SimulatorTest, WithoutFirstItTakesTheLowestFreeNumbersAndSaysWhatItDoes) {
  fs::create_directories(link(1).parent_path());
  fs::create_symlink("/dev/null", link(1));               // a device: in use
  fs::create_symlink(bench.path() / "crashed", link(3));  // dangling: free
  std::ofstream(bench.path() / "ports" / "numbers")       // COM2 kept for a socket
      << "2 /dev/ttyS0 platform-serial8250:0.0 -\n";
  Process sim = spawn({QUILL_SIMULATOR, "--count", "2"}, bench.path(), runtime.str(), true);
  std::string told = wait_ready(sim.output);
  EXPECT_NE(told.find("quillmark-sim: simulating COM3, COM4\n"), std::string::npos) << told;
  EXPECT_NE(told.find("quillmark-sim: no --store: the files received are not kept\n"),
            std::string::npos)
      << told;
  EXPECT_NE(told.find("COM3 " + fs::read_symlink(link(3)).string() + "\n"), std::string::npos);
  EXPECT_NE(told.find("COM4 " + fs::read_symlink(link(4)).string() + "\n"), std::string::npos);
  EXPECT_EQ(fs::read_symlink(link(1)), "/dev/null");
  EXPECT_FALSE(fs::exists(link(2)));
  ::kill(sim.pid, SIGTERM);
  EXPECT_EQ(wait_exit(sim.pid), 0);
  ::close(sim.output);

  auto [help, status] = run_to_end({"--help"});
  EXPECT_EQ(status, 0);
  for (const char* part : {"Usage: quillmark-sim", "--store DIR", "--first N", "lowest numbers",
                           "Faults:", "  pull-after=<bytes>", "Examples:", "Exit status:"})
    EXPECT_NE(help.find(part), std::string::npos) << part << "\n" << help;
  auto [bad, bad_status] = run_to_end({"--count"});
  EXPECT_EQ(bad_status, 2);
  EXPECT_EQ(bad.rfind("quillmark-sim: option '--count' requires an argument\nUsage: ", 0), 0u)
      << bad;
}

namespace {

// A process of user 65534 in `dir` running `body` with the read end of what the test sends it and
// the write end of what it tells the test.
struct OtherUser {
  pid_t pid = -1;
  int to_child = -1;
  int from_child = -1;
};

OtherUser as_other_user(const fs::path& dir, const std::function<void(int, int)>& body) {
  int down[2], up[2];
  if (::pipe(down) != 0 || ::pipe(up) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(down[1]);
    ::close(up[0]);
    if (::chdir(dir.c_str()) != 0 || ::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
        ::setuid(65534) != 0)
      ::_exit(1);
    body(down[0], up[1]);
    ::_exit(0);
  }
  ::close(down[0]);
  ::close(up[1]);
  return {pid, down[1], up[0]};
}

void tell(int fd, const std::string& text) {
  if (::write(fd, text.data(), text.size()) < 0) ::_exit(1);
}

// What another user's opening of COM1 meets: "" when it opens.
std::string try_opening(const fs::path& bench) {
  OtherUser probe = as_other_user(bench, [](int, int out) {
    std::string why;
    bool opened = platform::open_com_port(1, &why) != nullptr;
    tell(out, opened ? "" : why.empty() ? "refused" : why);
  });
  std::string why = read_all(probe.from_child);
  ::close(probe.to_child);
  wait_exit(probe.pid);
  return why;
}

// The tool's side of COM1: opened as the tool opens it, then on each request an AT exchange.
OtherUser start_client(const fs::path& bench) {
  return as_other_user(bench, [](int in, int out) {
    std::string why;
    auto port = platform::open_com_port(1, &why);
    tell(out, port && port->configure() ? "y" : "n" + why);
    for (char request; port && ::read(in, &request, 1) == 1;) {
      port->write_all("AT\r", 3);
      std::string reply;
      char buffer[64];
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (reply.find("OK\r\n") == std::string::npos &&
             std::chrono::steady_clock::now() < deadline) {
        long n = port->read(buffer, sizeof buffer);
        if (n > 0) reply.append(buffer, static_cast<size_t>(n));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      tell(out, reply.find("OK\r\n") != std::string::npos ? "k" : "f");
    }
    ::pause();  // holds the port until it is killed
  });
}

}  // namespace

// A tool killed while it has the port open leaves the terminal in exclusive mode, which the
// simulator's own descriptor keeps alive. The simulator gives the port back once nobody holds it,
// and never while somebody does. Run as another user: root's openings ignore exclusive mode.
TEST_F(SimulatorTest, AToolKilledWithThePortOpenLeavesItFreeForTheNextOpening) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  fs::permissions(bench.path(), fs::perms::all);
  Process sim = spawn({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                       QUILL_SIMULATOR, "--first", "1", "--count", "1"},
                      bench.path(), runtime.str());
  ASSERT_NE(wait_ready(sim.output).find("ready"), std::string::npos);
  const std::string device = fs::read_symlink(link(1)).string();

  OtherUser client = start_client(bench.path());
  char answer = 0;
  ASSERT_EQ(::read(client.from_child, &answer, 1), 1);
  ASSERT_EQ(answer, 'y');
  // Someone else's descriptor closed on the terminal, and exchanges after it: the simulator has
  // looked at the terminal meanwhile. The port stays the client's alone, by its exclusive mode.
  ::close(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
  for (int k = 0; k < 2; ++k) {
    tell(client.to_child, "x");
    ASSERT_EQ(::read(client.from_child, &answer, 1), 1);
    EXPECT_EQ(answer, 'k');
  }
  EXPECT_EQ(try_opening(bench.path()).rfind(device + ": in use by another program", 0), 0u);

  ::kill(client.pid, SIGKILL);
  EXPECT_EQ(wait_exit(client.pid), -1);
  ::close(client.to_child);
  ::close(client.from_child);
  std::string why;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!(why = try_opening(bench.path())).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(why, "") << "the next opening is still refused";

  ::kill(sim.pid, SIGTERM);
  EXPECT_EQ(wait_exit(sim.pid), 0);
  ::close(sim.output);
}
