#include "ui_win/template_rows.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace ui_win {

namespace {

constexpr WORD kDialogInitType = 240;
// The add-string message as the initialisation data records it, and as it is today.
constexpr WORD kAddStringRecorded = 0x0403;

template <typename T>
bool read(const uint8_t*& at, const uint8_t* end, T& value) {
  if (static_cast<size_t>(end - at) < sizeof value) return false;
  std::memcpy(&value, at, sizeof value);  // entries are packed, without alignment
  at += sizeof value;
  return true;
}

std::wstring from_code_page(const char* text, int length) {
  const int wide = ::MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  std::wstring result(static_cast<size_t>(wide), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, length, result.data(), wide);
  return result;
}

}  // namespace

// Each entry: the control's number, the message, the length of the data, the data (for a row, its
// text in the system's code page with its terminating zero). A number 0 ends the list.
int add_template_rows(HWND dialog, int template_id, HINSTANCE module) {
  if (module == nullptr) module = ::GetModuleHandleW(nullptr);
  HRSRC found =
      ::FindResourceW(module, MAKEINTRESOURCEW(template_id), MAKEINTRESOURCEW(kDialogInitType));
  if (found == nullptr) return 0;
  const auto* at = static_cast<const uint8_t*>(::LockResource(::LoadResource(module, found)));
  if (at == nullptr) return 0;
  const uint8_t* end = at + ::SizeofResource(module, found);
  int added = 0;
  WORD id = 0;
  while (read(at, end, id) && id != 0) {
    WORD message = 0;
    DWORD length = 0;
    if (!read(at, end, message) || !read(at, end, length) ||
        length > static_cast<size_t>(end - at)) {
      break;
    }
    const auto* text = reinterpret_cast<const char*>(at);
    at += length;
    if (message != kAddStringRecorded && message != CB_ADDSTRING) continue;
    const int text_length = static_cast<int>(strnlen(text, length));
    const std::wstring row = from_code_page(text, text_length);
    if (::SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str())) >=
        0) {
      ++added;
    }
  }
  return added;
}

}  // namespace ui_win
