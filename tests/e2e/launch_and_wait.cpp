// Starts a program, waits until one of its dialogs is visible, writes that dialog's caption to a
// file (the signal that a screenshot can be taken) and waits for the program to end. Exits 1 when
// no dialog appears in time. Used by the run command.
#include <windows.h>

#include <cstdio>

#include "visible_dialog.h"


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
  HWND found = nullptr;
  const DWORD start = GetTickCount();
  while (found == nullptr && GetTickCount() - start < timeout_ms) {
    if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0) break;
    found = visible_dialog_of(process.dwProcessId);
  }
  if (found == nullptr) return 1;
  Sleep(500);  // let it finish painting
  wchar_t caption[256] = L"";
  GetWindowTextW(found, caption, 256);
  FILE* ready = _wfopen(argv[2], L"w");
  if (ready != nullptr) {
    fprintf(ready, "%ls\n", caption);
    fclose(ready);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  return 0;
}
