// The seam's file operations, for the save-and-restore engine's record file.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
HANDLE to_handle(file_handle file) { return reinterpret_cast<HANDLE>(file); }
const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
u32 failed() { return static_cast<u32>(GetLastError()); }
}  // namespace

u32 file_open(const char16_t* path, bool for_writing, u32 disposition, file_handle* out) {
  const HANDLE file = CreateFileW(w(path), for_writing ? GENERIC_WRITE : GENERIC_READ,
                                  for_writing ? 0 : FILE_SHARE_READ, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  *out = file == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<file_handle>(file);
  return file == INVALID_HANDLE_VALUE ? failed() : error_success;
}

u32 file_read(file_handle file, void* buffer, u32 byte_size, u32* got) {
  DWORD read = 0;
  const BOOL ok = ReadFile(to_handle(file), buffer, byte_size, &read, nullptr);
  *got = ok ? read : 0;
  return ok ? error_success : failed();
}

u32 file_write(file_handle file, const void* data, u32 byte_size) {
  const auto* at = static_cast<const char*>(data);
  while (byte_size > 0) {
    DWORD written = 0;
    if (!WriteFile(to_handle(file), at, byte_size, &written, nullptr)) return failed();
    if (written == 0) return error_invalid_data;  // nothing moves: do not spin
    at += written;
    byte_size -= written;
  }
  return error_success;
}

u32 file_flush(file_handle file) {
  return FlushFileBuffers(to_handle(file)) ? error_success : failed();
}

u32 file_close(file_handle file) { return CloseHandle(to_handle(file)) ? error_success : failed(); }

u32 file_rename(const char16_t* from, const char16_t* to) {
  return MoveFileExW(w(from), w(to), MOVEFILE_WRITE_THROUGH) ? error_success : failed();
}

u32 file_delete(const char16_t* path) { return DeleteFileW(w(path)) ? error_success : failed(); }

u32 file_exists(const char16_t* path) {
  return GetFileAttributesW(w(path)) != INVALID_FILE_ATTRIBUTES ? error_success : failed();
}

}  // namespace platform
