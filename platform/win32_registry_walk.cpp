// The seam's registry operations that only the save-and-restore engine uses: creating keys,
// value names, flushing, and the 32- and 64-bit views of 64-bit Windows.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

HKEY to_hkey(key_handle key) { return reinterpret_cast<HKEY>(key); }
const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// Both are newer than the oldest Windows the engine runs on, so they are looked up, not imported:
// IsWow64Process (XP SP2) and RegDeleteKeyExW (XP x64).
template <typename Function>
Function look_up(const wchar_t* module, const char* name) {
  const HMODULE loaded = GetModuleHandleW(module);  // both always loaded in a Win32 process
  return loaded == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name)));
}

}  // namespace

key_handle current_user() { return reinterpret_cast<key_handle>(HKEY_CURRENT_USER); }

bool registry_has_views() {
#if defined(_WIN64)
  return true;
#else
  static int answer = -1;
  if (answer < 0) {
    const auto is_wow64 = look_up<BOOL(WINAPI*)(HANDLE, PBOOL)>(L"kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    answer = is_wow64 != nullptr && is_wow64(GetCurrentProcess(), &wow64) && wow64 ? 1 : 0;
  }
  return answer == 1;
#endif
}

u32 reg_create_key(key_handle parent, const char16_t* path, u32 options, u32 access,
                   key_handle* out, bool* created) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG error = RegCreateKeyExW(to_hkey(parent), w(path), 0, nullptr, options, access, nullptr,
                                     &key, &disposition);
  *out = error == ERROR_SUCCESS ? reinterpret_cast<key_handle>(key) : nullptr;
  *created = error == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  return static_cast<u32>(error);
}

u32 reg_enum_value_name(key_handle key, u32 index, char16_t* name, u32* name_units) {
  DWORD units = *name_units;
  const LONG error = RegEnumValueW(to_hkey(key), index, reinterpret_cast<wchar_t*>(name), &units,
                                   nullptr, nullptr, nullptr, nullptr);
  *name_units = units;
  return static_cast<u32>(error);
}

u32 reg_flush_key(key_handle key) { return static_cast<u32>(RegFlushKey(to_hkey(key))); }

u32 reg_delete_key_in_view(key_handle key, const char16_t* subkey, u32 view) {
  using delete_key_ex = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  static const delete_key_ex delete_in_view =
      look_up<delete_key_ex>(L"advapi32.dll", "RegDeleteKeyExW");
  if (view != 0 && delete_in_view != nullptr) {
    return static_cast<u32>(delete_in_view(to_hkey(key), w(subkey), view, 0));
  }
  return static_cast<u32>(RegDeleteKeyW(to_hkey(key), w(subkey)));
}

}  // namespace platform
