// The single-instance lock: who holds it, and why a lock could not be taken at all.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using platform::InstanceLock;
using testing_support::read_file;
using testing_support::TempDir;

namespace {

fs::path lock_file(const fs::path& dir) {
  return dir / ("ZEBL." + std::to_string(::getuid()) + ".lock");
}

}  // namespace

TEST(InstanceLockTest, ARefusedProcessIsToldWhichProcessHoldsTheLock) {
  TempDir dir;
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::close(release[1]);  // so that the parent's close ends the read below
    auto lock = InstanceLock::acquire("ZEBL", dir.str());
    char c = lock ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1 || ::read(release[0], &c, 1) < 0) ::_exit(1);
    ::_exit(0);  // ends holding the lock: the kernel releases it
  }
  ::close(ready[1]);
  ::close(release[0]);
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  ASSERT_EQ(taken, 'y');

  InstanceLock::Refusal refusal;
  EXPECT_FALSE(InstanceLock::acquire("ZEBL", dir.str(), &refusal));
  EXPECT_TRUE(refusal.held);
  EXPECT_EQ(refusal.holder, holder);
  EXPECT_EQ(refusal.program, "platform_tests");
  EXPECT_EQ(refusal.reason, "");

  ::close(release[1]);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  auto mine = InstanceLock::acquire("ZEBL", dir.str(), &refusal);
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->path(), lock_file(dir.path()).string());
  EXPECT_EQ(read_file(lock_file(dir.path())), std::to_string(::getpid()) + " platform_tests\n");
  mine.reset();
  EXPECT_EQ(read_file(lock_file(dir.path())), "");  // no id left behind for a holder gone
}

// Each of these is a lock that cannot be created, reported with its path and reason, never as a
// running instance.
TEST(InstanceLockTest, AFolderOthersCouldChangeOrAnUnopenableLockFileIsReportedWithTheReason) {
  TempDir base;
  fs::path shared = base.path() / "shared", linked = base.path() / "linked",
           file = base.path() / "file", foreign = base.path() / "foreign",
           blocked = base.path() / "blocked", missing = base.path() / "missing" / "deeper";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::owner_all | fs::perms::group_all);
  fs::create_directory_symlink(base.path(), linked);
  std::ofstream(file) << "x";
  fs::create_directory(foreign, base.path());
  bool can_give_away = ::chown(foreign.c_str(), 65534, 65534) == 0;
  fs::create_directory(blocked, base.path());
  fs::create_directory(lock_file(blocked));  // the lock file's name is taken by a folder

  struct Case {
    fs::path dir;
    std::string reason;
  };
  std::vector<Case> cases = {
      {shared, shared.string() + ": other users have access to the folder (mode 0770"},
      {linked, linked.string() + ": is a symbolic link, not a folder"},
      {file, file.string() + ": is not a folder"},
      {blocked, lock_file(blocked).string() + ": " + std::strerror(EISDIR)},
      {missing, missing.string() + ": " + std::strerror(ENOENT)}};
  if (can_give_away) cases.push_back({foreign, foreign.string() + ": belongs to user 65534"});
  for (const Case& c : cases) {
    InstanceLock::Refusal refusal;
    EXPECT_FALSE(InstanceLock::acquire("ZEBL", c.dir.string(), &refusal)) << c.dir;
    EXPECT_FALSE(refusal.held) << c.dir;
    EXPECT_EQ(refusal.reason.rfind(c.reason, 0), 0u) << refusal.reason;
  }
  EXPECT_FALSE(fs::exists(lock_file(base.path())));  // nothing was made through the link
}

// The folder of the lock in the user's home is made this way when missing.
TEST(InstanceLockTest, AMissingFolderIsMadeForTheUserAlone) {
  TempDir base;
  fs::path own = base.path() / "quillmark-own";
  EXPECT_TRUE(InstanceLock::acquire("ZEBL", own.string()));
  struct stat st {};
  ASSERT_EQ(::lstat(own.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, ::geteuid());
}

namespace {

// Sets environment variables for its scope (an empty value unsets one).
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<const char*, std::string>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
      if (value.empty())
        ::unsetenv(name);
      else
        ::setenv(name, value.c_str(), 1);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name, value->c_str(), 1);
      else
        ::unsetenv(name);
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

mode_t mode_of(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

// Without a runtime folder the lock lives in the user's home, where no other user can make its
// folder first (a shared folder such as /tmp would let anyone keep the tool from starting).
TEST(InstanceLockTest, WithoutARuntimeFolderTheLockIsInTheUsersHome) {
  TempDir base;
  const fs::path home = base.path() / "home", state = home / ".local" / "state";
  fs::create_directory(home);
  {
    ScopedEnvironment env{{"XDG_RUNTIME_DIR", ""}, {"XDG_STATE_HOME", ""}, {"HOME", home}};
    EXPECT_EQ(InstanceLock::default_directory(), (state / "quillmark").string());
    auto lock = InstanceLock::acquire("ZEBL");
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->path(), lock_file(state / "quillmark").string());
    for (const fs::path& made : {home / ".local", state, state / "quillmark"})
      EXPECT_EQ(mode_of(made), 0700u) << made;
  }
  {
    // A relative XDG_STATE_HOME means nothing.
    ScopedEnvironment env{{"XDG_RUNTIME_DIR", ""}, {"XDG_STATE_HOME", "state"}, {"HOME", home}};
    EXPECT_EQ(InstanceLock::default_directory(), (state / "quillmark").string());
  }
  ScopedEnvironment env{
      {"XDG_RUNTIME_DIR", ""}, {"XDG_STATE_HOME", (base.path() / "s").string()}, {"HOME", home}};
  EXPECT_EQ(InstanceLock::default_directory(), (base.path() / "s" / "quillmark").string());
  EXPECT_TRUE(InstanceLock::acquire("ZEBL"));
}

// A folder for the lock is never made in another user's folder (root with somebody's HOME, after
// su or sudo -E): that user would find it in the way at the next start.
TEST(InstanceLockTest, NoFolderIsMadeInAnotherUsersHome) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  TempDir base;
  const fs::path home = base.path() / "home";
  fs::create_directory(home);
  ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
  ScopedEnvironment env{{"XDG_RUNTIME_DIR", ""}, {"XDG_STATE_HOME", ""}, {"HOME", home}};
  InstanceLock::Refusal refusal;
  EXPECT_FALSE(InstanceLock::acquire("ZEBL", {}, &refusal));
  EXPECT_FALSE(refusal.held);
  EXPECT_EQ(refusal.reason.rfind(home.string() + ": belongs to user 65534, not to user 0", 0), 0u)
      << refusal.reason;
  EXPECT_FALSE(fs::exists(home / ".local"));
}
