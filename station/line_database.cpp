#include "station/line_database.h"

namespace station {

namespace {

// The table is made under an advisory lock of a key of its own, held until the commit.
constexpr const char* kCreateTables = R"(BEGIN;
SELECT pg_advisory_xact_lock(8175869165489842795);
CREATE TABLE IF NOT EXISTS quillmark_runs (
  run_id      uuid PRIMARY KEY,
  station     text NOT NULL,
  start       timestamptz,
  "end"       timestamptz,
  module      integer,
  com         integer,
  device      text,
  id_path     text,
  serial      text,
  file        text,
  size        bigint,
  sha256      text,
  result      integer,
  cause       text,
  duration_ms bigint,
  version     text,
  host        text,
  attempts    integer,
  imei        text,
  revision    text,
  shipped_at  timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS quillmark_runs_end ON quillmark_runs ("end");
CREATE TABLE IF NOT EXISTS quillmark_schema (name text PRIMARY KEY, version integer NOT NULL);
INSERT INTO quillmark_schema VALUES ('quillmark_runs', 1) ON CONFLICT (name) DO NOTHING;
COMMIT;)";

constexpr const char* kInsufficientPrivilege = "42501";

const char* sql_type(LineType type) {
  switch (type) {
    case LineType::uuid:
      return "uuid";
    case LineType::time:
      return "timestamptz";
    case LineType::integer:
      return "integer";
    case LineType::bigint:
      return "bigint";
    case LineType::text:
      break;
  }
  return "text";
}

std::string column_name(size_t c) {
  const std::string name(kRunColumnNames[c]);
  return name == "end" ? "\"end\"" : name;
}

// INSERT ... SELECT FROM unnest of one array per column: one statement and one round trip for the
// whole batch, with the values as parameters.
const std::string& insert_sql() {
  static const std::string sql = [] {
    std::string names, arrays, aliases;
    for (size_t c = 0; c < kRunColumnCount; ++c) {
      const std::string sep = c ? ", " : "";
      names += sep + column_name(c);
      arrays += sep + "$" + std::to_string(c + 2) +
                "::" + sql_type(line_type(static_cast<RunColumn>(c))) + "[]";
      aliases += sep + column_name(c);
    }
    return "INSERT INTO quillmark_runs (station, " + names + ") SELECT $1, " + names +
           " FROM unnest(" + arrays + ") AS r(" + aliases + ") ON CONFLICT (run_id) DO NOTHING";
  }();
  return sql;
}

std::string table_failure(const std::string& message, const std::string& sqlstate) {
  return sqlstate == kInsufficientPrivilege ? "the table quillmark_runs: " + message : message;
}

}  // namespace

std::string array_literal(const std::vector<const std::optional<std::string>*>& values) {
  std::string text = "{";
  for (size_t k = 0; k < values.size(); ++k) {
    if (k) text += ',';
    if (!*values[k]) {
      text += "NULL";
      continue;
    }
    text += '"';
    for (char c : **values[k]) {
      if (c == '"' || c == '\\') text += '\\';
      text += c;
    }
    text += '"';
  }
  return text + "}";
}

bool prepare_line_table(PgLink& link, int64_t limit_ms, std::string* why) {
  PgLink::Rows rows;
  std::string sqlstate;
  if (!link.query("SELECT to_regclass('quillmark_runs') IS NOT NULL, "
                  "to_regclass('quillmark_schema') IS NOT NULL",
                  {}, limit_ms, &rows, why))
    return false;
  const bool both = rows.size() == 1 && rows[0][0] == "t" && rows[0][1] == "t";
  const bool runs = rows.size() == 1 && rows[0][0] == "t";
  if (!both && !link.query(kCreateTables, {}, limit_ms, nullptr, why, &sqlstate)) {
    if (sqlstate.empty()) return false;
    PgLink::Rows ignored;
    std::string rollback_why;
    link.query("ROLLBACK", {}, limit_ms, &ignored, &rollback_why);
    // A table made by someone else without the version's table: its columns are the first ones.
    if (!(runs && sqlstate == kInsufficientPrivilege)) {
      *why = table_failure(*why, sqlstate);
      return false;
    }
    return link.connected();
  }
  if (!link.query("SELECT version FROM quillmark_schema WHERE name = 'quillmark_runs'", {},
                  limit_ms, &rows, why, &sqlstate)) {
    *why = table_failure(*why, sqlstate);
    return false;
  }
  if (!rows.empty() && rows[0][0] && std::stoll(*rows[0][0]) > kLineSchemaVersion) {
    *why = "the table quillmark_runs has columns of version " + *rows[0][0] +
           "; this program writes version " + std::to_string(kLineSchemaVersion) +
           " and ships nothing there";
    return false;
  }
  return true;
}

bool insert_line_rows(PgLink& link, const std::string& station, const std::vector<RowAt>& rows,
                      int64_t limit_ms, std::string* why) {
  PgLink::Params params;
  params.reserve(kRunColumnCount + 1);
  params.emplace_back(station);
  std::vector<const std::optional<std::string>*> column(rows.size());
  for (size_t c = 0; c < kRunColumnCount; ++c) {
    for (size_t r = 0; r < rows.size(); ++r) column[r] = &rows[r].row[c];
    params.emplace_back(array_literal(column));
  }
  std::string sqlstate;
  if (link.query(insert_sql(), params, limit_ms, nullptr, why, &sqlstate)) return true;
  *why = table_failure(*why, sqlstate);
  return false;
}

bool inspect_line_database(PgLink& link, int64_t limit_ms, std::string* report) {
  auto line = [report](const std::string& text) { *report += text + "\n"; };
  const int version = link.server_version();
  line("server: PostgreSQL " + std::to_string(version / 10000) + "." +
       std::to_string(version % 10000));
  PgLink::Rows rows;
  std::string why;
  if (!link.query("SELECT to_regclass('quillmark_runs') IS NOT NULL, "
                  "has_schema_privilege(current_schema(), 'CREATE'), "
                  "to_regclass('quillmark_schema') IS NOT NULL, current_user",
                  {}, limit_ms, &rows, &why) ||
      rows.size() != 1) {
    line("the database could not be asked: " + why);
    return false;
  }
  const bool exists = rows[0][0] == "t";
  const bool may_create = rows[0][1] == "t";
  const bool versioned = rows[0][2] == "t";
  const std::string user = rows[0][3].value_or("?");
  if (!exists) {
    line(may_create
             ? "the table quillmark_runs does not exist yet: the first record makes it"
             : "the table quillmark_runs does not exist, and user " + user + " may not create it");
    return may_create;
  }
  line("the table quillmark_runs exists");
  if (versioned &&
      link.query("SELECT version FROM quillmark_schema WHERE name = 'quillmark_runs'", {}, limit_ms,
                 &rows, &why) &&
      !rows.empty() && rows[0][0]) {
    const bool known = std::stoll(*rows[0][0]) <= kLineSchemaVersion;
    line("its columns are of version " + *rows[0][0] +
         (known ? "" : ": newer than this program's " + std::to_string(kLineSchemaVersion)));
    if (!known) return false;
  }
  if (!link.query("SELECT has_table_privilege('quillmark_runs', 'INSERT')", {}, limit_ms, &rows,
                  &why) ||
      rows.size() != 1) {
    line("the table's privileges could not be asked: " + why);
    return false;
  }
  const bool may_insert = rows[0][0] == "t";
  line(may_insert ? "user " + user + " may insert records"
                  : "user " + user + " may not insert into quillmark_runs");
  return may_insert;
}

}  // namespace station
