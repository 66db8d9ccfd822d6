// What the terminal runner says when it cannot take the single-instance lock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/instance_lock.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/tool_process.h"

using namespace testing_support;

TEST(RunnerLockTest, NamesTheHoldingProcessOrTheReasonTheLockCannotBeCreated) {
  TempDir bench, runtime;
  auto held = platform::InstanceLock::acquire("ZEBL", runtime.str());
  ASSERT_TRUE(held);
  Process run = spawn({QUILL_RUNNER}, bench.path(), runtime.str(), true);
  std::string out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 3);
  EXPECT_EQ(out, "Tool has been opened! (process " + std::to_string(::getpid()) + ")\n");
  held.reset();

  std::filesystem::permissions(runtime.path(), std::filesystem::perms::all);
  run = spawn({QUILL_RUNNER}, bench.path(), runtime.str(), true);
  out = read_all(run.output);
  EXPECT_EQ(wait_exit(run.pid), 2);
  EXPECT_EQ(out.rfind("quillmark-run: cannot take the single-instance lock: " + runtime.str() +
                          ": other users have access",
                      0),
            0u)
      << out;
}
