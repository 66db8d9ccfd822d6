#pragma once

#include <string>
#include <vector>

namespace ports_tool {

// One thing the doctor checked, and what to do about it.
struct Finding {
  enum class Kind { ok, note, problem };
  Kind kind = Kind::ok;
  std::string text;
  std::vector<std::string> remedy;  // one line each: "$ <command>", or words that lead to one
};

// Where the doctor looks. The environment may replace both (the tests do): QUILLMARK_PROC names a
// process folder to search instead of /proc, QUILLMARK_UDEV_RULES the rule folders (separated by
// ':', the one that takes precedence first).
struct DoctorSeams {
  std::string proc = "/proc";
  std::vector<std::string> rule_folders = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                           "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
};

DoctorSeams seams_from_environment();

// Checks what stands between this user and the ports of the bench folder (the working directory):
// each port's opening, the modem daemon, a braille display daemon that claims USB serial adapters,
// and the line's database when ZEBL.ini names one.
std::vector<Finding> examine(const DoctorSeams& seams);

// The findings as plain lines of at most 79 columns (a command line is never broken), with a
// count of the problems at the end.
std::string report(const std::vector<Finding>& findings);

// `quillmark-ports doctor`: prints the report; 0 when nothing stands in the way, else 1.
int doctor(const DoctorSeams& seams);

}  // namespace ports_tool
