#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

// A fresh folder, removed with everything in it at the end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Makes a folder the working directory for its scope.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::filesystem::path& dir);
  ~ScopedWorkingDirectory();

 private:
  std::filesystem::path previous_;
};

// The whole content of a file ("" when it does not exist).
std::string read_file(const std::filesystem::path& path);

}  // namespace testing_support
