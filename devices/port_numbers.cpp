#include "devices/port_numbers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "devices/port_namespace.h"
#include "platform/serial_device_check.h"

namespace devices {

namespace {

// Serialises every change of a ports folder, also between processes (the tool and the ports
// command may run side by side). The lock is held for a few file operations only.
class FolderLock {
 public:
  explicit FolderLock(const std::string& dir)
      : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::string link_path(const std::string& dir, unsigned number) {
  return dir + "/COM" + std::to_string(number);
}

bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

bool entry_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string link_target(const std::string& path) {
  char target[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// A link is replaced in one step (a new link renamed over the old), so that the number never
// looks absent to a census or a watcher in between.
bool point_link(const std::string& dir, unsigned number, const std::string& target,
                std::string* why) {
  std::string link = link_path(dir, number);
  std::string temporary = dir + "/.COM" + std::to_string(number) + "." + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0 ||
      ::rename(temporary.c_str(), link.c_str()) != 0) {
    std::string reason = link + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return fail(why, reason);
  }
  return true;
}

bool make_folder(const std::string& dir, std::string* why) {
  if (::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST) return true;
  return fail(why, dir + ": " + std::strerror(errno));
}

// Written to a temporary file, flushed to disk and renamed over the old one: a crash leaves the
// old numbers or the new ones, never a mix.
bool write_numbers(const std::string& dir, std::vector<NumberEntry> entries, std::string* why) {
  std::sort(entries.begin(), entries.end(),
            [](const NumberEntry& a, const NumberEntry& b) { return a.number < b.number; });
  std::string text =
      "# COM numbers given automatically, kept while a port is unplugged.\n"
      "# <number> <device node> <physical path>\n";
  for (const NumberEntry& e : entries)
    text += std::to_string(e.number) + " " + e.devnode + " " + e.key + "\n";

  std::string path = dir + "/" + kNumbersFileName;
  std::string temporary = dir + "/." + kNumbersFileName + "." + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return fail(why, temporary + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool written = done == text.size() && ::fsync(fd) == 0;
  int error = errno;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    if (written) error = errno;
    ::unlink(temporary.c_str());
    return fail(why, path + ": " + std::strerror(error));
  }
  return true;
}

unsigned lowest_free_number(const std::string& dir, const std::vector<NumberEntry>& entries) {
  std::set<unsigned> taken;
  for (const NumberEntry& e : entries) taken.insert(e.number);
  unsigned n = 1;
  while (taken.count(n) || entry_exists(link_path(dir, n))) ++n;
  return n;
}

// Whether COM<number> still is the automatic link of `entry` (or missing): a link that points
// anywhere else was put there by a person.
bool link_is_automatic(const std::string& dir, const NumberEntry& entry,
                       const std::string& devnode_now) {
  std::string link = link_path(dir, entry.number);
  if (!entry_exists(link)) return true;
  std::string target = link_target(link);
  return !target.empty() && (target == entry.devnode || target == devnode_now);
}

}  // namespace

std::vector<NumberEntry> read_numbers(const std::string& ports_dir) {
  std::vector<NumberEntry> entries;
  std::ifstream file(ports_dir + "/" + kNumbersFileName);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string number, devnode, key;
    fields >> number >> devnode >> key;
    std::optional<unsigned> n = com_link_number("COM" + number);
    if (!n || devnode.empty() || key.empty()) continue;
    bool repeated = std::any_of(entries.begin(), entries.end(), [&](const NumberEntry& e) {
      return e.number == *n || e.key == key;
    });
    if (!repeated) entries.push_back({*n, devnode, key});
  }
  return entries;
}

bool assign_numbers(const std::string& ports_dir, const std::vector<HardwarePort>& present,
                    std::string* why) {
  if (present.empty() && !entry_exists(ports_dir + "/" + kNumbersFileName)) return true;
  if (!make_folder(ports_dir, why)) return false;
  FolderLock lock(ports_dir);
  if (!lock) return fail(why, ports_dir + ": " + std::strerror(errno));

  std::vector<NumberEntry> entries = read_numbers(ports_dir);
  bool changed = false;
  bool ok = true;
  std::set<std::string> present_keys;
  for (const HardwarePort& port : present) present_keys.insert(port.key);
  for (const NumberEntry& e : entries) {
    std::string link = link_path(ports_dir, e.number);
    if (!present_keys.count(e.key) && link_target(link) == e.devnode) ::unlink(link.c_str());
  }

  for (const HardwarePort& port : present) {
    auto entry = std::find_if(entries.begin(), entries.end(),
                              [&](const NumberEntry& e) { return e.key == port.key; });
    if (entry != entries.end() && !link_is_automatic(ports_dir, *entry, port.devnode)) {
      entries.erase(entry);
      entry = entries.end();
      changed = true;
    }
    if (entry == entries.end()) {
      entries.push_back({lowest_free_number(ports_dir, entries), port.devnode, port.key});
      entry = entries.end() - 1;
      changed = true;
    }
    std::string link = link_path(ports_dir, entry->number);
    if (link_target(link) != port.devnode)
      ok = point_link(ports_dir, entry->number, port.devnode, why) && ok;
    if (entry->devnode != port.devnode) {
      entry->devnode = port.devnode;
      changed = true;
    }
  }
  if (changed) ok = write_numbers(ports_dir, entries, why) && ok;
  return ok;
}

bool map_device(const std::string& ports_dir, const std::string& device_path, unsigned number,
                const std::vector<HardwarePort>& present, std::string* why) {
  if (number == 0 || number > kMaxComNumber)
    return fail(why, "COM numbers run from 1 to " + std::to_string(kMaxComNumber));
  struct stat st {};
  platform::DeviceCheck check = platform::check_serial_device(device_path, &st);
  if (check != platform::DeviceCheck::ok)
    return fail(why, device_path + ": " + platform::describe(check));
  std::error_code error;
  std::string target = std::filesystem::absolute(device_path, error).string();
  if (error) return fail(why, device_path + ": " + error.message());
  if (!make_folder(ports_dir, why)) return false;
  FolderLock lock(ports_dir);
  if (!lock) return fail(why, ports_dir + ": " + std::strerror(errno));

  std::vector<NumberEntry> entries = read_numbers(ports_dir);
  bool changed = std::erase_if(entries, [&](const NumberEntry& e) { return e.number == number; });
  auto hardware = std::find_if(present.begin(), present.end(),
                               [&](const HardwarePort& p) { return p.devnum == st.st_rdev; });
  if (hardware != present.end()) {
    // The port gives up its earlier number: one socket, one number.
    for (const NumberEntry& e : entries)
      if (e.key == hardware->key && link_is_automatic(ports_dir, e, hardware->devnode))
        ::unlink(link_path(ports_dir, e.number).c_str());
    std::erase_if(entries, [&](const NumberEntry& e) { return e.key == hardware->key; });
    entries.push_back({number, hardware->devnode, hardware->key});
    target = hardware->devnode;
    changed = true;
  }
  return point_link(ports_dir, number, target, why) &&
         (!changed || write_numbers(ports_dir, entries, why));
}

bool unmap_number(const std::string& ports_dir, unsigned number, std::string* why) {
  FolderLock lock(ports_dir);
  if (!lock) return fail(why, ports_dir + ": " + std::strerror(errno));
  std::vector<NumberEntry> entries = read_numbers(ports_dir);
  size_t reserved =
      std::erase_if(entries, [&](const NumberEntry& e) { return e.number == number; });
  bool linked = ::unlink(link_path(ports_dir, number).c_str()) == 0;
  if (!reserved && !linked) return fail(why, "COM" + std::to_string(number) + " is not in use");
  return reserved == 0 || write_numbers(ports_dir, entries, why);
}

}  // namespace devices
