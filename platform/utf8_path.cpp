#include "platform/utf8_path.h"

#ifdef _WIN32
#include "platform/win/wide_text.h"
#endif

namespace platform {

#ifdef _WIN32

std::filesystem::path utf8_path(std::string_view text) {
  return std::filesystem::path(win::widen(text));
}

std::string utf8_text(const std::filesystem::path& path) {
  return win::narrow(path.native());
}

std::string outside_path_text(std::string_view text) {
  return win::narrow(win::widen(text));
}

#else

std::filesystem::path utf8_path(std::string_view text) {
  return std::filesystem::path(std::string(text));
}

std::string utf8_text(const std::filesystem::path& path) {
  return path.native();
}

std::string outside_path_text(std::string_view text) {
  return std::string(text);
}

#endif

}  // namespace platform
