#include "tools/ports/doctor.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "config/settings.h"
#include "platform/com_ports.h"
#include "platform/executable_dir.h"
#include "tools/ports/bench_listing.h"
#include "tools/ports/port_udev.h"

namespace ports_tool {

namespace {

using Kind = Finding::Kind;

constexpr const char* kModemDaemon = "ModemManager";

// The commands that install the rule of `quillmark-ports udev-rule`.
const std::vector<std::string> kInstallRule = {
    "$ quillmark-ports udev-rule | sudo tee /etc/udev/rules.d/70-quillmark.rules",
    "$ sudo udevadm control --reload",
    "$ sudo udevadm trigger",
};

std::string com(unsigned n) {
  return "COM" + std::to_string(n);
}

std::string join_numbers(const std::vector<unsigned>& numbers) {
  std::string text;
  for (size_t i = 0; i < numbers.size(); ++i)
    text += (i == 0 ? "" : i + 1 == numbers.size() ? " and " : ", ") + com(numbers[i]);
  return text;
}

std::vector<std::string> with(std::vector<std::string> lines,
                              const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// --- Opening the ports ---

std::string user_name(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid)) return pw->pw_name;
  return "with id " + std::to_string(uid);
}

std::string group_name(gid_t gid) {
  if (const group* gr = ::getgrgid(gid)) return gr->gr_name;
  return std::to_string(gid);
}

// Whether this process has the group, as the login session gave it.
bool in_session_groups(gid_t gid) {
  if (::getegid() == gid) return true;
  int count = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<size_t>(std::max(count, 0)));
  count = ::getgroups(count, groups.data());
  return count > 0 && std::find(groups.begin(), groups.begin() + count, gid) != groups.end();
}

// Whether the group database lists the user in the group (it takes effect at the next login).
bool listed_in_group(uid_t uid, gid_t gid) {
  const passwd* pw = ::getpwuid(uid);
  if (!pw) return false;
  std::string name = pw->pw_name;
  gid_t primary = pw->pw_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) return false;
  }
  return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

Finding permission_denied(std::string text, const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return {Kind::problem, text + ".", {}};
  uid_t uid = ::geteuid();
  std::string group = group_name(st.st_gid);
  std::string user = user_name(uid);
  bool group_may = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (group_may && st.st_gid != 0 && !in_session_groups(st.st_gid)) {
    if (listed_in_group(uid, st.st_gid))
      return {Kind::problem,
              text + ". User " + user + " is in group " + group +
                  ", which opens the device, but this login session started before that.",
              {"Log out and log in again."}};
    return {
        Kind::problem,
        text + ". The device belongs to group " + group + ", and user " + user + " is not in it.",
        {"Add the user to the group, then log out and log in again:",
         "$ sudo usermod -aG " + group + " $USER"}};
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  text += ". The device (owner " + user_name(st.st_uid) + ", group " + group + ", mode " + mode +
          ") is not open to user " + user + ".";
  if (look_up_port(st.st_rdev).on_usb)
    return {Kind::problem, text,
            with({"Give the user at the seat the modules' ports with a udev rule:"}, kInstallRule)};
  return {Kind::problem,
          text,
          {"Have the administrator give it to a group of the user's (serial lines normally "
           "belong to group dialout)."}};
}

Finding open_port(const BenchPort& port) {
  std::string name = com(port.number) + " " + port.device;
  std::string why;
  if (platform::open_com_port(port.number, &why)) return {Kind::ok, name + " can be opened.", {}};
  // The reason comes as "<device>: <reason>".
  if (why.compare(0, port.device.size() + 2, port.device + ": ") == 0)
    why.erase(0, port.device.size() + 2);
  std::string text = name + " cannot be opened: " + why;
  if (why == std::strerror(EACCES)) return permission_denied(text, port.device);
  if (why.find("in use") != std::string::npos || why == std::strerror(EBUSY))
    return {Kind::problem,
            text + ".",
            {"Close the program that holds it; this names it:", "$ fuser -v " + port.device}};
  return {Kind::problem, text + ".", {}};
}

Finding examine_port(const BenchPort& port) {
  std::string name = com(port.number);
  switch (port.state) {
    case PortState::present:
      return open_port(port);
    case PortState::twin:
      return {Kind::note, name + " " + port.device + " is the " + port.text + ".", {}};
    case PortState::reserved:
      return {Kind::note, name + " is reserved: " + port.text + ".", {}};
    case PortState::absent:
      break;
  }
  if (!port.link)  // a number kept for a socket: its module is not plugged in
    return {Kind::note, name + " is not plugged in (" + port.text + ").", {}};
  const std::string link = "ports/" + name;
  std::vector<std::string> unmap = {"$ quillmark-ports unmap " + std::to_string(port.number)};
  if (port.link->device.empty())
    return {Kind::problem,
            name + ": the link " + link + " leads to no device (" + port.link->target +
                "): its module is not plugged in, or the link is stale.",
            with({"Plug the module in, or remove the link:"}, unmap)};
  return {Kind::problem,
          name + ": the link " + link + " leads to " + port.link->device + " (" + port.text +
              "); such a device is never opened.",
          with({"Point it at a module's port (quillmark-ports map <device> " +
                std::to_string(port.number) + "), or remove it:"},
               unmap)};
}

// --- Which ports are judged ---

// The ports that ZEBL.ini names, each with the modules' uses of it ("Module1's AT port").
std::map<unsigned, std::string> ports_named_by_settings() {
  std::map<unsigned, std::string> named;
  const auto ports = config::read_module_ports(platform::working_directory());
  for (size_t k = 0; k < ports.size(); ++k) {
    const std::string module = "Module" + std::to_string(k + 1);
    for (auto [number, kind] : {std::pair{ports[k].at, "AT"}, std::pair{ports[k].diag, "Diag"}}) {
      if (number <= 0) continue;
      std::string& uses = named[static_cast<unsigned>(number)];
      uses += (uses.empty() ? "" : ", ") + module + "'s " + kind + " port";
    }
  }
  return named;
}

// A serial line of the computer itself (an on-board port), which no module uses until ZEBL.ini
// names it.
bool on_board(const BenchPort& port) {
  return port.link && port.link->devnum != 0 && look_up_port(port.link->devnum).on_board;
}

// What stands in the way of a port that no module uses is only noted.
Finding noted(Finding finding, const std::string& why) {
  if (finding.kind != Kind::problem) return finding;
  return {Kind::note, finding.text + " " + why, {}};
}

// --- The modem daemon ---

struct Processes {
  std::optional<std::string> daemon_pid;
  bool others_hidden = false;  // the process folder shows only this user's processes
};

Processes look_at_processes(const std::string& proc) {
  Processes seen;
  DIR* folder = ::opendir(proc.c_str());
  if (!folder) {
    seen.others_hidden = true;
    return seen;
  }
  while (dirent* entry = ::readdir(folder)) {
    std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(proc + "/" + pid + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == kModemDaemon) {
      seen.daemon_pid = pid;
      break;
    }
  }
  ::closedir(folder);
  // The first process belongs to the system; a process folder mounted to hide other users'
  // processes does not show it.
  struct stat st {};
  if (!seen.daemon_pid && ::geteuid() != 0 && ::stat((proc + "/1").c_str(), &st) != 0)
    seen.others_hidden = true;
  return seen;
}

// `ports`: those that are judged.
Finding examine_modem_daemon(const DoctorSeams& seams, const std::vector<BenchPort>& ports) {
  Processes processes = look_at_processes(seams.proc);
  if (!processes.daemon_pid) {
    if (processes.others_hidden)
      return {Kind::note,
              std::string("Cannot tell whether ") + kModemDaemon + " is running: " + seams.proc +
                  " does not show the processes of other users.",
              {}};
    return {Kind::ok, std::string(kModemDaemon) + " is not running.", {}};
  }
  std::vector<unsigned> probed;
  bool usb_ports = false;
  for (const BenchPort& port : ports) {
    if (port.state != PortState::present || !port.link) continue;
    PortUdev udev = look_up_port(port.link->devnum);
    if (!udev.on_usb) continue;  // it probes the serial ports of USB devices
    usb_ports = true;
    if (!udev.modem_daemon_ignores) probed.push_back(port.number);
  }
  std::string running =
      std::string(kModemDaemon) + " is running (process " + *processes.daemon_pid + ")";
  if (!probed.empty())
    return {Kind::problem,
            running + " and probes " + join_numbers(probed) +
                ": it sends its own AT commands to new serial ports and can hold them, which "
                "corrupts a download or takes the port.",
            with(with({"Have it leave the modules alone with a udev rule:"}, kInstallRule),
                 {"or stop it for good (it then serves no modem of this computer):",
                  "$ sudo systemctl disable --now ModemManager"})};
  if (usb_ports) return {Kind::ok, running + ", but leaves the modules of this bench alone.", {}};
  return {Kind::note,
          running +
              ". No USB module is plugged in; run the doctor again with the modules "
              "plugged in to see whether it would probe them.",
          {}};
}

// --- The braille display daemon ---

// USB serial bridges that modules are wired through, and that the braille daemon's rules claim
// for braille displays built on them.
const std::set<std::string> kSerialBridges = {"0403:6001", "0403:6010", "0403:6014", "067b:2303",
                                              "10c4:ea60", "10c4:ea70", "1a86:55d4", "1a86:7523"};

// A rules file that stops udev from applying the file of the same name in a later folder.
bool is_mask(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    char target[16] = {};
    return ::readlink(path.c_str(), target, sizeof target - 1) > 0 &&
           std::strcmp(target, "/dev/null") == 0;
  }
  return S_ISREG(st.st_mode) && st.st_size == 0;
}

std::string four_digits(std::string id) {
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::string(4 - std::min<size_t>(id.size(), 4), '0') + id;
}

// The serial bridges that the rules of `path` match, as "vvvv:pppp".
std::set<std::string> claimed_bridges(const std::string& path) {
  // ENV{PRODUCT}=="403/6001/*" (the kernel's ids, without leading zeros), or the attributes.
  static const std::regex product(R"re(ENV\{PRODUCT\}=="([0-9a-fA-F]{1,4})/([0-9a-fA-F]{1,4})/)re");
  static const std::regex attributes(
      R"re(ATTRS?\{idVendor\}=="([0-9a-fA-F]{4})".*ATTRS?\{idProduct\}=="([0-9a-fA-F]{4})")re");
  std::set<std::string> claimed;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    std::smatch m;
    if (std::regex_search(line, m, product) || std::regex_search(line, m, attributes)) {
      std::string ids = four_digits(m[1]) + ":" + four_digits(m[2]);
      if (kSerialBridges.count(ids)) claimed.insert(ids);
    }
  }
  return claimed;
}

Finding examine_braille_daemon(const DoctorSeams& seams) {
  // udev reads each file name once, from the first folder that has it.
  std::map<std::string, std::string> files;  // name -> path
  for (const std::string& folder : seams.rule_folders) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) continue;
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name.find("brltty") != std::string::npos && name.size() > 6 &&
          name.compare(name.size() - 6, 6, ".rules") == 0)
        files.emplace(name, folder + "/" + name);
    }
    ::closedir(dir);
  }
  std::vector<std::string> masked;
  for (const auto& [name, path] : files) {
    if (is_mask(path)) {
      masked.push_back(path);
      continue;
    }
    std::set<std::string> claimed = claimed_bridges(path);
    if (claimed.empty()) continue;
    std::string ids;
    for (const std::string& id : claimed) ids += (ids.empty() ? "" : ", ") + id;
    return {Kind::problem,
            "brltty is installed, and its udev rules (" + path + ") claim USB serial adapters (" +
                ids + "): it takes a module wired through one of them away from its serial port.",
            {"Remove it:", "$ sudo apt remove brltty", "or mask its rules:",
             "$ sudo ln -sf /dev/null " + seams.rule_folders.front() + "/" + name,
             "$ sudo udevadm control --reload"}};
  }
  if (!masked.empty())
    return {Kind::ok, "brltty's udev rules are masked (" + masked.front() + ").", {}};
  return {Kind::ok, "brltty: no udev rules that claim USB serial adapters.", {}};
}

// --- The report ---

// Appends `words` wrapped to `width` columns; lines after the first start with `indent`.
void wrap(std::string& out, const std::string& words, const std::string& first,
          const std::string& indent, size_t width = 79) {
  std::istringstream in(words);
  std::string line = first, word;
  bool empty = true;
  while (in >> word) {
    if (!empty && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line = indent;
      empty = true;
    }
    line += (empty ? "" : " ") + word;
    empty = false;
  }
  out += line + "\n";
}

}  // namespace

DoctorSeams seams_from_environment() {
  DoctorSeams seams;
  if (const char* proc = std::getenv("QUILLMARK_PROC"); proc && *proc) seams.proc = proc;
  if (const char* rules = std::getenv("QUILLMARK_UDEV_RULES"); rules && *rules) {
    seams.rule_folders.clear();
    std::istringstream in(rules);
    for (std::string folder; std::getline(in, folder, ':');)
      if (!folder.empty()) seams.rule_folders.push_back(folder);
  }
  return seams;
}

// The line's database, when ZEBL.ini names one: the records can be shipped there (a connection
// within ten seconds, the table there or creatable, inserting allowed).
std::optional<Finding> examine_line_database() {
  const station::LineRecordSettings settings = config::load_line_record_settings();
  if (settings.database.empty()) return std::nullopt;
  std::string why;
  if (!station::check_database_setting(settings.database, &why))
    return Finding{Kind::problem, "[Station] Database= in ZEBL.ini cannot be used: " + why, {}};
  constexpr int64_t kTimeoutMs = 10000;
  std::string found;
  const bool usable = station::check_database(settings, kTimeoutMs, &found);
  while (!found.empty() && found.back() == '\n') found.pop_back();
  for (char& c : found)
    if (c == '\n') c = ' ';
  if (usable) return Finding{Kind::ok, "The line's database takes the records. " + found, {}};
  return Finding{Kind::problem,
                 "The line's database cannot take the records (they wait in runs.csv). " + found,
                 {"Check [Station] Database= in ZEBL.ini and the password in ~/.pgpass (the "
                  "README's \"Line records\" tells how)."}};
}

std::vector<Finding> examine(const DoctorSeams& seams) {
  std::vector<Finding> findings;
  if (::geteuid() == 0)
    findings.push_back({Kind::note,
                        "Running as root, whom no permission stops: run the doctor as the user "
                        "who works at the bench.",
                        {}});
  int error = 0;
  std::optional<Bench> bench = read_bench(&error);
  std::vector<BenchPort> judged;
  if (!bench) {
    findings.push_back({Kind::problem,
                        "The bench folder's ports cannot be read: " + platform::ports_directory() +
                            ": " + std::strerror(error) + ".",
                        {}});
  } else {
    if (!bench->numbered)
      findings.push_back(
          {Kind::problem,
           "The ports present cannot be numbered: " + bench->numbering_failure + ".",
           {"The user who works at the bench must be able to write its ports/ folder."}});
    // The modules' ports are judged; another port (an on-board one, a spare) stands in no
    // module's way. Before ZEBL.ini names any, every port but the computer's own is judged.
    const std::map<unsigned, std::string> named = ports_named_by_settings();
    if (named.empty() && !bench->ports.empty())
      findings.push_back({Kind::note,
                          "ZEBL.ini names no module's port yet: every port but the computer's "
                          "own serial ports is checked.",
                          {}});
    for (const BenchPort& port : bench->ports) {
      Finding finding = examine_port(port);
      auto use = named.find(port.number);
      if (use != named.end()) {
        finding.text += " It is " + use->second + ".";
        judged.push_back(port);
      } else if (!named.empty()) {
        finding = noted(std::move(finding), "No module uses it in ZEBL.ini.");
      } else if (on_board(port)) {
        finding =
            noted(std::move(finding), "It is a serial port of this computer, not a module's.");
      } else {
        judged.push_back(port);
      }
      findings.push_back(std::move(finding));
    }
    for (const auto& [number, use] : named)
      if (std::none_of(bench->ports.begin(), bench->ports.end(),
                       [number = number](const BenchPort& p) { return p.number == number; }))
        findings.push_back({Kind::note,
                            com(number) + " (" + use +
                                ") is not a port of this bench: its module is not plugged in, or "
                                "the number in ZEBL.ini is wrong.",
                            {}});
    if (bench->ports.empty())
      findings.push_back(
          {Kind::problem,
           "This bench folder has no COM ports: no module is plugged in, and "
           "no port was mapped by hand.",
           {"Plug the modules in, or map a port:", "$ quillmark-ports map /dev/ttyUSB0 1"}});
  }
  findings.push_back(examine_modem_daemon(seams, judged));
  findings.push_back(examine_braille_daemon(seams));
  if (std::optional<Finding> database = examine_line_database()) findings.push_back(*database);
  return findings;
}

std::string report(const std::vector<Finding>& findings) {
  std::string out;
  int problems = 0;
  for (const Finding& f : findings) {
    problems += f.kind == Kind::problem;
    wrap(out, f.text,
         f.kind == Kind::ok     ? "ok: "
         : f.kind == Kind::note ? "note: "
                                : "PROBLEM: ",
         "  ");
    for (const std::string& line : f.remedy) {
      if (line.compare(0, 2, "$ ") == 0)
        out += "  " + line + "\n";
      else
        wrap(out, line, "  ", "  ");
    }
  }
  if (problems == 0)
    out += "Nothing stands in the way.\n";
  else
    out += std::to_string(problems) + (problems == 1 ? " problem stands" : " problems stand") +
           " in the way.\n";
  return out;
}

int doctor(const DoctorSeams& seams) {
  std::vector<Finding> findings = examine(seams);
  std::fputs(report(findings).c_str(), stdout);
  std::fflush(stdout);
  bool problem = std::any_of(findings.begin(), findings.end(),
                             [](const Finding& f) { return f.kind == Kind::problem; });
  return problem ? 1 : 0;
}

}  // namespace ports_tool
