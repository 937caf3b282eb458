// The undo program's Windows entry: its arguments, whether the 32-bit program runs on 64-bit
// Windows, and its lines on the console. Everything else goes through the seam (undo_commands).
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32_library_search.h"
#include "undo/undo_commands.h"

namespace {

// The 32-bit program on 64-bit Windows: there the registry has two views.
bool x86_on_64bit() {
#ifdef _WIN64
  return false;
#else
  return platform::registry_has_views();
#endif
}

std::u16string as_text(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

// The file's full path: the guest's mark names it, so that a save not put back is found from any
// folder. As given when it cannot be made.
std::u16string full_path(const wchar_t* given) {
  const DWORD units = GetFullPathNameW(given, 0, nullptr, nullptr);
  if (units == 0) return as_text(given);
  std::vector<wchar_t> buffer(units + 1, 0);
  const DWORD got = GetFullPathNameW(given, units + 1, buffer.data(), nullptr);
  if (got == 0 || got > units) return as_text(given);
  buffer[got] = 0;
  return as_text(buffer.data());
}

// A line to standard output: UTF-16 on a console; in the console's code page to a file or pipe,
// as cmd's own output is.
void print(HANDLE out, const std::string& utf8) {
  const std::string line = utf8 + "\r\n";
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
  if (units <= 0) return;
  std::vector<wchar_t> wide(units);
  MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(), units);
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(units), &written, nullptr);
    return;
  }
  UINT code_page = GetConsoleOutputCP();
  if (code_page == 0) code_page = CP_OEMCP;  // no console at all
  const int bytes =
      WideCharToMultiByte(code_page, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::vector<char> narrow(bytes);
  WideCharToMultiByte(code_page, 0, wide.data(), units, narrow.data(), bytes, nullptr, nullptr);
  WriteFile(out, narrow.data(), static_cast<DWORD>(bytes), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  platform::load_libraries_from_system_folder_only();
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.push_back(i == 2 ? full_path(argv[i]) : as_text(argv[i]));
  std::vector<std::string> said;
  const int status = undo::run(arguments, x86_on_64bit(), &said);
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  for (const std::string& line : said) print(out, line);
  return status;
}
