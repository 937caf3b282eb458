// The first visible dialog window (class "#32770") of a process, for the small tools that wait
// for the program's first window.
#pragma once

#include <windows.h>

struct visible_dialog_search {
  DWORD process_id;
  HWND found;
};

inline BOOL CALLBACK visible_dialog_step(HWND window, LPARAM parameter) {
  visible_dialog_search* s = reinterpret_cast<visible_dialog_search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t class_name[16];
  if (owner != s->process_id || !IsWindowVisible(window)) return TRUE;
  if (!GetClassNameW(window, class_name, 16) || lstrcmpW(class_name, L"#32770") != 0) return TRUE;
  s->found = window;
  return FALSE;
}

inline HWND visible_dialog_of(DWORD process_id) {
  visible_dialog_search s = {process_id, nullptr};
  EnumWindows(visible_dialog_step, reinterpret_cast<LPARAM>(&s));
  return s.found;
}
