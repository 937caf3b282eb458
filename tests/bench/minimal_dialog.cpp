// The footprint benchmark's yardsticks: a program that shows one dialog from a template and exits
// on OK, built with the same toolchain and flags as vivediz. Built three ways (see
// windows_program.cmake): as it is; keeping vivediz's further imports (BENCH_KEEP_IMPORTS); and
// with vivediz's resources, showing the template its command line names.
#include <windows.h>
#ifdef BENCH_KEEP_IMPORTS
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>
#endif

namespace {

#ifdef BENCH_KEEP_IMPORTS
// One function of each library that vivediz imports beyond KERNEL32, USER32 and msvcrt. Their
// addresses are taken, never called, so the imports stay and only loading the libraries is timed.
void* volatile kept_imports[] = {reinterpret_cast<void*>(&RegCloseKey),
                                 reinterpret_cast<void*>(&SetupDiDestroyDeviceInfoList)};
#endif

INT_PTR CALLBACK procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
#ifdef BENCH_KEEP_IMPORTS
  if (kept_imports[0] == nullptr) return 1;  // read, so that the table is kept
#endif
  const wchar_t* name = command_line[0] != L'\0' ? command_line : L"MINIMAL_DIALOG";
  DialogBoxParamW(instance, name, nullptr, procedure, 0);
  return 0;
}
