// The bench options of the command line and the change into the bench, the same on every system.
#include <mutex>

#include "platform/bench_folder.h"
#include "platform/executable_dir.h"

namespace platform {

namespace {

std::mutex start_mutex;
std::string start_folder;  // empty: the program entered no bench

}  // namespace

bool read_bench_option(const std::vector<std::string>& args, size_t* i, BenchRequest* request,
                       std::string* error) {
  const std::string& arg = args[*i];
  std::string folder;
  std::string name;
  if (arg == "--bench" || arg == "-C") {
    name = arg;
    if (*i + 1 >= args.size()) {
      *error = "option '" + name + "' requires a folder";
      return true;
    }
    folder = args[++*i];
  } else if (arg.rfind("--bench=", 0) == 0) {
    name = "--bench";
    folder = arg.substr(8);
  } else if (arg.size() > 2 && arg.rfind("-C", 0) == 0) {
    name = "-C";
    folder = arg.substr(2);
  } else {
    return false;
  }
  // An empty name would be the current folder: the program would work where it happens to be.
  if (folder.empty()) {
    *error = "option '" + name + "' requires a folder";
    return true;
  }
  request->folders.push_back(folder);
  error->clear();
  return true;
}

bool enter_bench(const BenchRequest& request, std::string* error) {
  if (request.default_bench && !request.folders.empty()) {
    *error = "--default-bench and --bench name two benches: give one of them";
    return false;
  }
  if (!request.default_bench && request.folders.empty()) return true;
  const std::string started_in = working_directory();
  if (request.default_bench) {
    const std::string folder = default_bench_folder(error);
    if (folder.empty() || !change_to_folder(folder, error)) return false;
  }
  for (const std::string& folder : request.folders) {
    if (!change_to_folder(folder, error)) return false;
  }
  std::lock_guard lock(start_mutex);
  if (start_folder.empty()) start_folder = started_in;
  return true;
}

std::string start_directory() {
  {
    std::lock_guard lock(start_mutex);
    if (!start_folder.empty()) return start_folder;
  }
  return working_directory();
}

void set_start_directory(const std::string& folder) {
  std::lock_guard lock(start_mutex);
  start_folder = folder;
}

}  // namespace platform
