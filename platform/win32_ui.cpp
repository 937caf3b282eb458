// The seam's module, window, dialog and message-loop operations on USER32 and KERNEL32.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {
HWND to_hwnd(window_handle window) { return reinterpret_cast<HWND>(window); }
window_handle from_hwnd(HWND window) { return reinterpret_cast<window_handle>(window); }
HINSTANCE to_hinstance(module_handle module) { return reinterpret_cast<HINSTANCE>(module); }
const wchar_t* w(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// DialogBoxParamW calls a stdcall procedure with Win32 types; the program's procedures take the
// seam's. The creation parameter carries the procedure and the program's own parameter, and the
// dialog keeps it in its DWLP_USER slot for the messages that follow: it lives on the stack of the
// call that runs the dialog, which returns only once the dialog is destroyed. A dialog whose modal
// loop is the seam's own (dialog_box_param_beside) also keeps there whether it has ended.
struct dialog_start {
  dialog_procedure procedure;
  std::intptr_t parameter;
  bool own_loop;
  bool ended;
  std::intptr_t result;
};

dialog_start* started(HWND dialog) {
  return reinterpret_cast<dialog_start*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

INT_PTR CALLBACK dialog_trampoline(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    dialog_start* start = reinterpret_cast<dialog_start*>(lparam);
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(start));
    return start->procedure(from_hwnd(dialog), message, wparam, start->parameter);
  }
  const dialog_start* start = started(dialog);
  if (start == nullptr) return FALSE;  // messages before WM_INITDIALOG
  return start->procedure(from_hwnd(dialog), message, wparam, lparam);
}
}  // namespace

module_handle own_module() { return reinterpret_cast<module_handle>(GetModuleHandleW(nullptr)); }

int load_string(module_handle module, u32 id, char16_t* buffer, int units) {
  return LoadStringW(to_hinstance(module), id, reinterpret_cast<wchar_t*>(buffer), units);
}

int message_box(window_handle owner, const char16_t* text, const char16_t* caption, u32 flags) {
  return MessageBoxW(to_hwnd(owner), w(text), w(caption), flags);
}

bool register_window_class(module_handle module, const char16_t* class_name, u32 class_style) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.style = class_style;
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = to_hinstance(module);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(1));
  window_class.lpszClassName = w(class_name);
  return RegisterClassExW(&window_class) != 0;
}

window_handle create_window(u32 ex_style, const char16_t* class_name, const char16_t* title,
                            u32 style, module_handle module) {
  return from_hwnd(CreateWindowExW(ex_style, w(class_name), w(title), style, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                   to_hinstance(module), nullptr));
}

module_handle window_module(window_handle window) {
  return reinterpret_cast<module_handle>(GetWindowLongPtrW(to_hwnd(window), GWLP_HINSTANCE));
}

std::intptr_t dialog_box_param(module_handle module, const char16_t* template_name,
                               window_handle owner, dialog_procedure procedure,
                               std::intptr_t parameter) {
  dialog_start start = {procedure, parameter, false, false, 0};
  return DialogBoxParamW(to_hinstance(module), w(template_name), to_hwnd(owner), dialog_trampoline,
                         reinterpret_cast<LPARAM>(&start));
}

std::intptr_t dialog_box_param_beside(module_handle module, const char16_t* template_name,
                                      window_handle owner, dialog_procedure procedure,
                                      std::intptr_t parameter, const window_handle* others,
                                      u32 other_count) {
  dialog_start start = {procedure, parameter, true, false, 0};
  const HWND dialog = CreateDialogParamW(to_hinstance(module), w(template_name), to_hwnd(owner),
                                         dialog_trampoline, reinterpret_cast<LPARAM>(&start));
  if (dialog == nullptr) return -1;
  // The template is not WS_VISIBLE: DialogBox would show it once initialised, unless ended.
  if (!start.ended) ShowWindow(dialog, SW_SHOWNORMAL);
  MSG message;
  while (!start.ended) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;  // a broken queue: leave the loop rather than spin
    if (got == 0) {
      // As the system's modal loop does: the quit request ends the loop and stays for the next.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    bool taken = IsDialogMessageW(dialog, &message) != FALSE;
    for (u32 i = 0; i < other_count && !taken; ++i) {
      if (others[i] != nullptr) taken = IsDialogMessageW(to_hwnd(others[i]), &message) != FALSE;
    }
    if (!taken) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  DestroyWindow(dialog);
  return start.result;
}

bool end_dialog(window_handle dialog, std::intptr_t result) {
  const HWND window = to_hwnd(dialog);
  dialog_start* start = started(window);  // null for a window that is gone
  if (start == nullptr || !start->own_loop) return EndDialog(window, result) != FALSE;
  // EndDialog is for the system's modal loop alone. As it does, the dialog is hidden at once;
  // its own loop ends after the message being handled and destroys it.
  start->ended = true;
  start->result = result;
  ShowWindow(window, SW_HIDE);
  return true;
}

window_handle get_dlg_item(window_handle dialog, int id) {
  return from_hwnd(GetDlgItem(to_hwnd(dialog), id));
}

bool enable_window(window_handle window, bool enable) {
  return EnableWindow(to_hwnd(window), enable) != FALSE;
}

bool check_dlg_button(window_handle dialog, int id, u32 state) {
  return CheckDlgButton(to_hwnd(dialog), id, state) != FALSE;
}

bool check_radio_button(window_handle dialog, int first_id, int last_id, int check_id) {
  return CheckRadioButton(to_hwnd(dialog), first_id, last_id, check_id) != FALSE;
}

u32 is_dlg_button_checked(window_handle dialog, int id) {
  return IsDlgButtonChecked(to_hwnd(dialog), id);
}

bool set_dlg_item_int(window_handle dialog, int id, u32 value) {
  return SetDlgItemInt(to_hwnd(dialog), id, value, FALSE) != FALSE;
}

bool set_dlg_item_text(window_handle dialog, int id, const char16_t* text) {
  return SetDlgItemTextW(to_hwnd(dialog), id, w(text)) != FALSE;
}

u32 get_dlg_item_text(window_handle dialog, int id, char16_t* buffer, u32 units) {
  if (units == 0) return 0;
  buffer[0] = 0;
  return GetDlgItemTextW(to_hwnd(dialog), id, reinterpret_cast<wchar_t*>(buffer),
                         static_cast<int>(units));
}

u32 get_window_text_length(window_handle window) {
  const int length = GetWindowTextLengthW(to_hwnd(window));
  return length > 0 ? static_cast<u32>(length) : 0;
}

window_handle set_focus(window_handle window) { return from_hwnd(SetFocus(to_hwnd(window))); }

bool post_message(window_handle window, u32 message, std::uintptr_t wparam, std::intptr_t lparam) {
  return PostMessageW(to_hwnd(window), message, wparam, lparam) != FALSE;
}

void post_quit_message(int exit_code) { PostQuitMessage(exit_code); }

bool get_and_dispatch_message(int* exit_code) {
  MSG message;
  const BOOL got = GetMessageW(&message, nullptr, 0, 0);
  if (got == 0) {
    *exit_code = static_cast<int>(message.wParam);
    return false;
  }
  if (got == -1) return false;  // a broken queue: leave the loop rather than spin
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return true;
}

}  // namespace platform
