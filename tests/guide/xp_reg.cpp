// Stands in for Windows XP's reg.exe when copied as reg.exe into the folder a script runs in (the
// command prompt looks there first): "reg query" answers as XP's does, with a version line first
// and a tab between a value's name, type and data; everything else is the system's reg.exe.
#include <windows.h>

#include <string>

namespace {

// The system's reg.exe with this process's arguments; its standard output into *out.
DWORD run_system_reg(std::string* out) {
  wchar_t system[MAX_PATH];
  if (!GetSystemDirectoryW(system, MAX_PATH)) return 1;
  std::wstring line = GetCommandLineW();
  // The arguments start after the program name, quoted or not.
  size_t start = line[0] == L'"' ? line.find(L'"', 1) + 1 : line.find(L' ');
  std::wstring command = L"\"" + std::wstring(system) + L"\\reg.exe\"" +
                         (start == std::wstring::npos ? L"" : line.substr(start));
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return 1;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    CloseHandle(read_end);
    CloseHandle(write_end);
    return 1;
  }
  CloseHandle(write_end);
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) out->append(buffer, got);
  CloseHandle(read_end);
  DWORD status = 1;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return status;
}

// "    name    REG_DWORD    0x1" becomes "    name\tREG_DWORD\t0x1"; other lines stay.
std::string xp_line(const std::string& line) {
  if (line.compare(0, 4, "    ") != 0) return line;
  const size_t type = line.find("    REG_", 4);
  if (type == std::string::npos) return line;
  const size_t data = line.find("    ", type + 4);
  std::string result = line.substr(0, type) + "\t";
  if (data == std::string::npos) return result + line.substr(type + 4);
  return result + line.substr(type + 4, data - type - 4) + "\t" + line.substr(data + 4);
}

}  // namespace

int main() {
  std::string out;
  const DWORD status = run_system_reg(&out);
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const bool query = argc > 1 && lstrcmpiW(argv[1], L"query") == 0;
  std::string shown;
  if (query && status == 0) shown = "\r\n! REG.EXE VERSION 3.0\r\n";
  size_t begin = 0;
  while (begin < out.size()) {
    size_t end = out.find('\n', begin);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    shown += (query ? xp_line(line) : line) + "\r\n";
    begin = end + 1;
  }
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), shown.data(), static_cast<DWORD>(shown.size()),
            &written, nullptr);
  return static_cast<int>(status);
}
