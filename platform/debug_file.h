#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// The debug channel written to a file while the object lives (--debug FILE of the programs): one
// line per trace, each stamped with the local time. A trace is written as a line end followed by
// its text; line ends only separate the lines here, so the file has no empty lines. The file is
// appended to; "-" stands for standard error. When it goes, the channel goes nowhere again and the
// last line is ended.
class DebugFile {
 public:
  // Nothing, with the path and the system's reason in `why`, when the file cannot be opened.
  static std::unique_ptr<DebugFile> open(const std::string& path, std::string* why);

  ~DebugFile();
  DebugFile(const DebugFile&) = delete;
  DebugFile& operator=(const DebugFile&) = delete;

  // Writes `text` as the channel's sink does (the channel's lock held).
  void write(std::string_view text);

 private:
  DebugFile(std::FILE* out, bool owned) : out_(out), owned_(owned) {}
  std::FILE* out_;
  bool owned_;
  bool line_open_ = false;  // the current line has text and no line end yet
};

}  // namespace platform
