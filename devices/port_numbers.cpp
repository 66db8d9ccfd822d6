#include "devices/port_numbers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "devices/port_namespace.h"
#include "platform/com_ports.h"
#include "platform/serial_device_check.h"

namespace devices {

namespace {

// Serialises every change of a ports folder, also between processes (the tool and the ports
// command may run side by side). The lock is held for a few file operations only; a reader that
// must see the numbers file and the links of one moment takes it shared.
class FolderLock {
 public:
  explicit FolderLock(const std::string& dir, int mode = LOCK_EX)
      : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0 && ::flock(fd_, mode) != 0) {
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

std::optional<LinkStamp> stamp_of(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return std::nullopt;
  return LinkStamp{st.st_ino, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

std::optional<ino_t> folder_inode(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return std::nullopt;
  return st.st_ino;
}

std::string stamp_text(const LinkStamp& stamp) {
  char text[80];
  std::snprintf(text, sizeof text, "%llu:%lld.%09lld", static_cast<unsigned long long>(stamp.inode),
                static_cast<long long>(stamp.seconds), static_cast<long long>(stamp.nanoseconds));
  return text;
}

std::optional<LinkStamp> read_stamp(const std::string& text) {
  unsigned long long inode = 0;
  long long seconds = 0, nanoseconds = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%llu:%lld.%lld%n", &inode, &seconds, &nanoseconds, &used) != 3 ||
      static_cast<size_t>(used) != text.size() || nanoseconds < 0 || nanoseconds >= 1000000000)
    return std::nullopt;
  return LinkStamp{static_cast<ino_t>(inode), seconds, nanoseconds};
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

// Points the entry's link at `devnode` and records it as the numbering's own.
bool put_up(const std::string& dir, NumberEntry& entry, const std::string& devnode,
            std::string* why) {
  if (!point_link(dir, entry.number, devnode, why)) return false;
  std::optional<LinkStamp> stamp = stamp_of(link_path(dir, entry.number));
  entry.devnode = devnode;
  entry.link = stamp ? MadeLink::stamped : MadeLink::none;
  entry.stamp = stamp.value_or(LinkStamp{});
  return true;
}

void take_down(const std::string& dir, NumberEntry& entry) {
  ::unlink(link_path(dir, entry.number).c_str());
  entry.link = MadeLink::none;
}

// Decides which links the numbering has up: a link judged by its target is stamped from now on,
// and a recorded link that is gone or was replaced is no longer its own. True when an entry
// changed.
bool settle(const std::string& dir, std::vector<NumberEntry>& entries) {
  bool changed = false;
  for (NumberEntry& e : entries) {
    if (e.link == MadeLink::none) continue;
    std::optional<LinkStamp> stamp;
    if (owns_link(dir, e)) stamp = stamp_of(link_path(dir, e.number));
    if (stamp && e.link == MadeLink::stamped) continue;
    e.link = stamp ? MadeLink::stamped : MadeLink::none;
    e.stamp = stamp.value_or(LinkStamp{});
    changed = true;
  }
  return changed;
}

// A link to another number of the folder makes a twin; it gives no port a number of its own.
bool leads_to_another_number(const std::string& dir, const std::string& link) {
  std::string target = link_target(link);
  if (target.empty()) return false;
  std::filesystem::path folder = std::filesystem::path(dir).lexically_normal();
  std::filesystem::path to = (folder / target).lexically_normal();  // an absolute target stays
  return to.parent_path() == folder && com_link_number(to.filename().string());
}

struct HandLink {
  unsigned number = 0;
  dev_t device = 0;
};

// The COM links of the folder that the numbering did not make and that lead to a serial device.
// `entries` must be settled: their stamped links are the numbering's own.
std::vector<HandLink> hand_links(const std::string& dir, const std::vector<NumberEntry>& entries) {
  std::set<unsigned> own;
  for (const NumberEntry& e : entries)
    if (e.link == MadeLink::stamped) own.insert(e.number);
  std::vector<HandLink> links;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(dir, error)) {
    std::optional<unsigned> n = com_link_number(item.path().filename().string());
    if (!n || own.count(*n)) continue;
    std::string link = link_path(dir, *n);
    if (leads_to_another_number(dir, link)) continue;
    std::optional<std::string> device = platform::resolve_device_path(link);
    struct stat st {};
    if (device && platform::check_serial_device(*device, &st) == platform::DeviceCheck::ok)
      links.push_back({*n, st.st_rdev});
  }
  return links;
}

// Written to a temporary file, flushed to disk and renamed over the old one: a crash leaves the
// old numbers or the new ones, never a mix.
bool write_numbers(const std::string& dir, std::vector<NumberEntry> entries, std::string* why) {
  std::sort(entries.begin(), entries.end(),
            [](const NumberEntry& a, const NumberEntry& b) { return a.number < b.number; });
  std::string text =
      "# COM numbers given automatically, kept while a port is unplugged.\n"
      "# <number> <device node> <physical path> <link made: inode:time made, or - for none>\n";
  if (std::optional<ino_t> folder = folder_inode(dir))
    text += "folder " + std::to_string(*folder) + "\n";
  for (const NumberEntry& e : entries)
    text += std::to_string(e.number) + " " + e.devnode + " " + e.key + " " +
            (e.link == MadeLink::stamped ? stamp_text(e.stamp) : "-") + "\n";

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

}  // namespace

std::vector<NumberEntry> read_numbers(const std::string& ports_dir) {
  std::vector<NumberEntry> entries;
  std::optional<std::string> recorded_folder;
  std::ifstream file(ports_dir + "/" + kNumbersFileName);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string number, devnode, key, link;
    fields >> number >> devnode >> key >> link;
    if (number == "folder") {
      if (!recorded_folder) recorded_folder = devnode;
      continue;
    }
    std::optional<unsigned> n = com_link_number("COM" + number);
    if (!n || devnode.empty() || key.empty()) continue;
    bool repeated = std::any_of(entries.begin(), entries.end(), [&](const NumberEntry& e) {
      return e.number == *n || e.key == key;
    });
    if (repeated) continue;
    NumberEntry entry{*n, devnode, key, MadeLink::unknown, {}};
    if (link == "-") {
      entry.link = MadeLink::none;
    } else if (std::optional<LinkStamp> stamp = read_stamp(link)) {
      entry.link = MadeLink::stamped;
      entry.stamp = *stamp;
    }
    entries.push_back(entry);
  }
  // The links of a copied folder are new files: their stamps tell nothing.
  std::optional<ino_t> folder = folder_inode(ports_dir);
  if (!folder || !recorded_folder || *recorded_folder != std::to_string(*folder))
    for (NumberEntry& e : entries)
      if (e.link == MadeLink::stamped) e.link = MadeLink::unknown;
  return entries;
}

bool owns_link(const std::string& ports_dir, const NumberEntry& entry) {
  std::string link = link_path(ports_dir, entry.number);
  switch (entry.link) {
    case MadeLink::none:
      return false;
    case MadeLink::stamped:
      return stamp_of(link) == entry.stamp;
    case MadeLink::unknown:
      return link_target(link) == entry.devnode;
  }
  return false;
}

bool assign_numbers(const std::string& ports_dir, const std::vector<HardwarePort>& present,
                    std::string* why) {
  if (present.empty() && !entry_exists(ports_dir + "/" + kNumbersFileName)) return true;
  if (!make_folder(ports_dir, why)) return false;
  FolderLock lock(ports_dir);
  if (!lock) return fail(why, ports_dir + ": " + std::strerror(errno));

  std::vector<NumberEntry> entries = read_numbers(ports_dir);
  bool changed = settle(ports_dir, entries);
  bool ok = true;
  std::set<std::string> present_keys;
  for (const HardwarePort& port : present) present_keys.insert(port.key);
  for (NumberEntry& e : entries) {
    if (e.link == MadeLink::stamped && !present_keys.count(e.key)) {
      take_down(ports_dir, e);
      changed = true;
    }
  }
  std::set<dev_t> named_by_hand;
  if (!present.empty())
    for (const HandLink& link : hand_links(ports_dir, entries)) named_by_hand.insert(link.device);

  for (const HardwarePort& port : present) {
    auto entry = std::find_if(entries.begin(), entries.end(),
                              [&](const NumberEntry& e) { return e.key == port.key; });
    if (named_by_hand.count(port.devnum)) {
      // The hand link wins; the port's own number waits for it to go.
      if (entry != entries.end() && entry->link == MadeLink::stamped) {
        take_down(ports_dir, *entry);
        changed = true;
      }
      continue;
    }
    if (entry != entries.end() && entry->link == MadeLink::none &&
        entry_exists(link_path(ports_dir, entry->number))) {
      // A person has put something of their own in the number's place.
      entries.erase(entry);
      entry = entries.end();
      changed = true;
    }
    if (entry == entries.end()) {
      entries.push_back(
          {lowest_free_number(ports_dir, entries), port.devnode, port.key, MadeLink::none, {}});
      entry = entries.end() - 1;
      changed = true;
    }
    if (entry->link != MadeLink::stamped || entry->devnode != port.devnode) {
      ok = put_up(ports_dir, *entry, port.devnode, why) && ok;
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
  bool changed = settle(ports_dir, entries);
  auto hardware = std::find_if(present.begin(), present.end(),
                               [&](const HardwarePort& p) { return p.devnum == st.st_rdev; });
  if (hardware != present.end()) {
    for (const HandLink& link : hand_links(ports_dir, entries))
      if (link.device == hardware->devnum && link.number != number)
        return fail(why, "COM" + std::to_string(link.number) + ", a link made by hand, leads to " +
                             device_path + ": remove it first");
  }
  changed =
      std::erase_if(entries, [&](const NumberEntry& e) { return e.number == number; }) || changed;
  if (hardware == present.end())
    return point_link(ports_dir, number, target, why) &&
           (!changed || write_numbers(ports_dir, entries, why));

  // The port gives up its earlier number: one socket, one number.
  for (NumberEntry& e : entries)
    if (e.key == hardware->key && e.link == MadeLink::stamped) take_down(ports_dir, e);
  std::erase_if(entries, [&](const NumberEntry& e) { return e.key == hardware->key; });
  NumberEntry entry{number, hardware->devnode, hardware->key, MadeLink::none, {}};
  if (!put_up(ports_dir, entry, hardware->devnode, why)) return false;
  entries.push_back(entry);
  return write_numbers(ports_dir, entries, why);
}

bool unmap_number(const std::string& ports_dir, unsigned number, std::string* why) {
  FolderLock lock(ports_dir);
  if (!lock) return fail(why, ports_dir + ": " + std::strerror(errno));
  std::vector<NumberEntry> entries = read_numbers(ports_dir);
  bool changed = settle(ports_dir, entries);
  size_t reserved =
      std::erase_if(entries, [&](const NumberEntry& e) { return e.number == number; });
  bool linked = ::unlink(link_path(ports_dir, number).c_str()) == 0;
  if (!reserved && !linked) return fail(why, "COM" + std::to_string(number) + " is not in use");
  return (reserved == 0 && !changed) || write_numbers(ports_dir, entries, why);
}

bool may_open_port(const std::string& ports_dir, unsigned number, const std::string& device,
                   std::string* why) {
  // Shared with other readers, exclusive of the numbering: the numbers file and the links are
  // seen as the numbering left them, never halfway through a change.
  FolderLock lock(ports_dir, LOCK_SH);
  std::vector<NumberEntry> entries = read_numbers(ports_dir);
  auto entry = std::find_if(entries.begin(), entries.end(),
                            [&](const NumberEntry& e) { return e.number == number; });
  if (entry == entries.end() || !owns_link(ports_dir, *entry)) return true;

  std::vector<HardwarePort> present = find_hardware_ports();
  struct stat st {};
  bool device_found = ::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
  auto at = [&](auto matches) { return std::find_if(present.begin(), present.end(), matches); };
  auto own = at([&](const HardwarePort& p) { return p.key == entry->key; });
  if (device_found && own != present.end() && own->devnum == st.st_rdev) return true;
  auto other = at([&](const HardwarePort& p) { return device_found && p.devnum == st.st_rdev; });
  std::string text = "COM" + std::to_string(number) + " belongs to the port at " + entry->key +
                     ", but its link leads to " + device;
  text += other != present.end() ? ", the port at " + other->key : ", which is not that port";
  return fail(why, text);
}

}  // namespace devices
