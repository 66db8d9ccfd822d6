// The bench folder on Linux: the change of folder and the user's default bench, ~/quillmark.
#include "platform/bench_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/executable_dir.h"

namespace platform {

namespace {

std::string folder_error(const std::string& folder, const std::string& why) {
  return "bench folder " + folder + ": " + why;
}

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool change_to_folder(const std::string& folder, std::string* error) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) {
    *error = folder_error(folder, std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = folder_error(folder, "not a folder");
    return false;
  }
  if (::chdir(folder.c_str()) != 0) {
    *error = folder_error(folder, std::strerror(errno));
    return false;
  }
  return true;
}

// The folder is made only in a home of the user's own: root with somebody's HOME (su, sudo -E)
// would leave that user a folder of root's in the way.
std::string default_bench_folder(std::string* error) {
  const std::string home = home_directory();
  if (home.empty()) {
    *error = "no default bench folder: the user's home is not known";
    return {};
  }
  const std::string folder = home == "/" ? "/quillmark" : home + "/quillmark";
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return folder;  // change_to_folder judges what it is
  if (errno != ENOENT) {
    *error = folder_error(folder, std::strerror(errno));
    return {};
  }
  if (::stat(home.c_str(), &st) != 0) {
    *error = folder_error(folder, "not made: " + home + ": " + std::strerror(errno));
    return {};
  }
  if (st.st_uid != ::geteuid()) {
    *error =
        folder_error(folder, "not made: " + home + " belongs to user " + std::to_string(st.st_uid) +
                                 ", not to user " + std::to_string(::geteuid()));
    return {};
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = folder_error(folder, std::strerror(errno));
    return {};
  }
  return folder;
}

}  // namespace platform
