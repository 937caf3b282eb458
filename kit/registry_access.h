// Registry access that works on every Windows the kit supports, from Windows 2000 on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// True on 64-bit Windows, where HKLM\SOFTWARE has a 64-bit and a 32-bit view. Windows 2000 knows
// no view flags at all, so on 32-bit Windows none is passed.
bool system_has_views();
// The view flag to pass: `view` on 64-bit Windows, 0 elsewhere.
REGSAM view_flag(REGSAM view);

// The views a path lives in: SOFTWARE is split for 32-bit programs on 64-bit Windows.
std::vector<REGSAM> views_of(const std::wstring& path);
const char* view_name(REGSAM view);

HKEY open_key(HKEY root, const std::wstring& path, REGSAM view, REGSAM access = KEY_ALL_ACCESS);
// Creates the key and every missing key on the way (volatile below HARDWARE, whose hive is).
HKEY create_key(HKEY root, const std::wstring& path, REGSAM view);
bool key_exists_in(HKEY root, const std::wstring& path, REGSAM view);
// Deletes the key with everything below it; true when it is gone afterwards. RegDeleteTreeW is
// Vista's and RegDeleteKeyExW XP x64's, so the walk is this kit's own.
bool delete_key_tree(HKEY root, const std::wstring& path, REGSAM view);

// The value's type and data, or false when it is missing (or its key is).
bool read_value(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view,
                DWORD* type, std::vector<BYTE>* data);
std::vector<std::wstring> value_names_in(HKEY key);
std::vector<std::wstring> subkey_names_in(HKEY key);

bool starts_with_ignore_case(const std::wstring& text, const std::wstring& prefix);

}  // namespace e2e
