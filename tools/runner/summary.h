#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/run_facts.h"
#include "station/day_totals.h"
#include "station/line_records.h"
#include "station/run_record.h"

namespace runner {

// The lines of the runner's summary, the same after a run and after a watch.

// "Module1 COM5 PASS", with the cause in parentheses when there is one (a pass on the retry);
// "Module1 COM5 FAIL (errcode 11): <cause>", or "Module1 COM5 FAIL: <cause>" without a result
// code (a port that did not open). Then " [IMEI <imei>, revision <revision>]" when the module told
// its identity.
std::string result_line(int module, int com, bool passed, std::optional<int> code,
                        const std::string& cause, const engine::ModuleIdentity& identity = {});

// Every field of a run's record, by the names of the runs file's columns; an empty field is null,
// the numbers are numbers. Null when the run left no record (it never started).
nlohmann::json record_json(const engine::RunRecord& record);

// "2 records not written to runs.csv: <reasons>"; empty when every record was written.
std::string unwritten_line(const station::UnwrittenRecords& unwritten);

// "Today (2026-12-09): 5 passed, 1 failed", and ", 2 other" when there are such runs.
std::string today_line(const station::DayTotals::Counts& today);

// The records and the line's database: "Line records: all in the database" or "Line records: 3
// waiting (<last failure>)"; empty when no database is set or it cannot be used (the runner said
// why at its start).
std::string records_line(const station::ShippingStatus& status);

// The same for --json: {"waiting": 3, "last_failure": "..."} (null fields when there is nothing to
// say), {"not_used": "<reason>"}, or null when no database is set.
nlohmann::json records_json(const station::ShippingStatus& status);

}  // namespace runner
