// The footprint benchmark's yardstick: a program that shows one dialog from a template and exits
// on OK, built with the same toolchain and flags as vivediz.
#include <windows.h>

namespace {

INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  DialogBoxParamW(instance, L"MINIMAL_DIALOG", nullptr, procedure, 0);
  return 0;
}
