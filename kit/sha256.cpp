// SHA-256 of a file read in blocks, through the engine's digest.
#include "kit/sha256.h"

#include <windows.h>

#include "rollback/sha256.h"

namespace e2e {

std::string sha256_of_file(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  rollback::sha256 digest;
  static char buffer[64 * 1024];
  DWORD got = 0;
  bool read_all = true;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      read_all = false;
      break;
    }
    if (got == 0) break;
    digest.add(buffer, got);
  }
  CloseHandle(file);
  return read_all ? digest.hex() : std::string();
}

}  // namespace e2e
