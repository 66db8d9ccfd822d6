#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "config/profile_encoding.h"
#include "config/profile_text.h"

namespace config {

// A value is read into this many bytes, so at most one character less of it is seen.
constexpr size_t kProfileValueSize = 260;

// Settings files are small; a larger file is not read (and therefore never rewritten).
constexpr size_t kMaxProfileFileSize = size_t{1} << 20;

// The profile text of the file at `path` (UTF-8 for a UTF-16 file; without a byte order mark;
// see decode_profile): empty when the file does not exist, and also, with the reason on the debug
// channel, when it cannot be read. A failed read is told apart in `failed`. UTF-16 text that does
// not convert exactly is read as far as it converts, with a debug line.
ProfileText read_profile_file(const std::string& path, bool* failed = nullptr);

// What a reader with a buffer of `capacity` bytes gets: the value of `key` in `section` of `text`,
// or `default_value` without its trailing blanks (ProfileText::find_or), cut to `capacity` - 1
// bytes.
std::string profile_string(const ProfileText& text, std::string_view section, std::string_view key,
                           std::string_view default_value, size_t capacity = kProfileValueSize);

// profile_string() of the file at `path`; a missing or unreadable file gives the default.
std::string get_private_profile_string(std::string_view section, std::string_view key,
                                       std::string_view default_value, const std::string& path,
                                       size_t capacity = kProfileValueSize);

// Writes `value` as `key` of `section` in the file at `path` (see ProfileText::set), creating the
// file when it does not exist. The file keeps its encoding (see decode_profile); a UTF-16 file
// that does not convert exactly, or a name or value that is not UTF-8 for a UTF-16 file, is
// refused. The file is replaced atomically: a temporary file in the same
// folder is written, flushed to disk and renamed over the file, so that a crash or a full disk at
// any moment leaves either the old file or the new one. False when nothing was written; the
// debug channel then says why.
bool write_private_profile_string(std::string_view section, std::string_view key,
                                  std::string_view value, const std::string& path);

// The steps of a write, after each of which a test may stop the writer.
enum class WriteStep { temporary_created, temporary_written, flushed, renamed };
using WriteStepHook = void (*)(WriteStep);

// Test only: calls `hook` after each step of every write (null: no hook).
void set_write_step_hook(WriteStepHook hook);

}  // namespace config
