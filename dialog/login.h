#pragma once

#include <string_view>

namespace dialog {

// The password of the settings mode. It guards the settings against changes by accident; it is no
// security boundary (it is written in the program and in its manual).
inline constexpr std::string_view kLoginPassword = "KDRAWPEL";

// The answer to a wrong password, captioned with the application's name.
inline constexpr std::string_view kWrongPasswordText = "密码错误,请重新输入!";

// The login dialog's OK: true when `typed` is the password exactly (same length, same bytes, letter
// case significant), and the dialog ends with IDOK; otherwise the dialog answers with
// kWrongPasswordText, empties its box and stays open. Attempts are not counted.
inline bool password_accepted(std::string_view typed) {
  return typed == kLoginPassword;
}

}  // namespace dialog
