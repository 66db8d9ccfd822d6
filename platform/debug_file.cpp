#include "platform/debug_file.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/debug_output.h"
#include "platform/local_time.h"
#ifdef _WIN32
#include "platform/win/wide_text.h"
#endif

namespace platform {

std::unique_ptr<DebugFile> DebugFile::open(const std::string& path, std::string* why) {
  std::unique_ptr<DebugFile> file;
  if (path == "-") {
    file.reset(new DebugFile(stderr, false));
  } else {
#ifdef _WIN32
    // The wide call, since the narrow one reads the path in the ANSI code page; in binary mode,
    // so that each line ends in a line feed as on Linux.
    std::FILE* out = ::_wfopen(win::widen(path).c_str(), L"ab");
#else
    std::FILE* out = std::fopen(path.c_str(), "ae");
#endif
    if (!out) {
      if (why) *why = path + ": " + std::strerror(errno);
      return nullptr;
    }
    file.reset(new DebugFile(out, true));
  }
  DebugFile* sink = file.get();
  set_debug_sink([sink](std::string_view text) { sink->write(text); });
  return file;
}

DebugFile::~DebugFile() {
  set_debug_sink({});  // waits for a write under way
  if (line_open_) std::fputc('\n', out_);
  if (owned_)
    std::fclose(out_);
  else
    std::fflush(out_);
}

void DebugFile::write(std::string_view text) {
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (line_open_) std::fputc('\n', out_);
      line_open_ = false;
      continue;
    }
    if (!line_open_) std::fprintf(out_, "%s ", iso_local_time(std::time(nullptr)).c_str());
    line_open_ = true;
    std::fputc(c, out_);
  }
  std::fflush(out_);
}

}  // namespace platform
