#include "station/pg_link.h"

#include <libpq-fe.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <set>

namespace station {

namespace {

// What the link adds to the setting unless it names them: a limit for making the connection (the
// link enforces it, in seconds), one for unacknowledged TCP data, the program's name for the
// server's view of its sessions, and UTF-8, the runs file's encoding.
struct Default {
  const char* keyword;
  const char* value;
};
constexpr Default kDefaults[] = {{"connect_timeout", "10"},
                                 {"tcp_user_timeout", "10000"},
                                 {"application_name", "quillmark"},
                                 {"client_encoding", "UTF8"}};

std::string seconds_text(int64_t ms) {
  return std::to_string((ms + 999) / 1000) + " s";
}

}  // namespace

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string one_line(const char* message) {
  std::string text = message ? message : "";
  const size_t failed = text.find("\" failed: ");
  if (text.starts_with("connection to server") && failed != std::string::npos)
    text.erase(0, failed + 10);
  for (const char* prefix : {"ERROR:  ", "FATAL:  "})
    if (text.starts_with(prefix)) text.erase(0, std::string(prefix).size());
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text.empty() ? "unknown failure" : text;
}

PgLink::PgLink(int wake_fd, std::function<bool()> woken)
    : wake_fd_(wake_fd), woken_(std::move(woken)) {}

PgLink::~PgLink() {
  close();
}

void PgLink::close() {
  // Non-blocking: the goodbye is sent if the socket takes it, never waited for.
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
}

int PgLink::socket() const {
  return conn_ ? PQsocket(conn_) : -1;
}

int PgLink::server_version() const {
  return conn_ ? PQserverVersion(conn_) : 0;
}

PgLink::Waited PgLink::wait(short events, int64_t deadline_ms) {
  for (;;) {
    const int64_t left = deadline_ms - steady_ms();
    if (left <= 0) return Waited::timeout;
    pollfd fds[2] = {{PQsocket(conn_), events, 0}, {wake_fd_, POLLIN, 0}};
    const int n = ::poll(fds, 2, static_cast<int>(std::min<int64_t>(left, 60000)));
    if (n < 0 && errno != EINTR) return Waited::timeout;
    if (n <= 0) continue;
    if (fds[1].revents & POLLIN && woken_()) {
      abandoned_ = true;
      return Waited::abandoned;
    }
    if (fds[0].revents) return Waited::ready;
  }
}

bool PgLink::connect(const std::string& conninfo, int64_t max_ms, std::string* why) {
  close();
  abandoned_ = false;
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (!options) {
    *why = "could not connect: " + one_line(error);
    PQfreemem(error);
    return false;
  }
  std::set<std::string> named;
  int64_t limit_ms = 10000;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (!o->val) continue;
    named.insert(o->keyword);
    // As libpq reads it: whole seconds, and at least 2.
    if (std::string(o->keyword) == "connect_timeout" && std::atoi(o->val) > 0)
      limit_ms = std::max(2, std::atoi(o->val)) * 1000LL;
  }
  PQconninfoFree(options);
  limit_ms = std::min(limit_ms, max_ms);
  std::vector<const char*> keywords = {"dbname"}, values = {conninfo.c_str()};
  for (const Default& d : kDefaults)
    if (!named.count(d.keyword)) keywords.push_back(d.keyword), values.push_back(d.value);
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  const int64_t deadline = steady_ms() + limit_ms;
  conn_ = PQconnectStartParams(keywords.data(), values.data(), 1);
  if (!conn_) {
    *why = "could not connect: out of memory";
    return false;
  }
  auto fail = [&](const std::string& reason) {
    *why = reason;
    close();
    return false;
  };
  if (PQstatus(conn_) == CONNECTION_BAD)
    return fail("could not connect: " + one_line(PQerrorMessage(conn_)));
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) {
      const std::string message = one_line(PQerrorMessage(conn_));
      const bool server_said =
          std::string(PQerrorMessage(conn_)).find("FATAL:") != std::string::npos;
      return fail(server_said ? message : "could not connect: " + message);
    }
    const Waited waited = wait(state == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline);
    if (waited == Waited::abandoned) return fail("stopped");
    if (waited == Waited::timeout)
      return fail("could not connect: no answer within " + seconds_text(limit_ms));
    state = PQconnectPoll(conn_);
  }
  if (PQsetnonblocking(conn_, 1) != 0)
    return fail("could not connect: " + one_line(PQerrorMessage(conn_)));
  return true;
}

bool PgLink::query(const std::string& sql, const Params& params, int64_t limit_ms, Rows* rows,
                   std::string* why, std::string* sqlstate) {
  if (rows) rows->clear();
  if (sqlstate) sqlstate->clear();
  abandoned_ = false;
  if (!conn_) {
    *why = "not connected";
    return false;
  }
  auto lost = [&](const std::string& reason) {
    *why = reason;
    close();
    return false;
  };
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  const int sent = params.empty()
                       ? PQsendQuery(conn_, sql.c_str())
                       : PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()),
                                           nullptr, values.data(), nullptr, nullptr, 0);
  if (!sent) return lost(one_line(PQerrorMessage(conn_)));
  const int64_t deadline = steady_ms() + limit_ms;
  const std::string no_answer = "the database did not answer within " + seconds_text(limit_ms);
  for (;;) {
    const int flushed = PQflush(conn_);
    if (flushed < 0) return lost(one_line(PQerrorMessage(conn_)));
    if (flushed == 0) break;
    const Waited waited = wait(POLLIN | POLLOUT, deadline);
    if (waited == Waited::abandoned) return lost("stopped");
    if (waited == Waited::timeout) return lost(no_answer);
    if (!PQconsumeInput(conn_)) return lost(one_line(PQerrorMessage(conn_)));
  }
  std::string failure, state;
  for (;;) {
    if (!PQconsumeInput(conn_)) return lost(one_line(PQerrorMessage(conn_)));
    bool done = false;
    while (!PQisBusy(conn_)) {
      PGresult* result = PQgetResult(conn_);
      if (!result) {
        done = true;
        break;
      }
      const ExecStatusType status = PQresultStatus(result);
      if (status == PGRES_TUPLES_OK && rows) {
        for (int r = 0; r < PQntuples(result); ++r) {
          auto& row = rows->emplace_back();
          for (int c = 0; c < PQnfields(result); ++c)
            row.push_back(PQgetisnull(result, r, c)
                              ? std::nullopt
                              : std::optional<std::string>(PQgetvalue(result, r, c)));
        }
      } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && failure.empty()) {
        failure = one_line(PQresultErrorMessage(result));
        const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        state = code ? code : "";
      }
      PQclear(result);
    }
    if (done) break;
    const Waited waited = wait(POLLIN, deadline);
    if (waited == Waited::abandoned) return lost("stopped");
    if (waited == Waited::timeout) return lost(no_answer);
  }
  if (failure.empty()) return true;
  *why = failure;
  if (sqlstate) *sqlstate = state;
  if (state.empty()) close();
  return false;
}

bool PgLink::still_open() {
  if (!conn_) return false;
  if (!PQconsumeInput(conn_) || PQstatus(conn_) == CONNECTION_BAD) {
    close();
    return false;
  }
  while (!PQisBusy(conn_)) {
    PGresult* result = PQgetResult(conn_);
    if (!result) break;
    PQclear(result);
  }
  return true;
}

}  // namespace station
