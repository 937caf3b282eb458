// Starts a program, waits until one of its dialogs is visible, writes that dialog's caption to a
// file (the signal that a screenshot can be taken) and waits for the program to end. Exits 1 when
// no dialog appears in time. Used by the run command.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "kit/visible_dialog.h"

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
    const DWORD error = GetLastError();
    wchar_t reason[256] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   reason, 256, nullptr);
    for (size_t n = wcslen(reason); n > 0 && wcschr(L"\r\n .", reason[n - 1]); --n)
      reason[n - 1] = 0;
    fwprintf(stderr, L"launch_and_wait: cannot start %ls (error %lu: %ls)\n", argv[1], error,
             reason);
    return 1;
  }
  HWND found = nullptr;
  const DWORD start = GetTickCount();
  bool ended = false;
  while (found == nullptr && !ended && GetTickCount() - start < timeout_ms) {
    ended = WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0;
    found = visible_dialog_of(process.dwProcessId);
  }
  if (found == nullptr) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (ended) {
      fwprintf(stderr, L"launch_and_wait: %ls ended (exit code %lu) without showing a window\n",
               argv[1], code);
    } else {
      fwprintf(stderr, L"launch_and_wait: %ls showed no window within %lu ms\n", argv[1],
               timeout_ms);
      TerminateProcess(process.hProcess, 1);
    }
    return 1;
  }
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
