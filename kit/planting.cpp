// Planting libraries beside a copy of the program, and reading what was loaded.
#include "kit/planting.h"

#include <windows.h>

namespace e2e {
namespace {

std::wstring marker(const planted_folder& planted, const std::wstring& library) {
  return planted.folder + L"\\" + library + L".loaded";
}

std::wstring base_name(const std::wstring& library) {
  return library.substr(0, library.rfind(L'.'));
}

// Wine's settings for programs of one file name: HKCU\Software\Wine\AppDefaults\NAME.
std::wstring overrides_key(const planted_folder& planted) {
  return L"Software\\Wine\\AppDefaults" + planted.program.substr(planted.program.rfind(L'\\')) +
         L"\\DllOverrides";
}

bool set_native_first(const planted_folder& planted) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, overrides_key(planted).c_str(), 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const wchar_t order[] = L"native,builtin";
  bool set = true;
  for (const std::wstring& library : planted.libraries) {
    set = RegSetValueExW(key, base_name(library).c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(order), sizeof order) == ERROR_SUCCESS &&
          set;
  }
  RegCloseKey(key);
  return set;
}

void clear_native_first(const planted_folder& planted) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, overrides_key(planted).c_str(), 0,
                    KEY_SET_VALUE | KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return;
  }
  for (const std::wstring& library : planted.libraries) {
    RegDeleteValueW(key, base_name(library).c_str());
  }
  DWORD values = 1;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (values == 0) RegDeleteKeyW(HKEY_CURRENT_USER, overrides_key(planted).c_str());
}

std::wstring temporary_folder() {
  wchar_t temp[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(temp, length);
}

}  // namespace

std::wstring planted_folder_name(const std::string& arch) {
  return L"vivediz-planted-" + std::wstring(arch.begin(), arch.end());
}

planted_folder::~planted_folder() {
  if (!folder.empty()) remove_planted(*this);
}

bool plant(const std::wstring& program, const std::wstring& library_dir,
           const std::vector<std::wstring>& libraries, const std::wstring& folder_name, bool wine,
           planted_folder* planted) {
  const std::wstring temp = temporary_folder();
  if (temp.empty()) return false;
  planted->folder = temp + folder_name;
  planted->program = planted->folder + program.substr(program.rfind(L'\\'));
  planted->libraries = libraries;
  planted->wine = wine;
  remove_planted(*planted);  // what an interrupted run left
  if (!CreateDirectoryW(planted->folder.c_str(), nullptr)) return false;
  bool copied = CopyFileW(program.c_str(), planted->program.c_str(), TRUE) != FALSE;
  for (const std::wstring& library : libraries) {
    const std::wstring from = library_dir + L"\\" + library;
    copied = CopyFileW(from.c_str(), (planted->folder + L"\\" + library).c_str(), TRUE) && copied;
  }
  return copied && (!wine || set_native_first(*planted));
}

std::vector<std::wstring> loaded_libraries(const planted_folder& planted) {
  std::vector<std::wstring> loaded;
  for (const std::wstring& library : planted.libraries) {
    if (GetFileAttributesW(marker(planted, library).c_str()) != INVALID_FILE_ATTRIBUTES) {
      loaded.push_back(library);
    }
  }
  return loaded;
}

void remove_planted(const planted_folder& planted) {
  DeleteFileW(planted.program.c_str());
  for (const std::wstring& library : planted.libraries) {
    DeleteFileW((planted.folder + L"\\" + library).c_str());
    DeleteFileW(marker(planted, library).c_str());
  }
  RemoveDirectoryW(planted.folder.c_str());
  if (planted.wine) clear_native_first(planted);
}

void left_planting(const std::string& arch, const std::wstring& program_name,
                   const std::vector<std::wstring>& libraries, planted_folder* planted) {
  const std::wstring temp = temporary_folder();
  const std::wstring folder = temp + planted_folder_name(arch);
  if (temp.empty() || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  planted->folder = folder;
  planted->program = folder + L"\\" + program_name;
  planted->libraries = libraries;
}

}  // namespace e2e
