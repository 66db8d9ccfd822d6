// The bench lock: one program per bench folder, whoever runs it; the holder is named to the
// others, a lock left by a process that died is taken, and a lock that cannot be taken says why.
#include "platform/bench_lock.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using platform::BenchLock;
using platform::LockRefusal;
using testing_support::read_file;
using testing_support::TempDir;

namespace {

// A process that takes the bench lock of `bench`, as user `uid` when it is not -1, tells the
// parent "y" or "n" and the refusal, and then holds what it took until it is ended.
struct Taker {
  pid_t pid = -1;
  char taken = 0;
  LockRefusal refusal;
};

Taker take_in_child(const fs::path& bench, int uid = -1) {
  int pipe_fds[2];
  Taker taker;
  if (::pipe(pipe_fds) != 0) return taker;
  taker.pid = ::fork();
  if (taker.pid == 0) {
    ::close(pipe_fds[0]);
    if (uid >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0))
      ::_exit(1);
    LockRefusal refusal;
    auto lock = BenchLock::acquire(bench.string(), &refusal);
    std::string report = std::string(lock ? "y" : "n") + (refusal.held ? "h" : "-") +
                         std::to_string(refusal.holder) + "|" + refusal.program + "|" +
                         refusal.reason;
    if (::write(pipe_fds[1], report.data(), report.size()) < 0) ::_exit(1);
    ::close(pipe_fds[1]);
    ::pause();
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<size_t>(n));
    if (report.find('|', report.find('|') + 1) != std::string::npos) break;
  }
  ::close(pipe_fds[0]);
  if (report.size() < 2) return taker;
  taker.taken = report[0];
  taker.refusal.held = report[1] == 'h';
  const size_t first = report.find('|'), second = report.find('|', first + 1);
  taker.refusal.holder = static_cast<pid_t>(std::stol(report.substr(2, first - 2)));
  taker.refusal.program = report.substr(first + 1, second - first - 1);
  taker.refusal.reason = report.substr(second + 1);
  return taker;
}

void end(Taker& taker) {
  ::kill(taker.pid, SIGKILL);
  ::waitpid(taker.pid, nullptr, 0);
}

}  // namespace

TEST(BenchLockTest, OneHolderNamedToTheOthersAndALockLeftByADeadProcessIsTaken) {
  TempDir bench;
  const fs::path file = bench.path() / "ZEBL.lock";
  Taker holder = take_in_child(bench.path());
  ASSERT_EQ(holder.taken, 'y');

  LockRefusal refusal;
  EXPECT_FALSE(BenchLock::acquire(bench.str(), &refusal));
  EXPECT_EQ(refusal.lock, "bench lock");
  EXPECT_TRUE(refusal.held);
  EXPECT_EQ(refusal.holder, holder.pid);
  EXPECT_EQ(refusal.program, "platform_tests");
  EXPECT_EQ(platform::describe_holder(refusal),
            "process " + std::to_string(holder.pid) + " platform_tests");

  end(holder);  // killed: its record stays, its lock does not
  EXPECT_EQ(read_file(file), std::to_string(holder.pid) + " platform_tests\n");
  auto mine = BenchLock::acquire(bench.str() + "/", &refusal);
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->path(), file.string());
  EXPECT_EQ(read_file(file), std::to_string(::getpid()) + " platform_tests\n");
  mine.reset();
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(read_file(file), "");
}

// Each of these cannot be taken, and says why; none is taken for a running program.
TEST(BenchLockTest, ALockFileThatCannotBeUsedIsReportedWithTheReason) {
  TempDir base;
  const fs::path folder = base.path() / "folder", linked = base.path() / "linked",
                 missing = base.path() / "missing";
  fs::create_directories(folder / "ZEBL.lock");
  fs::create_directory(linked);
  fs::create_symlink(base.path() / "elsewhere", linked / "ZEBL.lock");
  struct Case {
    fs::path bench;
    int error;
  };
  for (const Case& c : {Case{folder, EISDIR}, Case{linked, ELOOP}, Case{missing, ENOENT}}) {
    LockRefusal refusal;
    EXPECT_FALSE(BenchLock::acquire(c.bench.string(), &refusal));
    EXPECT_FALSE(refusal.held);
    EXPECT_EQ(refusal.reason, (c.bench / "ZEBL.lock").string() + ": " + std::strerror(c.error));
  }
  EXPECT_FALSE(fs::exists(base.path() / "elsewhere"));
}

// Another user who may read the lock file but not write it is told who holds it; with the lock
// free, or without a lock file it may create, it is refused with the reason.
TEST(BenchLockTest, AnotherUserIsToldTheHolderOrWhyItCannotTakeTheLock) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  TempDir bench;
  fs::permissions(bench.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  const std::string file = (bench.path() / "ZEBL.lock").string();

  Taker other = take_in_child(bench.path(), 65534);  // no lock file yet, and none may be made
  EXPECT_EQ(other.taken, 'n');
  EXPECT_FALSE(other.refusal.held);
  EXPECT_EQ(other.refusal.reason, file + ": " + std::strerror(EACCES));
  end(other);

  const mode_t umask = ::umask(022);
  auto mine = BenchLock::acquire(bench.str());
  ::umask(umask);
  ASSERT_TRUE(mine);
  other = take_in_child(bench.path(), 65534);
  EXPECT_EQ(other.taken, 'n');
  EXPECT_TRUE(other.refusal.held);
  EXPECT_EQ(other.refusal.holder, ::getpid());
  EXPECT_EQ(other.refusal.program, "platform_tests");
  end(other);

  mine.reset();
  other = take_in_child(bench.path(), 65534);
  EXPECT_EQ(other.taken, 'n');
  EXPECT_FALSE(other.refusal.held);
  EXPECT_EQ(other.refusal.reason, file + ": " + std::strerror(EACCES));
  end(other);
}
