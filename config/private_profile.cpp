#include "config/private_profile.h"

#include <atomic>
#include <optional>

#include "engine/notifications.h"
#include "platform/files.h"

namespace config {

namespace {

std::atomic<WriteStepHook> step_hook{nullptr};

constexpr const char* kInexactUtf16 =
    "the UTF-16 text has an odd byte count or an unpaired surrogate";

void reached(WriteStep step) {
  if (WriteStepHook hook = step_hook.load()) hook(step);
}

// Why an operation failed: what was done and the system's reason.
std::string failure(const char* what, const platform::FileError& error) {
  return std::string(what) + ": " + error.text;
}

enum class ReadOutcome { read, missing, failed };

// Reads the whole regular file at `path`; its permissions go to `permissions` when given.
ReadOutcome read_whole_file(const std::string& path, std::string& content, std::string& why,
                            uint32_t* permissions = nullptr) {
  platform::FileError error;
  platform::File file = platform::File::open(path, platform::FileAccess::read, &error);
  if (!file.is_open()) {
    if (error.missing) return ReadOutcome::missing;
    why = failure("open", error);
    return ReadOutcome::failed;
  }
  platform::FileStatus st;
  if (!file.status(&st, &error)) {
    why = failure("stat", error);
    return ReadOutcome::failed;
  }
  if (!st.regular) {
    why = "not a regular file";
    return ReadOutcome::failed;
  }
  if (static_cast<uint64_t>(st.size) > kMaxProfileFileSize) {
    why = "larger than 1 MiB";
    return ReadOutcome::failed;
  }
  if (permissions) *permissions = st.permissions;
  content.clear();
  char buffer[4096];
  for (;;) {
    long n = file.read(buffer, sizeof buffer, &error);
    if (n < 0) {
      why = failure("read", error);
      return ReadOutcome::failed;
    }
    if (n == 0) return ReadOutcome::read;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > kMaxProfileFileSize) {
      why = "larger than 1 MiB";
      return ReadOutcome::failed;
    }
  }
}

// A new, empty temporary file beside `target`, created with the usual permissions; its name goes
// to `temporary`.
platform::File create_temporary(const std::string& target, std::string& temporary,
                                platform::FileError& error) {
  static std::atomic<unsigned> counter{0};
  size_t slash = target.find_last_of(platform::kPathSeparators);
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = folder + "." + base + "." + std::to_string(platform::process_id()) + "-" +
                std::to_string(counter++) + ".tmp";
    error = {};
    platform::File file = platform::File::open(temporary, platform::FileAccess::create_new, &error);
    if (file.is_open() || !error.exists) return file;
  }
  return platform::File();
}

// Replaces the file at `target` by `content`: a temporary file, flush, then one replacing step
// that is durable when it returns. On failure the temporary file is removed, the old file is
// untouched and `why` says what failed.
bool replace_file(const std::string& target, std::string_view content, const uint32_t* permissions,
                  std::string& why) {
  std::string temporary;
  platform::FileError error;
  platform::File file = create_temporary(target, temporary, error);
  if (!file.is_open()) {
    why = failure("create temporary file", error);
    return false;
  }
  reached(WriteStep::temporary_created);
  auto fail = [&](const char* what) {
    why = failure(what, error);
    file.close();
    platform::remove_file(temporary);
    return false;
  };
  if (permissions && !file.set_permissions(*permissions, &error)) return fail("keep permissions");
  if (!file.write_all(content, &error)) return fail("write temporary file");
  reached(WriteStep::temporary_written);
  if (!file.flush_to_disk(&error)) return fail("flush temporary file");
  if (!file.close(&error)) return fail("close temporary file");
  reached(WriteStep::flushed);
  if (!platform::replace_file(temporary, target, &error)) return fail("rename");
  reached(WriteStep::renamed);
  return true;
}

}  // namespace

ProfileText read_profile_file(const std::string& path, bool* failed) {
  if (failed) *failed = false;
  std::string content;
  std::string why;
  switch (read_whole_file(path, content, why)) {
    case ReadOutcome::read: {
      DecodedProfile decoded = decode_profile(content);
      if (!decoded.exact)
        engine::debug_trace("read_profile_file() %s; read as far as it converts: %s", kInexactUtf16,
                            path.c_str());
      return ProfileText(std::move(decoded.text));
    }
    case ReadOutcome::missing:
      return ProfileText();
    case ReadOutcome::failed:
      break;
  }
  if (failed) *failed = true;
  engine::debug_trace("read_profile_file() %s: %s", why.c_str(), path.c_str());
  return ProfileText();
}

std::string profile_string(const ProfileText& text, std::string_view section, std::string_view key,
                           std::string_view default_value, size_t capacity) {
  std::string_view value = text.find_or(section, key, default_value);
  return std::string(value.substr(0, capacity > 0 ? capacity - 1 : 0));
}

std::string get_private_profile_string(std::string_view section, std::string_view key,
                                       std::string_view default_value, const std::string& path,
                                       size_t capacity) {
  return profile_string(read_profile_file(path), section, key, default_value, capacity);
}

bool write_private_profile_string(std::string_view section, std::string_view key,
                                  std::string_view value, const std::string& path) {
  std::string why;
  if (path.empty()) {
    why = "the settings folder is unknown";
  } else {
    const std::string target = platform::write_target(path);
    std::string content;
    uint32_t permissions = 0;
    ReadOutcome outcome = read_whole_file(target, content, why, &permissions);
    if (outcome != ReadOutcome::failed) {
      const DecodedProfile decoded = decode_profile(content);
      ProfileText text(decoded.text);
      std::optional<std::string> written;
      if (!decoded.exact) {
        why = kInexactUtf16;
      } else if (!text.set(section, key, value)) {
        why = "a name or the value cannot be written as one line";
      } else if (text.text() == decoded.text) {
        return true;
      } else if (!(written = encode_profile(decoded.encoding, text.text()))) {
        why = "a name or the value is not UTF-8 text, which a UTF-16 file cannot hold";
      } else if (replace_file(target, *written,
                              outcome == ReadOutcome::read ? &permissions : nullptr, why)) {
        return true;
      }
    }
  }
  // The reason first: a long path is what the 200-byte line cuts.
  engine::debug_trace("write_private_profile_string() failed, %s: [%.*s] %.*s in %s", why.c_str(),
                      static_cast<int>(section.size()), section.data(),
                      static_cast<int>(key.size()), key.data(), path.c_str());
  return false;
}

void set_write_step_hook(WriteStepHook hook) {
  step_hook.store(hook);
}

}  // namespace config
