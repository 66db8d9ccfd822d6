// quillmark-log: prints the AT traffic logs AtLog_<n>.ini of a bench folder readably, one line per
// block sent to or received from a module; with `runs`, the yield report of the recorded runs.
//
//   quillmark-log [-C BENCH] [--module N] [--tail K] [--raw]
//   quillmark-log [-C BENCH] runs [--by day|hour|station|module|file] [--since T] [--until T]
//                 [--format table|csv|json] [--utc] [--db[=CONNINFO]]
//
// --dir BENCH is the bench option's older name.
//
// Exit status: 0 the logs (the report) were printed, 1 no log found or a log (a runs file, the
// database) that cannot be read, 2 bad arguments.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/bench_folder.h"
#include "platform/executable_dir.h"
#include "platform/files.h"
#include "tools/log_reader/log_view.h"
#include "tools/log_reader/runs_report.h"
#include "tools/log_reader/runs_source.h"

#ifndef QUILL_VERSION
#error "QUILL_VERSION comes from the project version of CMakeLists.txt"
#endif

#ifdef _WIN32
#include "platform/win/console.h"
#endif

namespace {

const char* const kUsage =
    "Usage: quillmark-log [-C BENCH] [--module N] [--tail K] [--raw]\n"
    "       quillmark-log [-C BENCH] runs [--by day|hour|station|module|file] [--since T]\n"
    "                     [--until T] [--format table|csv|json] [--utc] [--db[=CONNINFO]]\n"
    "Prints the AT traffic logs AtLog_1.ini to AtLog_6.ini of a bench folder, one line per\n"
    "block sent to or received from a module: its date and time stamps, \"sent\" or\n"
    "\"received\", and its text.\n"
    "\n"
    "Options:\n"
    "  -C, --bench=BENCH the bench folder (default: the folder it is started in); --dir\n"
    "                    BENCH is the same\n"
    "      --module N    only the log of module N, 1 to 6 (default: every log there is,\n"
    "                    each under a heading)\n"
    "      --tail K      only the last K records of each log\n"
    "      --raw         every block in full, without data summaries\n"
    "  -h, --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "\n"
    "Control characters are shown as \\r, \\n, \\t, \\0 or \\xHH, a backslash as \\\\. The pieces\n"
    "of the update file written after the module's DOWNLOAD prompt, and blocks that are mostly\n"
    "binary, are summarised; consecutive ones share a line: \"data, 10 blocks, 10240 bytes\".\n"
    "\n"
    "runs: the yield report of the bench's recorded runs (runs.csv and the retired\n"
    "runs-until-*.csv beside it): passed, failed, other (stopped and the like), total and\n"
    "the yield, passed / (passed + failed), per group and in all.\n"
    "      --by G        group by day (the default), hour, station, module or file; a run\n"
    "                    belongs to the day and hour of its end\n"
    "      --since T     only runs that ended at T or later; --until T: at T or earlier. T\n"
    "                    is YYYY-MM-DD (--until: up to the end of that day),\n"
    "                    YYYY-MM-DDTHH:MM[:SS] (or a space for the T), with Z or an offset\n"
    "                    such as +01:00 when not in the report's time, today or yesterday\n"
    "      --format F    table (the default), csv or json\n"
    "      --utc         days, hours and times in UTC (default: the local time zone)\n"
    "      --db[=CONNINFO]  the runs of the line's database (table quillmark_runs):\n"
    "                    [Station] Database= of ZEBL.ini, or the libpq connection string\n"
    "                    CONNINFO; never with a password in it (use ~/.pgpass)\n"
    "\n"
    "Exit status: 0 printed, 1 no log found or a log (a runs file, the database) that cannot\n"
    "be read, 2 bad arguments.\n";

// The options of `runs`; the times are read once the time zone is known.
struct RunsOptions {
  bool on = false;
  log_reader::ReportOptions report;
  log_reader::ReportFormat format = log_reader::ReportFormat::table;
  std::optional<std::string> since, until;
  bool db = false;
  std::string conninfo;  // of --db=CONNINFO; empty: the bench's setting
};

struct Options {
  platform::BenchRequest bench;
  RunsOptions runs;
  std::optional<int> module;
  log_reader::ViewOptions view;
  bool help = false;
  bool version = false;
};

int bad_usage(const std::string& why) {
  std::fprintf(stderr, "quillmark-log: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool all_digits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Reads args[*i] as an option of `runs`: "" when it is one, why it is wrong, or "-" when it is
// none of them.
std::string parse_runs_option(const std::vector<std::string>& args, size_t* i, RunsOptions* r) {
  std::string arg = args[*i];
  if (arg == "--utc") {
    r->report.utc = true;
    return "";
  }
  if (arg == "--db") {
    r->db = true;
    return "";
  }
  if (arg.starts_with("--db=")) {
    r->db = true;
    r->conninfo = arg.substr(5);
    if (r->conninfo.empty()) return "option '--db=' requires a connection string";
    return "";
  }
  for (const char* name : {"--by", "--since", "--until", "--format"}) {
    const std::string n = name;
    std::string value;
    if (arg == n) {
      if (*i + 1 >= args.size()) return "option '" + n + "' requires an argument";
      value = args[++*i];
    } else if (arg.starts_with(n + "=")) {
      value = arg.substr(n.size() + 1);
    } else {
      continue;
    }
    if (n == "--by") {
      if (!log_reader::group_by_from_name(value, &r->report.by))
        return "'" + value + "' is not a grouping: day, hour, station, module or file";
    } else if (n == "--format") {
      if (value == "table")
        r->format = log_reader::ReportFormat::table;
      else if (value == "csv")
        r->format = log_reader::ReportFormat::csv;
      else if (value == "json")
        r->format = log_reader::ReportFormat::json;
      else
        return "'" + value + "' is not a format: table, csv or json";
    } else {
      (n == "--since" ? r->since : r->until) = value;
    }
    return "";
  }
  return "-";
}

// Parses the arguments; an empty text, or why they are wrong.
std::string parse(const std::vector<std::string>& args, Options* o) {
  for (size_t i = 1; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string error;
    if (platform::read_bench_option(args, &i, &o->bench, &error)) {
      if (!error.empty()) return error;
      continue;
    }
    if (arg == "runs" && !o->runs.on) {
      o->runs.on = true;
      continue;
    }
    if (o->runs.on) {
      if (std::string why = parse_runs_option(args, &i, &o->runs); why != "-") {
        if (!why.empty()) return why;
        continue;
      }
    }
    std::string value;
    bool takes_value = false;
    for (const char* name : {"--dir", "--module", "--tail"}) {
      std::string n = name;
      if (arg == n) {
        if (i + 1 >= args.size()) return "option '" + n + "' requires an argument";
        value = args[++i];
      } else if (arg.starts_with(n + "=")) {
        value = arg.substr(n.size() + 1);
      } else {
        continue;
      }
      arg = n;
      takes_value = true;
      break;
    }
    if (takes_value && arg == "--dir") {
      if (value.empty()) return "option '--dir' requires a folder";
      o->bench.folders.push_back(value);
    } else if (takes_value && arg == "--module") {
      if (value.size() != 1 || value[0] < '1' || value[0] > '6')
        return "'" + value + "' is not a module: modules are numbered 1 to 6";
      o->module = value[0] - '0';
    } else if (takes_value && arg == "--tail") {
      if (!all_digits(value) || value.size() > 18)
        return "'" + value + "' is not a number of records";
      o->view.tail = std::stoull(value);
    } else if (arg == "--raw") {
      o->view.raw = true;
    } else if (arg == "-h" || arg == "--help") {
      o->help = true;
    } else if (arg == "--version") {
      o->version = true;
    } else {
      return "unknown argument '" + arg + "'";
    }
  }
  if (o->runs.on && (o->module || o->view.tail || o->view.raw))
    return "--module, --tail and --raw are not options of runs";
  return "";
}

// Whether the log at `path` is missing (rather than present, or there but unreadable).
bool missing(const std::string& path) {
  platform::FileError error;
  return !platform::File::open(path, platform::FileAccess::read, &error).is_open() && error.missing;
}

// quillmark-log runs: the yield report, in the bench folder.
int runs_report(RunsOptions& r) {
  log_reader::ReportOptions& report_options = r.report;
  const std::time_t now = std::time(nullptr);
  for (bool until : {false, true}) {
    const std::optional<std::string>& text = until ? r.until : r.since;
    if (!text) continue;
    std::time_t bound = 0;
    std::string why;
    if (!log_reader::parse_time_bound(*text, until, report_options.utc, now, &bound, &why))
      return bad_usage(std::string(until ? "--until: " : "--since: ") + why);
    (until ? report_options.period.until : report_options.period.since) = bound;
  }
  if (report_options.period.since && report_options.period.until &&
      *report_options.period.since > *report_options.period.until)
    return bad_usage("--since " + *r.since + " is after --until " + *r.until);

  report_options.source = r.db ? "database" : "files";
  log_reader::RunsReport report(report_options);
  const auto take = [&report](const log_reader::RunFacts& run) { report.add(run); };
  if (r.db) {
    if (!log_reader::database_supported()) {
      std::fprintf(stderr,
                   "quillmark-log: --db: this Windows build has no PostgreSQL client "
                   "library\n");
      return 2;
    }
    std::string what = "--db";
    if (r.conninfo.empty()) {
      what = "[Station] Database= of " + std::string(config::kSettingsFileName);
      r.conninfo = config::load_line_record_settings().database;
      if (r.conninfo.empty()) {
        std::fprintf(stderr, "quillmark-log: --db: %s is not set; give --db=CONNINFO\n",
                     what.c_str());
        return 2;
      }
    }
    std::string why;
    if (!station::check_database_setting(r.conninfo, &why)) {
      std::fprintf(stderr, "quillmark-log: %s: %s\n", what.c_str(), why.c_str());
      return 2;
    }
    if (!log_reader::read_runs_database(r.conninfo, report_options.period, take, &why)) {
      std::fprintf(stderr, "quillmark-log: database: %s\n", why.c_str());
      return 1;
    }
  } else {
    const std::string station = config::load_line_record_settings().station_name;
    log_reader::FilesRead read;
    std::string why;
    if (!log_reader::read_runs_files(station, take, &read, &why)) {
      std::fprintf(stderr, "quillmark-log: %s\n", why.c_str());
      return 1;
    }
    for (const auto& [file, lines] : read.damaged)
      std::fprintf(stderr, "quillmark-log: %s: %lld damaged line%s skipped\n", file.c_str(),
                   static_cast<long long>(lines), lines == 1 ? "" : "s");
  }

  if (report.empty() && r.format == log_reader::ReportFormat::table) {
    std::fprintf(
        stderr, "quillmark-log: no runs recorded%s\n",
        report_options.period.since || report_options.period.until ? " in the period" : "");
    return 0;
  }
  switch (r.format) {
    case log_reader::ReportFormat::table:
      log_reader::write_table(report, std::cout);
      break;
    case log_reader::ReportFormat::csv:
      log_reader::write_csv(report, std::cout);
      break;
    case log_reader::ReportFormat::json:
      log_reader::write_json(report, std::cout);
      break;
  }
  std::cout.flush();
  return 0;
}

int run(int argc, char** argv) {
  Options options;
  if (std::string why = parse(platform::program_arguments(argc, argv), &options); !why.empty())
    return bad_usage(why);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("quillmark-log %s\n", QUILL_VERSION);
    return 0;
  }
  if (std::string why; !platform::enter_bench(options.bench, &why)) {
    std::fprintf(stderr, "quillmark-log: %s\n", why.c_str());
    return 2;
  }
  std::ios::sync_with_stdio(false);
  if (options.runs.on) return runs_report(options.runs);

  int status = 0;
  int found = 0;
  for (int n = 1; n <= 6; ++n) {
    if (options.module && *options.module != n) continue;
    std::string name = "AtLog_" + std::to_string(n) + ".ini";
    if (!options.module && missing(name)) continue;
    ++found;
    if (!options.module) std::cout << (found > 1 ? "\n" : "") << "== " << name << " ==\n";
    std::string error;
    if (!log_reader::print_log(name, options.view, std::cout, &error)) {
      std::cout.flush();
      std::fprintf(stderr, "quillmark-log: %s: %s\n", name.c_str(), error.c_str());
      status = 1;
    }
  }
  std::cout.flush();
  if (found == 0) {
    std::fprintf(stderr, "quillmark-log: no AT traffic log (AtLog_1.ini to AtLog_6.ini) in %s\n",
                 options.bench.folders.empty() ? "the working directory"
                                               : platform::working_directory().c_str());
    return 1;
  }
  return status;
}

}  // namespace

#ifdef _WIN32
// The arguments arrive in UTF-16, so that a bench folder named in any language is found; inside
// they are UTF-8, as is what is printed.
int wmain(int argc, wchar_t** wide_argv) {
  return platform::win::run_with_utf8_arguments(argc, wide_argv, run);
}
#else
int main(int argc, char** argv) {
  return run(argc, argv);
}
#endif
