#include "tools/log_reader/runs_source.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string_view>

#ifndef _WIN32
#include <libpq-fe.h>

#include <memory>
#endif

#include "station/day_totals.h"
#include "station/run_record.h"
#include "station/runs_reader.h"

namespace log_reader {

std::vector<std::string> runs_file_names() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
    const std::u8string name8 = entry.path().filename().u8string();
    const std::string name(name8.begin(), name8.end());
    if (name.starts_with(station::kRetiredRunsPrefix) && name.ends_with(".csv"))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  names.push_back(station::kRunsFileName);
  return names;
}

bool read_runs_files(const std::string& station, const TakeRun& take, FilesRead* read,
                     std::string* why) {
  for (const std::string& name : runs_file_names()) {
    int64_t damaged = 0;
    const auto on_record = [&](const station::RunsRecord& record) {
      RunFacts run;
      if (!station::record_end_and_result(record, &run.end, &run.result)) {
        ++damaged;
        return;
      }
      const std::string_view module = record.field(station::RunColumn::module);
      if (module.size() == 1 && module[0] >= '1' && module[0] <= '6') run.module = module[0] - '0';
      run.station = station.empty() ? std::string(record.field(station::RunColumn::host)) : station;
      run.file = record.field(station::RunColumn::file);
      take(run);
    };
    station::RunsReader reader(on_record, [&](int64_t, int64_t) { ++damaged; });
    bool missing = false;
    std::string error;
    if (!station::read_runs_file(name, reader, &error, &missing)) {
      *why = name + ": " + error;
      return false;
    }
    if (missing) continue;
    read->files.push_back(name);
    if (damaged) read->damaged.emplace_back(name, damaged);
  }
  return true;
}

#ifdef _WIN32

bool database_supported() {
  return false;
}

bool read_runs_database(const std::string&, const Period&, const TakeRun&, std::string* why) {
  *why = "this Windows build has no PostgreSQL client library";
  return false;
}

#else

namespace {

// libpq's messages may span lines; the tool tells them on one.
std::string one_line(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::string line;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] != '\n') {
      if (text[k] != '\r') line += text[k];
      continue;
    }
    line += "; ";
    while (k + 1 < text.size() && std::isspace(static_cast<unsigned char>(text[k + 1]))) ++k;
  }
  return line;
}

struct ConninfoOptions {
  PQconninfoOption* options = nullptr;
  ~ConninfoOptions() {
    if (options) PQconninfoFree(options);
  }
};

// Parses `conninfo` into `parsed`; false with libpq's reason.
bool parse_conninfo(const std::string& conninfo, ConninfoOptions* parsed, std::string* why) {
  char* error = nullptr;
  parsed->options = PQconninfoParse(conninfo.c_str(), &error);
  if (parsed->options) return true;
  *why = error ? one_line(error) : "out of memory";
  if (error) PQfreemem(error);
  return false;
}

bool is_set(const PQconninfoOption* option, std::string_view keyword) {
  return option->keyword == keyword && option->val && *option->val;
}

}  // namespace

bool database_supported() {
  return true;
}

bool read_runs_database(const std::string& conninfo, const Period& period, const TakeRun& take,
                        std::string* why) {
  ConninfoOptions parsed;
  if (!parse_conninfo(conninfo, &parsed, why)) return false;
  // The settings as given, with a connection timeout and UTF-8 text unless they set their own.
  std::vector<const char*> keywords, values;
  bool timeout = false, encoding = false;
  for (const PQconninfoOption* o = parsed.options; o->keyword; ++o) {
    if (!o->val || !*o->val) continue;
    timeout |= is_set(o, "connect_timeout");
    encoding |= is_set(o, "client_encoding");
    keywords.push_back(o->keyword);
    values.push_back(o->val);
  }
  if (!timeout) keywords.push_back("connect_timeout"), values.push_back("10");
  if (!encoding) keywords.push_back("client_encoding"), values.push_back("UTF8");
  keywords.push_back(nullptr);
  values.push_back(nullptr);

  std::unique_ptr<PGconn, decltype(&PQfinish)> connection(
      PQconnectdbParams(keywords.data(), values.data(), 0), &PQfinish);
  if (!connection) {
    *why = "out of memory";
    return false;
  }
  PGconn* db = connection.get();
  if (PQstatus(db) != CONNECTION_OK) {
    *why = one_line(PQerrorMessage(db));
    return false;
  }

  // Only what the grouping needs, of the runs that ended within the period. A time of the table
  // may hold a fraction of a second: the period's last second is included whole.
  std::string sql =
      "SELECT floor(extract(epoch from \"end\"))::bigint, station, module, file, result "
      "FROM quillmark_runs WHERE \"end\" IS NOT NULL";
  std::vector<std::string> bounds;
  if (period.since) {
    bounds.push_back(std::to_string(*period.since));
    sql += " AND \"end\" >= to_timestamp($" + std::to_string(bounds.size()) + "::bigint)";
  }
  if (period.until) {
    bounds.push_back(std::to_string(*period.until + 1));
    sql += " AND \"end\" < to_timestamp($" + std::to_string(bounds.size()) + "::bigint)";
  }
  std::vector<const char*> params;
  for (const std::string& b : bounds) params.push_back(b.c_str());
  // One row at a time, so that memory stays small however many runs the line recorded.
  if (!PQsendQueryParams(db, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(),
                         nullptr, nullptr, 0) ||
      !PQsetSingleRowMode(db)) {
    *why = one_line(PQerrorMessage(db));
    return false;
  }
  std::string failure;
  while (PGresult* result = PQgetResult(db)) {
    std::unique_ptr<PGresult, decltype(&PQclear)> owned(result, &PQclear);
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_SINGLE_TUPLE) {
      if (!failure.empty()) continue;
      RunFacts run;
      run.end = static_cast<std::time_t>(std::stoll(PQgetvalue(result, 0, 0)));
      run.station = PQgetvalue(result, 0, 1);
      if (!PQgetisnull(result, 0, 2)) run.module = std::atoi(PQgetvalue(result, 0, 2));
      run.file = PQgetvalue(result, 0, 3);
      if (!PQgetisnull(result, 0, 4)) run.result = std::atoi(PQgetvalue(result, 0, 4));
      take(run);
    } else if (status != PGRES_TUPLES_OK && failure.empty()) {
      failure = one_line(PQresultErrorMessage(result));
      if (failure.empty()) failure = PQresStatus(status);
    }
  }
  if (!failure.empty()) {
    *why = failure;
    return false;
  }
  return true;
}

#endif

}  // namespace log_reader
