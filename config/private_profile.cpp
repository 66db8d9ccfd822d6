#include "config/private_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "engine/notifications.h"

namespace config {

namespace {

std::atomic<WriteStepHook> step_hook{nullptr};

constexpr const char* kInexactUtf16 =
    "the UTF-16 text has an odd byte count or an unpaired surrogate";

void reached(WriteStep step) {
  if (WriteStepHook hook = step_hook.load()) hook(step);
}

// Why an operation failed: what was done and the system's reason.
std::string failure(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { release(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting the result (a delayed write error shows up here).
  bool release() {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

enum class ReadOutcome { read, missing, failed };

// Reads the whole regular file at `path`; its mode goes to `mode` when `mode` is given.
ReadOutcome read_whole_file(const std::string& path, std::string& content, std::string& why,
                            mode_t* mode = nullptr) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    if (errno == ENOENT) return ReadOutcome::missing;
    why = failure("open");
    return ReadOutcome::failed;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    why = failure("stat");
    return ReadOutcome::failed;
  }
  if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
    return ReadOutcome::failed;
  }
  if (static_cast<size_t>(st.st_size) > kMaxProfileFileSize) {
    why = "larger than 1 MiB";
    return ReadOutcome::failed;
  }
  if (mode) *mode = st.st_mode & 07777;
  content.clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = failure("read");
      return ReadOutcome::failed;
    }
    if (n == 0) return ReadOutcome::read;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > kMaxProfileFileSize) {
      why = "larger than 1 MiB";
      return ReadOutcome::failed;
    }
  }
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The file a write replaces: the target of a symbolic link, so that the link itself survives.
std::string write_target(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// A new, empty temporary file beside `target`, created with the usual permissions (0666 less the
// umask); its name goes to `temporary`.
int create_temporary(const std::string& target, std::string& temporary) {
  static std::atomic<unsigned> counter{0};
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = folder + "." + base + "." + std::to_string(::getpid()) + "-" +
                std::to_string(counter++) + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The rename is durable only once the folder itself is on disk.
void flush_folder_of(const std::string& target) {
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

// Replaces the file at `target` by `content`: a temporary file, flush, rename. On failure the
// temporary file is removed, the old file is untouched and `why` says what failed.
bool replace_file(const std::string& target, std::string_view content, const mode_t* mode,
                  std::string& why) {
  std::string temporary;
  Descriptor fd(create_temporary(target, temporary));
  if (fd.get() < 0) {
    why = failure("create temporary file");
    return false;
  }
  reached(WriteStep::temporary_created);
  auto fail = [&](const char* what) {
    why = failure(what);
    fd.release();
    ::unlink(temporary.c_str());
    return false;
  };
  if (mode && ::fchmod(fd.get(), *mode) != 0) return fail("keep permissions");
  if (!write_all(fd.get(), content)) return fail("write temporary file");
  reached(WriteStep::temporary_written);
  if (::fsync(fd.get()) != 0) return fail("flush temporary file");
  if (!fd.release()) return fail("close temporary file");
  reached(WriteStep::flushed);
  if (::rename(temporary.c_str(), target.c_str()) != 0) return fail("rename");
  reached(WriteStep::renamed);
  flush_folder_of(target);
  return true;
}

}  // namespace

ProfileText read_profile_file(const std::string& path, bool* failed) {
  if (failed) *failed = false;
  std::string content;
  std::string why;
  switch (read_whole_file(path, content, why)) {
    case ReadOutcome::read: {
      DecodedProfile decoded = decode_profile(content);
      if (!decoded.exact)
        engine::debug_trace("read_profile_file() %s; read as far as it converts: %s", kInexactUtf16,
                            path.c_str());
      return ProfileText(std::move(decoded.text));
    }
    case ReadOutcome::missing:
      return ProfileText();
    case ReadOutcome::failed:
      break;
  }
  if (failed) *failed = true;
  engine::debug_trace("read_profile_file() %s: %s", why.c_str(), path.c_str());
  return ProfileText();
}

std::string profile_string(const ProfileText& text, std::string_view section, std::string_view key,
                           std::string_view default_value, size_t capacity) {
  std::string_view value = text.find_or(section, key, default_value);
  return std::string(value.substr(0, capacity > 0 ? capacity - 1 : 0));
}

std::string get_private_profile_string(std::string_view section, std::string_view key,
                                       std::string_view default_value, const std::string& path,
                                       size_t capacity) {
  return profile_string(read_profile_file(path), section, key, default_value, capacity);
}

bool write_private_profile_string(std::string_view section, std::string_view key,
                                  std::string_view value, const std::string& path) {
  std::string why;
  if (path.empty()) {
    why = "the settings folder is unknown";
  } else {
    const std::string target = write_target(path);
    std::string content;
    mode_t mode = 0;
    ReadOutcome outcome = read_whole_file(target, content, why, &mode);
    if (outcome != ReadOutcome::failed) {
      const DecodedProfile decoded = decode_profile(content);
      ProfileText text(decoded.text);
      std::optional<std::string> written;
      if (!decoded.exact) {
        why = kInexactUtf16;
      } else if (!text.set(section, key, value)) {
        why = "a name or the value cannot be written as one line";
      } else if (text.text() == decoded.text) {
        return true;
      } else if (!(written = encode_profile(decoded.encoding, text.text()))) {
        why = "a name or the value is not UTF-8 text, which a UTF-16 file cannot hold";
      } else if (replace_file(target, *written, outcome == ReadOutcome::read ? &mode : nullptr,
                              why)) {
        return true;
      }
    }
  }
  // The reason first: a long path is what the 200-byte line cuts.
  engine::debug_trace("write_private_profile_string() failed, %s: [%.*s] %.*s in %s", why.c_str(),
                      static_cast<int>(section.size()), section.data(),
                      static_cast<int>(key.size()), key.data(), path.c_str());
  return false;
}

void set_write_step_hook(WriteStepHook hook) {
  step_hook.store(hook);
}

}  // namespace config
