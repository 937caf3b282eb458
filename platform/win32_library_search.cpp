// The library search of an elevated program: the system folder only.
#include "platform/win32_library_search.h"

#include <windows.h>

namespace {

template <typename Function>
Function look_up(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

namespace platform {

// The programs run elevated, often from a downloads folder that others can write into. Libraries
// that Windows loads on their behalf by name (the theming library when the first window is
// created, the device setup interface's helpers, among others) would otherwise be looked for in the
// program's folder and the current folder first, so a planted copy would run with administrator
// rights. From here on they come from the system folder only; where that is not available, at least
// the current folder is left out. Both functions are looked up rather than imported: they are newer
// than the oldest Windows the programs run on (SetDefaultDllDirectories: Windows 8, or Vista and 7
// with update KB2533623; SetDllDirectoryW: XP SP1), so importing them would keep them from starting
// there, and where neither exists nothing changes. Nothing before this point loads a library by
// name.
void load_libraries_from_system_folder_only() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");  // always loaded in a Win32 process
  if (kernel == nullptr) return;
  const auto set_default_directories =
      look_up<BOOL(WINAPI*)(DWORD)>(kernel, "SetDefaultDllDirectories");
  if (set_default_directories != nullptr && set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return;
  }
  const auto set_directory = look_up<BOOL(WINAPI*)(LPCWSTR)>(kernel, "SetDllDirectoryW");
  if (set_directory != nullptr) set_directory(L"");
}

}  // namespace platform
