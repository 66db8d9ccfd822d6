#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

typedef struct pg_conn PGconn;

namespace station {

// A connection to the line's database in which nothing ever blocks: it is made with libpq's
// non-blocking calls, and every wait is a poll() on its socket together with a wake descriptor,
// with a limit of its own. When the wake descriptor becomes readable, `woken` is asked whether to
// give up (a stop): then the call returns at once, and the connection is closed.
class PgLink {
 public:
  PgLink(int wake_fd, std::function<bool()> woken);
  ~PgLink();
  PgLink(const PgLink&) = delete;
  PgLink& operator=(const PgLink&) = delete;

  // Connects within `limit_ms`. False with the reason in words ("could not connect: ...",
  // "password authentication failed for user ...").
  bool connect(const std::string& conninfo, int64_t limit_ms, std::string* why);
  bool connected() const { return conn_ != nullptr; }
  int server_version() const;
  void close();

  using Params = std::vector<std::optional<std::string>>;
  using Rows = std::vector<std::vector<std::optional<std::string>>>;

  // Runs `sql` (one statement with $1... for `params`; or, without params, several statements)
  // and waits at most `limit_ms` for its answer. False with the reason in `why` (the server's
  // message on one line, or "the database did not answer within N s") and its SQLSTATE in
  // `sqlstate` when the server gave one. After a failure without SQLSTATE the link is closed.
  bool query(const std::string& sql, const Params& params, int64_t limit_ms, Rows* rows,
             std::string* why, std::string* sqlstate = nullptr);

  // While idle: reads what the server sent by itself (a notice, or the end of the connection).
  // False, and closed, when the connection is gone.
  bool still_open();
  int socket() const;

  // Whether the last wait ended because `woken` said to give up.
  bool abandoned() const { return abandoned_; }

 private:
  enum class Waited { ready, timeout, abandoned };
  Waited wait(short events, int64_t deadline_ms);

  int wake_fd_;
  std::function<bool()> woken_;
  PGconn* conn_ = nullptr;
  bool abandoned_ = false;
};

// libpq's message on one line: its first line, without "ERROR:  " or "FATAL:  " and the
// "connection to server ... failed: " before it.
std::string one_line(const char* message);

// The current time of the waits, in milliseconds.
int64_t steady_ms();

}  // namespace station
