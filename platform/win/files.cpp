#include "platform/files.h"

#include "platform/win/lock_range.h"
#include "platform/win/wide_text.h"

namespace platform {

namespace {

bool fail(FileError* error, DWORD code) {
  if (error) {
    error->missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    error->exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    error->link = false;
    error->text = win::error_text(code);
  }
  return false;
}

// Whether the file opened as itself is a reparse point that stands for another name (a symbolic
// link, a junction). Other reparse points (files kept in the cloud, deduplicated files) are files
// of their own and are opened through their filter as usual.
bool names_another_file(HANDLE h, bool* reparse) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  *reparse = false;
  if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) return false;
  *reparse = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return *reparse && IsReparseTagNameSurrogate(info.ReparseTag);
}

bool fail(FileError* error) {
  return fail(error, ::GetLastError());
}

HANDLE handle_of(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

File File::open(const std::string& path, FileAccess access, FileError* error, FileLinks links) {
  DWORD rights = 0, disposition = 0, flags = FILE_ATTRIBUTE_NORMAL;
  switch (access) {
    case FileAccess::read:
      // A folder opens too, so that it is told apart from a missing file.
      rights = GENERIC_READ;
      disposition = OPEN_EXISTING;
      flags |= FILE_FLAG_BACKUP_SEMANTICS;
      break;
    case FileAccess::append:
      rights = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    case FileAccess::read_append:
      rights = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    case FileAccess::create_new:
      rights = GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
  }
  // Others may read, write, rename and remove the file meanwhile, as on the other platforms; the
  // handle is not inherited.
  const std::wstring name = win::widen(path);
  auto open_as = [&](DWORD extra) {
    return ::CreateFileW(name.c_str(), rights,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, flags | extra, nullptr);
  };
  // A link is opened as itself, so that it is seen and refused rather than followed.
  HANDLE h = open_as(links == FileLinks::refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  if (h == INVALID_HANDLE_VALUE) {
    fail(error);
    return File();
  }
  bool reparse = false;
  if (links == FileLinks::refuse && names_another_file(h, &reparse)) {
    ::CloseHandle(h);
    if (error) {
      *error = FileError{};
      error->link = true;
      error->text = "is a symbolic link";
    }
    return File();
  }
  if (reparse) {
    ::CloseHandle(h);
    h = open_as(0);
    if (h == INVALID_HANDLE_VALUE) {
      fail(error);
      return File();
    }
  }
  const bool append = access == FileAccess::append || access == FileAccess::read_append;
  return File(reinterpret_cast<intptr_t>(h), append);
}

bool File::is_open() const {
  return handle_ != -1;
}

bool File::status(FileStatus* status, FileError* error) const {
  BY_HANDLE_FILE_INFORMATION info{};
  HANDLE h = handle_of(handle_);
  if (!::GetFileInformationByHandle(h, &info)) return fail(error);
  status->directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status->regular = !status->directory && ::GetFileType(h) == FILE_TYPE_DISK;
  status->size = static_cast<int64_t>((ULONGLONG{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  const ULONGLONG ticks =
      (ULONGLONG{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime;
  status->modified_ns = static_cast<int64_t>(ticks) * 100;
  status->permissions = 0;
  return true;
}

long File::read(void* buffer, size_t capacity, FileError* error) {
  DWORD got = 0;
  const DWORD wanted = static_cast<DWORD>(capacity < (1u << 30) ? capacity : (1u << 30));
  if (!::ReadFile(handle_of(handle_), buffer, wanted, &got, nullptr)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) return 0;
    fail(error, code);
    return -1;
  }
  return static_cast<long>(got);
}

bool File::read_byte_at(int64_t offset, char* byte) const {
  return read_at(offset, byte, 1);
}

bool File::read_at(int64_t offset, void* buffer, size_t size) const {
  HANDLE h = handle_of(handle_);
  // A read at an offset moves the position of a handle like this one: it is put back.
  LARGE_INTEGER zero{}, position{};
  if (!::SetFilePointerEx(h, zero, &position, FILE_CURRENT)) return false;
  auto* into = static_cast<char*>(buffer);
  bool read = true;
  while (read && size > 0) {
    OVERLAPPED ov = win::at_offset(static_cast<ULONGLONG>(offset));
    const DWORD wanted = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    DWORD got = 0;
    read = ::ReadFile(h, into, wanted, &got, &ov) && got > 0;
    into += got;
    offset += got;
    size -= got;
  }
  ::SetFilePointerEx(h, position, nullptr, FILE_BEGIN);
  return read;
}

bool File::write_all(std::string_view data, FileError* error) {
  HANDLE h = handle_of(handle_);
  while (!data.empty()) {
    DWORD put = 0;
    const DWORD piece = static_cast<DWORD>(data.size() < (1u << 30) ? data.size() : (1u << 30));
    // Both offsets all ones: the end of the file, found and written in one step.
    OVERLAPPED end{};
    end.Offset = end.OffsetHigh = 0xFFFFFFFF;
    if (!::WriteFile(h, data.data(), piece, &put, append_ ? &end : nullptr)) return fail(error);
    if (put == 0) return fail(error, ERROR_DISK_FULL);
    data.remove_prefix(put);
  }
  return true;
}

bool File::truncate(int64_t size, FileError* error) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  return ::SetFileInformationByHandle(handle_of(handle_), FileEndOfFileInfo, &end, sizeof end) ||
         fail(error);
}

bool File::set_permissions(uint32_t, FileError*) {
  return true;
}

bool File::lock(FileError* error) {
  OVERLAPPED ov = win::at_offset(win::kLockOffset);
  return ::LockFileEx(handle_of(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov) || fail(error);
}

bool File::lock_shared(FileError* error) {
  OVERLAPPED ov = win::at_offset(win::kLockOffset);
  return ::LockFileEx(handle_of(handle_), 0, 0, 1, 0, &ov) || fail(error);
}

void File::unlock() {
  OVERLAPPED ov = win::at_offset(win::kLockOffset);
  ::UnlockFileEx(handle_of(handle_), 0, 1, 0, &ov);
}

bool File::flush_to_disk(FileError* error) {
  return ::FlushFileBuffers(handle_of(handle_)) || fail(error);
}

bool File::close(FileError* error) {
  if (handle_ == -1) return true;
  HANDLE h = handle_of(handle_);
  handle_ = -1;
  return ::CloseHandle(h) || fail(error);
}

bool replace_file(const std::string& replacement, const std::string& target, FileError* error) {
  // One call that replaces the target and returns once the change is on the disk.
  return ::MoveFileExW(win::widen(replacement).c_str(), win::widen(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         fail(error);
}

bool rename_file_new(const std::string& from, const std::string& to, FileError* error) {
  // Without MOVEFILE_REPLACE_EXISTING a name that is taken is refused.
  return ::MoveFileExW(win::widen(from).c_str(), win::widen(to).c_str(), MOVEFILE_WRITE_THROUGH) ||
         fail(error);
}

bool remove_file(const std::string& path) {
  return ::DeleteFileW(win::widen(path).c_str()) != 0;
}

std::string write_target(const std::string& path) {
  return path;
}

long process_id() {
  return static_cast<long>(::GetCurrentProcessId());
}

}  // namespace platform
