#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devices {

// The longest description kept in a friendly name. With " (COM<n>)" appended a name stays far
// below the 260 bytes that every reader of friendly names expects.
constexpr size_t kMaxDescriptionLength = 64;

// A description that came from a device, made safe to show beside a COM number: parentheses and
// control or non-ASCII bytes are dropped (a device must never be able to add a "(COM9" of its
// own), blanks are collapsed, and the text is cut to kMaxDescriptionLength characters. An empty
// result becomes "Serial Port".
std::string clean_description(std::string_view raw);

// "<description> (COM<n>)", the description cleaned first.
std::string friendly_name(std::string_view description, unsigned number);

}  // namespace devices
