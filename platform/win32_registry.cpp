// The seam's registry operations on the real Windows registry.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

namespace {
HKEY to_hkey(key_handle key) { return reinterpret_cast<HKEY>(key); }
const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
}  // namespace

key_handle local_machine() { return reinterpret_cast<key_handle>(HKEY_LOCAL_MACHINE); }

u32 reg_open_key(key_handle parent, const char16_t* path, u32 access, key_handle* out) {
  HKEY key = nullptr;
  const LONG error = RegOpenKeyExW(to_hkey(parent), w(path), 0, access, &key);
  *out = error == ERROR_SUCCESS ? reinterpret_cast<key_handle>(key) : nullptr;
  return static_cast<u32>(error);
}

u32 reg_query_value(key_handle key, const char16_t* name, u32* type, void* data, u32* byte_size) {
  DWORD value_type = REG_NONE;
  DWORD size = *byte_size;
  const LONG error = RegQueryValueExW(to_hkey(key), w(name), nullptr, &value_type,
                                      static_cast<BYTE*>(data), &size);
  *type = value_type;
  *byte_size = size;
  return static_cast<u32>(error);
}

u32 reg_set_value(key_handle key, const char16_t* name, u32 type, const void* data, u32 byte_size) {
  return static_cast<u32>(
      RegSetValueExW(to_hkey(key), w(name), 0, type, static_cast<const BYTE*>(data), byte_size));
}

u32 reg_delete_value(key_handle key, const char16_t* name) {
  return static_cast<u32>(RegDeleteValueW(to_hkey(key), w(name)));
}

u32 reg_delete_key(key_handle key, const char16_t* subkey) {
  return static_cast<u32>(RegDeleteKeyW(to_hkey(key), w(subkey)));
}

u32 reg_enum_key(key_handle key, u32 index, char16_t* name, u32* name_units) {
  DWORD units = *name_units;
  const LONG error = RegEnumKeyExW(to_hkey(key), index, reinterpret_cast<wchar_t*>(name), &units,
                                   nullptr, nullptr, nullptr, nullptr);
  *name_units = units;
  return static_cast<u32>(error);
}

u32 reg_close_key(key_handle key) { return static_cast<u32>(RegCloseKey(to_hkey(key))); }

}  // namespace platform
