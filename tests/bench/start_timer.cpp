// Footprint benchmark probe: starts a program several times, measures the time from process start
// until its first dialog is visible, closes that dialog with Cancel and reads the process's peak
// working set. Prints "median_ms=<n> peak_working_set_kib=<n> runs=<n>".
#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "../../kit/visible_dialog.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: start_timer program [runs]\n");
    return 2;
  }
  const int runs = argc > 2 ? _wtoi(argv[2]) : 5;
  std::vector<double> times;
  SIZE_T peak = 0;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int run = 0; run < runs; ++run) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    wchar_t command_line[1024];
    lstrcpynW(command_line, argv[1], 1024);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
      fwprintf(stderr, L"start_timer: cannot start %ls\n", argv[1]);
      return 1;
    }
    HWND found = nullptr;
    while (found == nullptr) {
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
      found = visible_dialog_of(process.dwProcessId);
      if (found == nullptr) Sleep(1);
    }
    QueryPerformanceCounter(&end);
    if (found == nullptr) {
      fwprintf(stderr, L"start_timer: no dialog from %ls\n", argv[1]);
      return 1;
    }
    times.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                    static_cast<double>(frequency.QuadPart));
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
      peak = std::max(peak, counters.PeakWorkingSetSize);
    }
    PostMessageW(found, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  std::sort(times.begin(), times.end());
  printf("median_ms=%.1f peak_working_set_kib=%lu runs=%d\n", times[times.size() / 2],
         static_cast<unsigned long>(peak / 1024), runs);
  return 0;
}
