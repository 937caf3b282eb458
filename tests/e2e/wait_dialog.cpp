// Waits until a visible dialog window is on the desktop, prints its caption and exits 0; exits 1
// after the timeout. Used by the run command to know when to take its screenshot.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

BOOL CALLBACK find_dialog(HWND window, LPARAM found) {
  wchar_t class_name[16];
  if (!IsWindowVisible(window) || !GetClassNameW(window, class_name, 16)) return TRUE;
  if (lstrcmpW(class_name, L"#32770") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const DWORD timeout_ms = argc > 1 ? static_cast<DWORD>(_wtoi(argv[1])) : 30000;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeout_ms) {
    HWND found = nullptr;
    EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&found));
    if (found != nullptr) {
      Sleep(300);  // let it finish painting
      wchar_t caption[256] = L"";
      GetWindowTextW(found, caption, 256);
      wprintf(L"%ls\n", caption);
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
