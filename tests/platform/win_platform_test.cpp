// The Windows side of the platform: the named mutex, COM ports of the device namespace and the
// program's folders.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/bench_lock.h"
#include "platform/com_ports.h"
#include "platform/executable_dir.h"
#include "platform/instance_lock.h"
#include "tests/support/temp_dir.h"

namespace {

// A mutex name of this test alone, so that a running tool is never disturbed.
std::string private_name() {
  static std::atomic<int> counter{0};
  return "quillmark-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(counter++);
}

TEST(NamedMutexTest, OneHolderAtATimeAndFreeWhenItEnds) {
  const std::string name = private_name();
  platform::InstanceLock::Refusal refusal;
  auto first = platform::InstanceLock::acquire(name, {}, &refusal);
  ASSERT_TRUE(first) << refusal.reason;
  EXPECT_EQ(first->path(), name);

  refusal.reason = "stale";
  EXPECT_FALSE(platform::InstanceLock::acquire(name, {}, &refusal));
  EXPECT_TRUE(refusal.held);
  EXPECT_EQ(refusal.holder, 0);  // a mutex does not tell its holder
  EXPECT_TRUE(refusal.reason.empty());
  EXPECT_TRUE(platform::InstanceLock::acquire(private_name()));  // another name is free

  first.reset();
  auto second = platform::InstanceLock::acquire(name, {}, &refusal);
  EXPECT_TRUE(second);
  EXPECT_FALSE(refusal.held);

  // A name the system cannot create (a backslash names a namespace) is no running instance.
  EXPECT_FALSE(platform::InstanceLock::acquire("NoSuchNamespace\\" + name, {}, &refusal));
  EXPECT_FALSE(refusal.held);
  EXPECT_NE(refusal.reason.find(name), std::string::npos);
}

// The bench lock keeps a second holder out and names the first; others can still read who it is.
TEST(BenchLockTest, OneHolderNamedToTheOthersAndAFileThatCannotBeMadeSaysWhy) {
  testing_support::TempDir bench;
  const std::string file = bench.str() + "/ZEBL.lock";
  platform::LockRefusal refusal;
  auto first = platform::BenchLock::acquire(bench.str(), &refusal);
  ASSERT_TRUE(first) << refusal.reason;
  EXPECT_EQ(first->path(), file);
  const std::string record =
      std::to_string(::GetCurrentProcessId()) + " " + platform::executable_name() + "\n";
  EXPECT_EQ(testing_support::read_file(file), record);

  EXPECT_FALSE(platform::BenchLock::acquire(bench.str(), &refusal));
  EXPECT_TRUE(refusal.held);
  EXPECT_EQ(refusal.holder, static_cast<pid_t>(::GetCurrentProcessId()));
  EXPECT_EQ(refusal.program, "platform_tests.exe");
  first.reset();
  EXPECT_EQ(testing_support::read_file(file), "");
  EXPECT_TRUE(platform::BenchLock::acquire(bench.str()));

  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_FALSE(platform::BenchLock::acquire(bench.str(), &refusal));
  EXPECT_FALSE(refusal.held);
  EXPECT_EQ(refusal.reason.rfind(file + ": ", 0), 0u) << refusal.reason;
}

TEST(ComPortTest, PortsAreTheDevicesOfTheirNumber) {
  EXPECT_EQ(platform::com_link_path(7), "\\\\.\\COM7");
  EXPECT_EQ(platform::com_link_path(12), "\\\\.\\COM12");
  EXPECT_EQ(platform::resolve_com_port(0), std::nullopt);
  // Numbers far above what a bench uses are not present.
  for (unsigned n : {0u, 211u, 4567u}) {
    SCOPED_TRACE(n);
    std::string why;
    EXPECT_EQ(platform::open_com_port(n, &why), nullptr);
    EXPECT_EQ(why, "COM" + std::to_string(n) + " is not present");
    if (n > 0) {
      EXPECT_EQ(platform::resolve_com_port(n), std::nullopt);
    }
  }
}

TEST(FoldersTest, TheProgramsFolderAndTheWorkingFolderEndInASeparator) {
  const std::string exe = platform::executable_directory();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.back(), '\\');
  EXPECT_NE(::GetFileAttributesA((exe + "platform_tests.exe").c_str()), INVALID_FILE_ATTRIBUTES);
  const std::string cwd = platform::working_directory();
  ASSERT_FALSE(cwd.empty());
  EXPECT_EQ(cwd.back(), '\\');
}

}  // namespace
