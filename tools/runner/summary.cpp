#include "tools/runner/summary.h"

#include "engine/module_identity.h"

namespace runner {

std::string result_line(int module, int com, bool passed, std::optional<int> code,
                        const std::string& cause, const engine::ModuleIdentity& identity) {
  std::string line = "Module" + std::to_string(module) + " COM" + std::to_string(com);
  if (passed) {
    line += " PASS" + (cause.empty() ? "" : " (" + cause + ")");
  } else {
    line += " FAIL";
    if (code) line += " (errcode " + std::to_string(*code) + ")";
    line += ": " + cause;
  }
  const std::string identity_line = engine::identity_text(identity);
  return identity_line.empty() ? line : line + " [" + identity_line + "]";
}

std::string unwritten_line(const station::UnwrittenRecords& unwritten) {
  if (unwritten.count == 0) return {};
  return std::to_string(unwritten.count) + (unwritten.count == 1 ? " record" : " records") +
         " not written to " + station::kRunsFileName + ": " + unwritten.reasons;
}

std::string today_line(const station::DayTotals::Counts& today) {
  std::string line = "Today (" + today.date + "): " + std::to_string(today.passed) + " passed, " +
                     std::to_string(today.failed) + " failed";
  if (today.other > 0) line += ", " + std::to_string(today.other) + " other";
  return line;
}

}  // namespace runner
