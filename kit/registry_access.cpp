// Registry access for the kit: views only where Windows has them, and a tree delete of its own.
#include "kit/registry_access.h"

#include <cwchar>

#include "platform/platform.h"

namespace e2e {
namespace {

DWORD create_options(const std::wstring& path) {
  return starts_with_ignore_case(path, L"HARDWARE\\") ? REG_OPTION_VOLATILE
                                                      : REG_OPTION_NON_VOLATILE;
}

// In the view where Windows has views (RegDeleteKeyExW, looked up by the seam).
LONG delete_one_key(HKEY root, const std::wstring& path, REGSAM view) {
  return static_cast<LONG>(platform::reg_delete_key_in_view(
      reinterpret_cast<platform::key_handle>(root), reinterpret_cast<const char16_t*>(path.c_str()),
      view_flag(view)));
}

}  // namespace

bool system_has_views() { return platform::registry_has_views(); }

REGSAM view_flag(REGSAM view) { return system_has_views() ? view : 0; }

std::vector<REGSAM> views_of(const std::wstring& path) {
  if (system_has_views() && starts_with_ignore_case(path, L"SOFTWARE\\")) {
    return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
  }
  return {KEY_WOW64_64KEY};
}

const char* view_name(REGSAM view) {
  return view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view";
}

bool starts_with_ignore_case(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

HKEY open_key(HKEY root, const std::wstring& path, REGSAM view, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, access | view_flag(view), &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

HKEY create_key(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, create_options(path),
                      KEY_ALL_ACCESS | view_flag(view), nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

bool key_exists_in(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = open_key(root, path, view, KEY_QUERY_VALUE);
  if (key == nullptr) return false;
  RegCloseKey(key);
  return true;
}

bool delete_key_tree(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = open_key(root, path, view, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
  if (key == nullptr) return !key_exists_in(root, path, view);
  const std::vector<std::wstring> children = subkey_names_in(key);
  RegCloseKey(key);
  for (const std::wstring& child : children) delete_key_tree(root, path + L"\\" + child, view);
  delete_one_key(root, path, view);
  return !key_exists_in(root, path, view);
}

bool read_value(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view,
                DWORD* type, std::vector<BYTE>* data) {
  HKEY key = open_key(root, path, view, KEY_QUERY_VALUE);
  if (key == nullptr) return false;
  DWORD size = 0;
  LONG error = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  if (error == ERROR_SUCCESS) {
    data->assign(size, 0);
    error = RegQueryValueExW(key, name.c_str(), nullptr, type,
                             data->empty() ? nullptr : &(*data)[0], &size);
    data->resize(size);
  }
  RegCloseKey(key);
  return error == ERROR_SUCCESS;
}

std::vector<std::wstring> value_names_in(HKEY key) {
  std::vector<std::wstring> names;
  std::vector<wchar_t> name(16384);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name.data(), length);
  }
  return names;
}

std::vector<std::wstring> subkey_names_in(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace e2e
