// Starts a program, waits until one of its dialogs is visible, writes that dialog's caption to a
// file (the signal that a screenshot can be taken) and waits for the program to end. Exits 1 when
// no dialog appears in time. Used by the run command.
#include <windows.h>

#include <cstdio>

namespace {

struct search {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM parameter) {
  search* s = reinterpret_cast<search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t class_name[16];
  if (owner != s->process_id || !IsWindowVisible(window)) return TRUE;
  if (!GetClassNameW(window, class_name, 16) || lstrcmpW(class_name, L"#32770") != 0) return TRUE;
  s->found = window;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: launch_and_wait program ready-file [timeout-ms]\n");
    return 2;
  }
  const DWORD timeout_ms = argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 30000;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  wchar_t command_line[1024];
  lstrcpynW(command_line, argv[1], 1024);
  if (!CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fwprintf(stderr, L"launch_and_wait: cannot start %ls (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  search s = {process.dwProcessId, nullptr};
  const DWORD start = GetTickCount();
  while (s.found == nullptr && GetTickCount() - start < timeout_ms) {
    if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) break;
    EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&s));
  }
  if (s.found == nullptr) return 1;
  Sleep(500);  // let it finish painting
  wchar_t caption[256] = L"";
  GetWindowTextW(s.found, caption, 256);
  FILE* ready = _wfopen(argv[2], L"w");
  if (ready != nullptr) {
    fprintf(ready, "%ls\n", caption);
    fclose(ready);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  return 0;
}
