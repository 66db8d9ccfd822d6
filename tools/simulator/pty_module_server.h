#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/simulator/simulated_module.h"

namespace simulator {

// Whether COM<com> of the ports folder `ports` is free for a simulated module: no entry of that
// name, or a link that leads nowhere (left by a simulator that did not end properly).
bool com_link_free(const std::filesystem::path& ports, unsigned com);

// Simulated modules behind pseudo-terminals, registered as COM<n> links in a ports folder, served
// by one event loop. The server keeps a slave descriptor of each terminal open, so a module never
// sees a hang-up between the tool's openings, and it removes its links when it ends. It never takes
// over a link that leads to an existing device (another simulator's, or a port of the bench), and
// it only removes links that still lead to its own terminals.
//
// The tool opens a port in exclusive mode (TIOCEXCL) and holds an flock on it while it has it open.
// Because the server's own descriptor keeps the terminal alive, the mode would outlive a tool that
// was killed and keep every later opening out. The server clears it once no descriptor holds the
// port's flock any more, and never while one does.
class PtyModuleServer {
 public:
  // `store` (optional) receives every stored file as <store>/COM<n>/<name>.
  PtyModuleServer(std::filesystem::path ports, std::filesystem::path store = {});
  ~PtyModuleServer();
  PtyModuleServer(const PtyModuleServer&) = delete;
  PtyModuleServer& operator=(const PtyModuleServer&) = delete;

  // Creates the module COM<n>. False, with the reason, when it cannot: also when COM<n> is
  // simulated already or its link leads to an existing device. A dangling link is replaced.
  bool add(unsigned com, Faults faults, std::string* why = nullptr);

  // Serves until stop() is called. Runs on one thread.
  void run();
  // Serves on a thread of its own until stop() or the destructor.
  void start();
  // Ends run(); safe from any thread and from a signal handler.
  void stop();

  // The slave device of COM<n>, and the files that module has stored (empty when unknown).
  std::string device(unsigned com) const;
  std::map<std::string, std::string> files(unsigned com) const;
  bool pulled_out(unsigned com) const;

 private:
  struct Module;
  void serve(Module& m, int64_t now);
  // Clears the exclusive mode of every terminal whose client has gone; gives whether a terminal
  // is still in exclusive mode (its client still has it, or may have just gone).
  bool release_abandoned_terminals();
  // Takes the close notices of the terminals (a client closed its descriptor, or was ended).
  bool drain_close_notices();
  void pull_out(Module& m);
  // Writes a stored file to <store>/COM<com>/<name>.
  void store(unsigned com, const std::string& name, const std::string& content);

  std::filesystem::path ports_;
  std::filesystem::path store_;
  int wake_fd_;
  int close_notices_fd_;      // inotify: a descriptor of a terminal was closed
  bool every_close_noticed_;  // false when a terminal could not be watched: look periodically
  mutable std::mutex mutex_;  // guards the modules' state against readers on other threads
  std::map<unsigned, std::unique_ptr<Module>> modules_;
  std::thread thread_;
};

}  // namespace simulator
