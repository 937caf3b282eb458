// Ending the programs and removing the planted copy that a killed run left.
#include "kit/leftovers.h"

#include <windows.h>
// The tool help declarations need windows.h first.
#include <tlhelp32.h>

#include <cwchar>

#include "kit/checks.h"
#include "kit/kit_host.h"
#include "kit/planting.h"
#include "kit/scenarios.h"

namespace e2e {
namespace {

const wchar_t kProgramName[] = L"vivediz.exe";

struct file_identity {
  DWORD volume = 0, high = 0, low = 0;
  bool known = false;
};

// Two paths name the same file when the volume and the file index agree: short and long names,
// or a temporary folder given in either form, compare equal.
file_identity identity_of(const std::wstring& path) {
  file_identity id;
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
  }
  CloseHandle(file);
  return id;
}

bool same(const file_identity& a, const file_identity& b) {
  return a.known && b.known && a.volume == b.volume && a.high == b.high && a.low == b.low;
}

// The image of a process: its first module. Toolhelp answers ERROR_BAD_LENGTH while the process
// is changing, to be asked again.
std::wstring image_of(DWORD process_id) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id);
    if (modules == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_BAD_LENGTH) continue;
      return std::wstring();
    }
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    const bool found = Module32FirstW(modules, &module) != FALSE;
    CloseHandle(modules);
    if (found) return std::wstring(module.szExePath, wcsnlen(module.szExePath, MAX_PATH));
  }
  return std::wstring();
}

struct left_process {
  DWORD id;
  std::wstring image;
};

std::vector<left_process> processes_of(const std::vector<file_identity>& programs) {
  std::vector<left_process> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, kProgramName) != 0) continue;
    const std::wstring image = image_of(entry.th32ProcessID);
    const file_identity id = identity_of(image);
    for (const file_identity& program : programs) {
      if (same(id, program)) found.push_back({entry.th32ProcessID, image});
    }
  }
  CloseHandle(snapshot);
  return found;
}

bool end_process(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // ended meanwhile
  TerminateProcess(process, 0xDEAD);
  const bool ended = WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

}  // namespace

std::vector<std::string> end_what_a_killed_run_left(const std::wstring& kit) {
  std::vector<std::wstring> libraries;
  for (const scenario& s : all_scenarios()) {
    for (const std::wstring& library : s.planted) {
      bool known = false;
      for (const std::wstring& listed : libraries) known = known || listed == library;
      if (!known) libraries.push_back(library);
    }
  }
  planted_folder planted;  // removed, with what lies in it, when this ends
  left_planting(kit_architecture(), kProgramName, libraries, &planted);

  std::vector<file_identity> programs;
  for (const std::wstring& path :
       {kit + L"\\" + kProgramName, kit + L"\\test\\" + kProgramName, planted.program}) {
    if (!path.empty()) programs.push_back(identity_of(path));
  }
  std::vector<std::string> left;
  for (const left_process& process : processes_of(programs)) {
    const bool ended = end_process(process.id);
    report("accept: %s %s (process %lu), which a run that did not end left open\n",
           ended ? "ended" : "could not end", narrow(process.image).c_str(), process.id);
    if (!ended)
      left.push_back("process " + std::to_string(process.id) + " " + narrow(process.image));
  }
  if (!planted.folder.empty()) {
    const std::wstring folder = planted.folder;
    remove_planted(planted);
    planted.folder.clear();
    const bool removed = GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
    report("accept: %s the planted copy %s, which a run that did not end left\n",
           removed ? "removed" : "could not remove", narrow(folder).c_str());
    if (!removed) left.push_back("folder " + narrow(folder) + " (planted copy)");
  }
  return left;
}

}  // namespace e2e
