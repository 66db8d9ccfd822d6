#include "engine/file_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <new>

namespace engine {

namespace {

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::function<void(const std::string&)> interleave;

bool same_file_state(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

std::unique_ptr<uint8_t[]> file_read(const std::string& path, int32_t* size) {
  // Non-blocking, so that opening a FIFO never waits for a writer; it is refused below.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return nullptr;
  struct stat before {};
  if (::fstat(file.fd, &before) != 0 || !S_ISREG(before.st_mode)) return nullptr;
  if (before.st_size <= 0 || before.st_size > INT32_MAX) return nullptr;

  const size_t length = static_cast<size_t>(before.st_size);
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[length]);
  if (!data) return nullptr;
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::read(file.fd, data.get() + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return nullptr;  // an error, or the file shrank
    done += static_cast<size_t>(n);
  }
  if (interleave) interleave(path);
  uint8_t extra;
  struct stat after {};
  if (::read(file.fd, &extra, 1) != 0 || ::fstat(file.fd, &after) != 0 ||
      !same_file_state(before, after))
    return nullptr;  // the file grew or was rewritten while it was read
  *size = static_cast<int32_t>(length);
  return data;
}

void set_file_read_interleave(std::function<void(const std::string& path)> change) {
  interleave = std::move(change);
}

std::string module_file_name(const std::string& path, std::string* why) {
  std::string name = path.substr(path.rfind('/') + 1);
  auto refuse = [why](const char* reason) {
    if (why) *why = reason;
    return std::string();
  };
  if (name.empty()) return refuse("the path names no file");
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return refuse("the file name holds a control character");
    if (c == '"') return refuse("the file name holds a double quote");
    if (c == ',' || c == ';') return refuse("the file name holds a comma or a semicolon");
  }
  return name;
}

}  // namespace engine
