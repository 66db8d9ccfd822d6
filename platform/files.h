#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The file calls of the engine and the settings, the same on every system. Paths are UTF-8.

// The characters that separate the folders of a path.
#ifdef _WIN32
inline constexpr const char* kPathSeparators = "/\\";
#else
inline constexpr const char* kPathSeparators = "/";
#endif

// Why a file operation failed: the system's reason in words ("No such file or directory").
// `missing` tells that the file (or a folder on its path) does not exist, `exists` that a new file
// could not be made because the name is taken, `link` that a link was refused ("is a symbolic
// link").
struct FileError {
  bool missing = false;
  bool exists = false;
  bool link = false;
  std::string text;
};

struct FileStatus {
  bool regular = false;
  bool directory = false;
  int64_t size = 0;
  int64_t modified_ns = 0;   // the time of the last change of the content, in nanoseconds
  uint32_t permissions = 0;  // the permission bits (0 on Windows, where there are none)
};

enum class FileAccess {
  read,         // an existing file, for reading; opening never waits (a FIFO has no writer yet)
  append,       // created when missing; every write goes to the end, one write never interleaved
  read_append,  // the same, and readable
  create_new,   // a new file for writing, created with the usual permissions; fails when the name
                // exists
};

// Whether a symbolic link (on Windows any reparse point that stands for another name: a symbolic
// link or a junction) in place of the file itself is followed or refused.
enum class FileLinks { follow, refuse };

// An open file, closed at the end of its scope. Never inherited by a program the tool starts.
class File {
 public:
  File() = default;
  ~File() { close(); }
  File(File&& other) noexcept : handle_(other.handle_), append_(other.append_) {
    other.handle_ = -1;
  }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      append_ = other.append_;
      other.handle_ = -1;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path`; a File that is not open when it cannot, with the reason in `error`.
  static File open(const std::string& path, FileAccess access, FileError* error = nullptr,
                   FileLinks links = FileLinks::follow);

  bool is_open() const;
  bool status(FileStatus* status, FileError* error = nullptr) const;

  // Up to `capacity` bytes from the current position: the count, 0 at the end, -1 on failure.
  long read(void* buffer, size_t capacity, FileError* error = nullptr);
  // One byte at `offset`, without moving the position. False when there is none.
  bool read_byte_at(int64_t offset, char* byte) const;
  // Exactly `size` bytes at `offset`, without moving the position. False when fewer are there.
  bool read_at(int64_t offset, void* buffer, size_t size) const;
  // Writes every byte (one call for a file opened for appending). False when not all went.
  bool write_all(std::string_view data, FileError* error = nullptr);
  // Cuts the file to `size` bytes.
  bool truncate(int64_t size, FileError* error = nullptr);
  // Sets the permission bits (nothing to do on Windows).
  bool set_permissions(uint32_t permissions, FileError* error = nullptr);
  // Waits until no other process holds the file's lock, then holds it; unlock() releases it.
  bool lock(FileError* error = nullptr);
  // The same, shared with other readers: waits only while a process holds it with lock().
  bool lock_shared(FileError* error = nullptr);
  void unlock();
  // Waits until the content is on the disk.
  bool flush_to_disk(FileError* error = nullptr);
  // Closes now, reporting the result (a delayed write error shows up here).
  bool close(FileError* error = nullptr);

 private:
  File(intptr_t handle, bool append) : handle_(handle), append_(append) {}
  intptr_t handle_ = -1;  // a descriptor, or a Windows handle
  bool append_ = false;   // every write goes to the end
};

// Replaces the file `target` by the file `replacement` in the same folder, in one step that a crash
// cannot split, and durably: on return the new file is the one on the disk.
bool replace_file(const std::string& replacement, const std::string& target,
                  FileError* error = nullptr);

// Gives the file `from` the name `to` in the same folder, in one step and durably, never replacing
// a file that has that name (then false with `exists`).
bool rename_file_new(const std::string& from, const std::string& to, FileError* error = nullptr);

// Removes the file `path`. False when it could not be removed.
bool remove_file(const std::string& path);

// The file that a write to `path` should replace: where a symbolic link leads, so that the link
// itself survives; `path` itself otherwise.
std::string write_target(const std::string& path);

// The id of the running process.
long process_id();

}  // namespace platform
