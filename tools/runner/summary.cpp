#include "tools/runner/summary.h"

#include "engine/module_identity.h"
#include "station/runs_csv.h"

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

nlohmann::json record_json(const engine::RunRecord& r) {
  if (r.module == 0) return nullptr;
  // The record's own line, read back by the header's names: the JSON holds what runs.csv holds.
  std::vector<std::string> fields;
  size_t count = 0;
  std::string line = station::run_record_line(r);
  line.resize(line.size() - 2);  // its CR LF
  if (!station::split_csv_record(line, fields, count) || count != station::kRunColumnCount)
    return nullptr;
  nlohmann::json json = nlohmann::json::object();
  for (size_t k = 0; k < count; ++k) {
    const std::string_view name = station::kRunColumnNames[k];
    const std::string& field = fields[k];
    const auto column = static_cast<station::RunColumn>(k);
    if (field.empty())
      json[std::string(name)] = nullptr;
    else if (column == station::RunColumn::module || column == station::RunColumn::com ||
             column == station::RunColumn::size || column == station::RunColumn::result ||
             column == station::RunColumn::duration_ms || column == station::RunColumn::attempts)
      json[std::string(name)] = std::stoll(field);
    else
      json[std::string(name)] = field;
  }
  return json;
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

std::string records_line(const station::ShippingStatus& status) {
  if (!status.on) return {};  // also a setting that cannot be used: said once, at the start
  if (status.waiting == 0) return "Line records: all in the database";
  std::string line = "Line records: " + std::to_string(status.waiting) + " waiting";
  if (!status.last_failure.empty()) line += " (" + status.last_failure + ")";
  return line;
}

nlohmann::json records_json(const station::ShippingStatus& status) {
  if (!status.reason.empty()) return {{"not_used", status.reason}};
  if (!status.on) return nullptr;
  return {{"waiting", status.waiting},
          {"last_failure", status.last_failure.empty() ? nlohmann::json(nullptr)
                                                       : nlohmann::json(status.last_failure)}};
}

}  // namespace runner
