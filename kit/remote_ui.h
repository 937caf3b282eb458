// Starting the program under test and driving its windows from this process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct environment_variable {
  std::wstring name;
  std::wstring value;
};

// The program under test, started with this process's environment minus every VIVEDIZ_TEST_*
// and WINEDEBUG variable, plus the given ones.
class program_process {
 public:
  program_process() = default;
  program_process(const program_process&) = delete;
  program_process& operator=(const program_process&) = delete;
  ~program_process();

  bool start(const std::wstring& executable, const std::vector<environment_variable>& variables,
             DWORD* error);
  DWORD id() const { return info_.dwProcessId; }
  DWORD thread_id() const { return info_.dwThreadId; }
  HANDLE handle() const { return info_.hProcess; }
  bool running() const;
  // Waits up to timeout_ms for the end; false when it is still running.
  bool wait_for_exit(DWORD timeout_ms) const;
  DWORD exit_code() const;
  void kill() const;

 private:
  PROCESS_INFORMATION info_ = {};
};

// Every wait of the driver is multiplied by this factor (1 by default): under emulation of the x86
// side of Wine a program takes about a minute to start.
void set_time_scale(DWORD factor);
DWORD scaled_ms(DWORD ms);

// Visible top-level dialogs (class "#32770") of the process, with their captions.
struct dialog_window {
  HWND window;
  std::wstring caption;
};
std::vector<dialog_window> visible_dialogs(DWORD process_id);
// Those whose caption is exactly `caption`.
std::vector<HWND> find_dialogs(DWORD process_id, const std::wstring& caption);

// Text by WM_GETTEXT (which works across processes for every control), or empty on a timeout.
std::wstring window_text(HWND window);
std::wstring class_name(HWND window);
bool set_window_text(HWND window, const std::wstring& text);
// BM_GETCHECK; -1 when the control does not answer.
int check_state(HWND button);
HWND focused_window(DWORD thread_id);

// Presses a button or toggles a box without waiting for what its handler does.
void post_click(HWND button);
// Gives the control the focus, then moves the focus on to the next tab stop, so that an edit
// receives EN_KILLFOCUS. Neither call waits for the dialog's handlers.
void focus_control(HWND dialog, HWND control);
void focus_next(HWND dialog);

// Waits until the program's thread has handled everything sent or posted to it so far (or is
// inside a message box that one of those messages opened), or has ended. `marker_edit` is any
// edit of the program's thread whose text limit the wait may set. False on a timeout.
bool settle(HWND marker_edit, const program_process& program, DWORD timeout_ms);

// Waits until `window` is gone; false on a timeout.
bool wait_until_gone(HWND window, DWORD timeout_ms);

// Reads a Unix file (the driver's redirected standard error) from a byte offset to its end.
long long file_size(const std::wstring& path);
std::string read_file_from(const std::wstring& path, long long offset);

}  // namespace e2e
