// A test tool that shows registry keys byte for byte, which reg.exe does not (it shows a string
// stored without its terminator like one with it, and a name's unpaired surrogate not at all),
// and stores such values. It shares no code with the acceptance kit, whose restores it checks.
//
// Usage: registry_bytes.exe show [/32|/64|/alone|/tree] KEY...
//            each key and every key below it (after /alone: the key alone, until /tree): its
//            values' names (units that are not printable ASCII as \uXXXX), types and data in
//            hexadecimal; /32 and /64 choose the view for the keys that follow
//        registry_bytes.exe set KEY NAME TYPE HEX
//            NAME's units in hexadecimal, 4 digits each; TYPE in decimal
// KEY is HKLM\... or HKCU\....
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

REGSAM view = KEY_WOW64_64KEY;
bool below = true;

HKEY root_of(const std::wstring& key, std::wstring* path) {
  *path = key.size() > 5 ? key.substr(5) : L"";
  return _wcsnicmp(key.c_str(), L"HKCU\\", 5) == 0 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// Printable ASCII as it is (in a key path, the backslash too), every other unit as \uXXXX.
std::string escaped(const wchar_t* text, DWORD units, bool path = false) {
  std::string out;
  for (DWORD i = 0; i < units; ++i) {
    char unit[8];
    if (text[i] >= 0x20 && text[i] < 0x7F && (text[i] != L'\\' || path)) {
      out += static_cast<char>(text[i]);
    } else {
      std::snprintf(unit, sizeof unit, "\\u%04X", static_cast<unsigned>(text[i]));
      out += unit;
    }
  }
  return out;
}

void show(HKEY root, const std::wstring& shown, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
  std::printf("[%s]\n", escaped(shown.c_str(), static_cast<DWORD>(shown.size()), true).c_str());
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(1 << 20);
  for (DWORD i = 0;; ++i) {
    DWORD units = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type = 0;
    if (RegEnumValueW(key, i, name.data(), &units, nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      break;
    }
    std::printf("\"%s\" type %lu:", escaped(name.data(), units).c_str(), type);
    for (DWORD b = 0; b < size; ++b) std::printf(" %02x", data[b]);
    std::printf("\n");
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t child[256];
    DWORD units = 256;
    if (RegEnumKeyExW(key, i, child, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    children.emplace_back(child, units);
  }
  RegCloseKey(key);
  if (!below) return;
  for (const std::wstring& child : children) {
    show(root, shown + L"\\" + child, path + L"\\" + child);
  }
}

int set(const std::wstring& key_name, const std::wstring& name_hex, DWORD type,
        const std::wstring& data_hex) {
  std::wstring path;
  HKEY root = root_of(key_name, &path);
  std::wstring name;
  for (std::size_t i = 0; i + 4 <= name_hex.size(); i += 4) {
    name += static_cast<wchar_t>(std::wcstoul(name_hex.substr(i, 4).c_str(), nullptr, 16));
  }
  std::vector<BYTE> data;
  for (std::size_t i = 0; i + 2 <= data_hex.size(); i += 2) {
    data.push_back(static_cast<BYTE>(std::wcstoul(data_hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  const std::size_t size = data.size();
  data.insert(data.end(), {0xFF, 0xFF});  // Windows adds a terminator when it finds one after it
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  const LONG error =
      RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(size));
  RegCloseKey(key);
  return error == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 6 && std::wstring(argv[1]) == L"set") {
    return set(argv[2], argv[3], static_cast<DWORD>(_wtoi(argv[4])), argv[5]);
  }
  if (argc < 3 || std::wstring(argv[1]) != L"show") {
    std::fprintf(stderr, "usage: registry_bytes.exe show [/32] KEY... | set KEY NAME TYPE HEX\n");
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"/32" || a == L"/64") view = a == L"/32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    if (a == L"/alone" || a == L"/tree") below = a == L"/tree";
    if (a[0] == L'/') continue;
    std::wstring path;
    HKEY root = root_of(argv[i], &path);
    show(root, argv[i], path);
  }
  return 0;
}
