#include "platform/win/wide_text.h"

#include <cstdio>

namespace platform::win {

namespace {

std::wstring convert(UINT code_page, DWORD flags, std::string_view text) {
  if (text.empty()) return {};
  int length = ::MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

}  // namespace

std::wstring widen(std::string_view text) {
  if (text.empty()) return {};
  std::wstring wide = convert(CP_UTF8, MB_ERR_INVALID_CHARS, text);
  return wide.empty() ? convert(CP_ACP, 0, text) : wide;
}

std::string narrow(std::wstring_view text) {
  if (text.empty()) return {};
  int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length,
                        nullptr, nullptr);
  return utf8;
}

std::string error_text(DWORD code) {
  wchar_t* message = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text = length > 0 ? narrow(std::wstring_view(message, length)) : std::string();
  if (message) ::LocalFree(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  char number[24];
  std::snprintf(number, sizeof number, "(%lu)", static_cast<unsigned long>(code));
  return text.empty() ? std::string("error ") + number : text + " " + number;
}

}  // namespace platform::win
