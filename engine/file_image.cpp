#include "engine/file_image.h"

#include <climits>
#include <new>

#include "platform/files.h"

namespace engine {

namespace {

std::function<void(const std::string&)> interleave;

bool same_file_state(const platform::FileStatus& a, const platform::FileStatus& b) {
  return a.size == b.size && a.modified_ns == b.modified_ns;
}

}  // namespace

std::unique_ptr<uint8_t[]> file_read(const std::string& path, int32_t* size) {
  // Opening a FIFO never waits for a writer; it is refused below.
  platform::File file = platform::File::open(path, platform::FileAccess::read);
  if (!file.is_open()) return nullptr;
  platform::FileStatus before;
  if (!file.status(&before) || !before.regular) return nullptr;
  if (before.size <= 0 || before.size > INT32_MAX) return nullptr;

  const size_t length = static_cast<size_t>(before.size);
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[length]);
  if (!data) return nullptr;
  size_t done = 0;
  while (done < length) {
    long n = file.read(data.get() + done, length - done);
    if (n <= 0) return nullptr;  // an error, or the file shrank
    done += static_cast<size_t>(n);
  }
  if (interleave) interleave(path);
  uint8_t extra;
  platform::FileStatus after;
  if (file.read(&extra, 1) != 0 || !file.status(&after) || !same_file_state(before, after))
    return nullptr;  // the file grew or was rewritten while it was read
  *size = static_cast<int32_t>(length);
  return data;
}

void set_file_read_interleave(std::function<void(const std::string& path)> change) {
  interleave = std::move(change);
}

std::string module_file_name(const std::string& path, std::string* why) {
  std::string name = path.substr(path.find_last_of(platform::kPathSeparators) + 1);
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
