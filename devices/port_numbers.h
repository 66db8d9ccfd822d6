#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "devices/hardware_ports.h"

namespace devices {

// The automatic numbers of a ports folder live in its file "numbers", one line each:
// "<number> <device node the link was last pointed at> <physical path> <link>". The file keeps a
// socket's number while nothing is plugged into it, across restarts of the tool.
//
// <link> names the file COM<number> that the numbering made, "<inode>:<seconds>.<nanoseconds>"
// (the link's inode and the time it was made), or "-" while the numbering has no link up for the
// number. A link that a person makes is a new file, so it is never taken for the numbering's own,
// even when it has the same target. The line "folder <inode>" names the folder the links were
// recorded in. Where a line has no <link> (a file of an earlier version), or the folder is not the
// one recorded (a copied bench: its links are new files), COM<number> counts as the numbering's
// own when it points at the recorded device node, as earlier versions judged; the next numbering
// records what it found.
constexpr const char* kNumbersFileName = "numbers";

// A link as the numbering made it: its inode, and its modification time, which is set when the
// link is made and kept when it is renamed or changes owner. A link made later differs in one of
// them, even where the file system hands out the inode of a removed link again.
struct LinkStamp {
  ino_t inode = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  bool operator==(const LinkStamp&) const = default;
};

enum class MadeLink {
  none,     // the numbering has no link up for the number
  stamped,  // it has: the link with `stamp`
  unknown,  // not recorded: judged by the link's target
};

struct NumberEntry {
  unsigned number = 0;
  std::string devnode;
  std::string key;
  MadeLink link = MadeLink::unknown;
  LinkStamp stamp;
};

// The entries of the numbers file of `ports_dir`; lines that do not read, and a second entry for a
// number or a physical path already listed, are skipped. Stamps recorded for another folder come
// back as unknown.
std::vector<NumberEntry> read_numbers(const std::string& ports_dir);

// Whether COM<entry.number> in `ports_dir` is the link that the numbering made for `entry`.
bool owns_link(const std::string& ports_dir, const NumberEntry& entry);

// Brings the COM links of `ports_dir` in step with the hardware present. The numbering changes
// only links it made itself:
// - a port seen for the first time gets the lowest number that neither a link nor an entry uses;
// - a known port's link is pointed at its current device node at each arrival;
// - a port that a link made by hand leads to keeps no automatic link while that link stands (its
//   number stays reserved): it is offered under the number given by hand;
// - a link that a person has put in place of a number's automatic link is left alone, and the
//   port behind that number is numbered anew;
// - the automatic link of a port that is gone is taken down (its number stays reserved), so that a
//   device name the kernel hands to another port never shows that port under the old number.
// The folder is locked meanwhile. False, with the reason in `why`, when the folder or the numbers
// file cannot be written.
bool assign_numbers(const std::string& ports_dir, const std::vector<HardwarePort>& present,
                    std::string* why);

// Maps the device at `device_path` (a device node, or any link to one) to COM<number> by hand.
// A hardware port keeps that number from then on, wherever it is plugged in again; for any other
// serial device (a pseudo-terminal, a link made by another program) the link is made to the path
// as given. Whatever held the number before loses it. A hardware port that another link made by
// hand leads to is not mapped: that link would win.
bool map_device(const std::string& ports_dir, const std::string& device_path, unsigned number,
                const std::vector<HardwarePort>& present, std::string* why);

// Removes COM<number>: its link, and the reservation of an automatic number.
bool unmap_number(const std::string& ports_dir, unsigned number, std::string* why);

// Whether COM<number> may be opened as `device`, where its link leads now. A number whose link the
// numbering did not make (a link made by hand, a pseudo-terminal) always may; the numbering's own
// link only while `device` is the port present at the physical path recorded for the number. A
// link left over from before the modules changed sockets thus never reaches another module's
// port, until the numbering has pointed it at the right one. False with the reason in `why`.
bool may_open_port(const std::string& ports_dir, unsigned number, const std::string& device,
                   std::string* why);

}  // namespace devices
