#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace testing_support {

// A PostgreSQL server of the test's own: a cluster made by initdb in a temporary folder, with
// password authentication (scram-sha-256) for the user "quill" whose password is in a password
// file of the folder, listening on a Unix socket in that folder only (no TCP). Run as an
// unprivileged user ("nobody") when the tests run as root, as CI does. The server programs are
// Debian's, under /usr/lib/postgresql/<version>/bin. Stopped, and its folder removed, at the end.
class PgServer {
 public:
  // Makes and starts the cluster; available() tells whether it could (skip the test when not, with
  // why()).
  PgServer();
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  bool available() const { return running_; }
  const std::string& why() const { return why_; }

  // A connection string for database `name` as user quill, without its password: the password
  // comes from the file that password_file() names (give it to the client as PGPASSFILE).
  std::string conninfo(const std::string& database) const;
  std::string password_file() const;
  const std::string& socket_dir() const { return socket_dir_; }
  int port() const { return port_; }

  // Makes a new empty database owned by quill.
  bool create_database(const std::string& name);
  // A user `name` with the same password that may connect to `database` and use tables there but
  // not create them.
  bool create_limited_user(const std::string& name, const std::string& database);

  // Runs `sql` in `database` through psql as quill; gives its output (unaligned, tuples only),
  // or "" with ok false.
  std::string query(const std::string& database, const std::string& sql, bool* ok = nullptr) const;

  // Ends the server at once (SIGKILL, as a crash would), and starts it again on the same folder.
  void kill_hard();
  bool start();
  // Stops the server from answering without closing anything (SIGSTOP), and lets it go on.
  void pause();
  void resume();
  pid_t pid() const { return pid_; }

 private:
  bool run_as_owner(const std::string& command, std::string* output = nullptr) const;

  TempDir dir_;
  std::string bin_;         // /usr/lib/postgresql/<version>/bin
  std::string data_dir_;
  std::string socket_dir_;
  int port_ = 0;
  pid_t pid_ = 0;
  bool running_ = false;
  bool paused_ = false;
  std::string why_;
};

}  // namespace testing_support
