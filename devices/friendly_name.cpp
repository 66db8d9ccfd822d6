#include "devices/friendly_name.h"

namespace devices {

std::string clean_description(std::string_view raw) {
  std::string clean;
  bool pending_blank = false;
  for (char c : raw) {
    bool printable = c > ' ' && c < 0x7f && c != '(' && c != ')';
    if (!printable) {
      // Blanks, control bytes, and bytes of other scripts all separate words; parentheses
      // vanish without splitting the word they stood in.
      if (c != '(' && c != ')') pending_blank = !clean.empty();
      continue;
    }
    if (pending_blank) {
      if (clean.size() + 1 >= kMaxDescriptionLength) break;
      clean += ' ';
      pending_blank = false;
    }
    if (clean.size() >= kMaxDescriptionLength) break;
    clean += c;
  }
  return clean.empty() ? "Serial Port" : clean;
}

std::string friendly_name(std::string_view description, unsigned number) {
  return clean_description(description) + " (COM" + std::to_string(number) + ")";
}

}  // namespace devices
