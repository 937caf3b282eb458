// Process start-up and cross-process window operations of the end-to-end driver.
#include "kit/remote_ui.h"

#include <cwchar>

#include "kit/kit_job.h"

namespace e2e {
namespace {

constexpr UINT kSendTimeoutMs = 3000;
DWORD time_scale = 1;

struct dialog_search {
  DWORD process_id;
  std::vector<dialog_window> found;
};

BOOL CALLBACK collect_dialog(HWND window, LPARAM parameter) {
  dialog_search* search = reinterpret_cast<dialog_search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process_id || !IsWindowVisible(window)) return TRUE;
  if (class_name(window) != L"#32770") return TRUE;
  wchar_t caption[512] = L"";
  GetWindowTextW(window, caption, 512);
  search->found.push_back({window, caption});
  return TRUE;
}

bool is_test_variable(const wchar_t* entry) {
  return _wcsnicmp(entry, L"VIVEDIZ_TEST_", 13) == 0 || _wcsnicmp(entry, L"WINEDEBUG=", 10) == 0;
}

}  // namespace

program_process::~program_process() {
  if (info_.hProcess != nullptr) {
    if (running()) kill();
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
}

bool program_process::start(const std::wstring& executable,
                            const std::vector<environment_variable>& variables, DWORD* error) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
    if (!is_test_variable(entry)) block.append(entry).push_back(L'\0');
  }
  FreeEnvironmentStringsW(strings);
  for (const environment_variable& v : variables) {
    block.append(v.name).append(L"=").append(v.value).push_back(L'\0');
  }
  block.push_back(L'\0');
  return start_in_kit_job(executable, L"\"" + executable + L"\"", CREATE_UNICODE_ENVIRONMENT,
                          &block[0], &info_, error);
}

bool program_process::running() const {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool program_process::wait_for_exit(DWORD timeout_ms) const {
  return WaitForSingleObject(info_.hProcess, timeout_ms) == WAIT_OBJECT_0;
}

DWORD program_process::exit_code() const {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void program_process::kill() const {
  TerminateProcess(info_.hProcess, 0xDEAD);
  WaitForSingleObject(info_.hProcess, 5000);
}

std::vector<dialog_window> visible_dialogs(DWORD process_id) {
  dialog_search search{process_id, {}};
  EnumWindows(collect_dialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> find_dialogs(DWORD process_id, const std::wstring& caption) {
  std::vector<HWND> found;
  for (const dialog_window& d : visible_dialogs(process_id)) {
    if (d.caption == caption) found.push_back(d.window);
  }
  return found;
}

std::wstring window_text(HWND window) {
  std::vector<wchar_t> text(16384, L'\0');
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_NORMAL, scaled_ms(kSendTimeoutMs), &length)) {
    return L"";
  }
  return std::wstring(text.data(), wcsnlen(text.data(), text.size()));
}

std::wstring class_name(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return name;
}

bool set_window_text(HWND window, const std::wstring& text) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_NORMAL, scaled_ms(kSendTimeoutMs), &result) != 0 &&
         result != 0;
}

int check_state(HWND button) {
  DWORD_PTR state = 0;
  if (!SendMessageTimeoutW(button, BM_GETCHECK, 0, 0, SMTO_NORMAL, scaled_ms(kSendTimeoutMs),
                           &state)) {
    return -1;
  }
  return static_cast<int>(state);
}

HWND focused_window(DWORD thread_id) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(thread_id, &info)) return nullptr;
  return info.hwndFocus;
}

void set_time_scale(DWORD factor) { time_scale = factor == 0 ? 1 : factor; }

DWORD scaled_ms(DWORD ms) { return ms * time_scale; }

void post_click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void focus_control(HWND dialog, HWND control) {
  SendNotifyMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void focus_next(HWND dialog) { SendNotifyMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE); }

bool settle(HWND marker_edit, const program_process& program, DWORD timeout_ms) {
  // A posted EM_SETLIMITTEXT is handled after every message sent or posted before it; once the
  // edit reports the new limit, the handlers have run or a message box they opened is up. The
  // markers stay below the default limit and never reach it, so a stale answer cannot match.
  static unsigned counter = 0;
  const WPARAM marker = 20000 + (counter++ % 9000);
  if (!PostMessageW(marker_edit, EM_SETLIMITTEXT, marker, 0)) return !IsWindow(marker_edit);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < timeout_ms) {
    if (!program.running() || !IsWindow(marker_edit)) return true;
    DWORD_PTR limit = 0;
    if (SendMessageTimeoutW(marker_edit, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, scaled_ms(200),
                            &limit) &&
        limit == marker) {
      return true;
    }
    Sleep(10);
  }
  return false;
}

bool wait_until_gone(HWND window, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(10);
  }
  return true;
}

long long file_size(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string read_file_from(const std::wstring& path, long long offset) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  LARGE_INTEGER position;
  position.QuadPart = offset;
  SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    content.append(buffer, got);
  CloseHandle(file);
  return content;
}

}  // namespace e2e
