#pragma once

// Text conversions between the tool's strings and the wide-character calls of Windows. The tool
// keeps every path and name as UTF-8, as it does on Linux.
#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win {

// `text` as UTF-16 for a wide-character call. Text that is not UTF-8 (a path typed into a settings
// file in the computer's ANSI code page) is read in that code page instead.
std::wstring widen(std::string_view text);

// UTF-16 text from a wide-character call as UTF-8.
std::string narrow(std::wstring_view text);

// The system's message for an error code, on one line, with the code: "Access is denied. (5)".
std::string error_text(DWORD code);

// Closes a handle at the end of its scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : h_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = other.release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(HANDLE h = nullptr) {
    if (valid()) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace platform::win
