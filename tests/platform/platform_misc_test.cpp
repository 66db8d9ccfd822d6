#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/executable_dir.h"
#include "platform/instance_lock.h"
#include "platform/virtual_clock.h"
#include "tests/support/temp_dir.h"

TEST(InstanceLockTest, OneHolderAtATimeAcrossProcesses) {
  testing_support::TempDir dir;
  auto first = platform::InstanceLock::acquire("ZEBL", dir.str());
  ASSERT_TRUE(first);
  EXPECT_FALSE(platform::InstanceLock::acquire("ZEBL", dir.str()));
  EXPECT_TRUE(platform::InstanceLock::acquire("OTHER", dir.str()));

  pid_t child = ::fork();
  if (child == 0) ::_exit(platform::InstanceLock::acquire("ZEBL", dir.str()) ? 1 : 0);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);

  first.reset();
  EXPECT_TRUE(platform::InstanceLock::acquire("ZEBL", dir.str()));
}

TEST(VirtualClockTest, EachThreadHasItsOwnTimeLine) {
  platform::VirtualClock clock(1000);
  clock.sleep_ms(300);
  int64_t other = -1;
  std::thread t([&] {
    clock.sleep_ms(50);
    other = clock.now_ms();
  });
  t.join();
  EXPECT_EQ(clock.now_ms(), 300);
  EXPECT_EQ(other, 50);
  clock.sleep_ms(-5);
  EXPECT_EQ(clock.now_ms(), 300);
}

TEST(ExecutableDirectoryTest, IsTheFolderOfTheTestProgram) {
  std::string dir = platform::executable_directory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(::access((dir + "platform_tests").c_str(), X_OK), 0);
  EXPECT_EQ(platform::executable_name(), "platform_tests");
}
