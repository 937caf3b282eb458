// Finding the reboot prompt among a process's dialogs, reading it and pressing No.
#include "tests/e2e/reboot_prompt.h"

#include "tests/e2e/remote_ui.h"

namespace e2e {
namespace {

struct search {
  DWORD process_id;
  const std::vector<std::wstring>* known;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_unknown_dialog(HWND window, LPARAM parameter) {
  search* s = reinterpret_cast<search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != s->process_id || !IsWindowVisible(window)) return TRUE;
  if (class_name(window) != L"#32770") return TRUE;
  wchar_t caption[512] = L"";
  GetWindowTextW(window, caption, 512);
  for (const std::wstring& known : *s->known) {
    if (known == caption) return TRUE;
  }
  s->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK collect_button(HWND window, LPARAM parameter) {
  if (_wcsicmp(class_name(window).c_str(), L"Button") == 0 && IsWindowVisible(window)) {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
  }
  return TRUE;
}

}  // namespace

bool answer_reboot_prompts(DWORD process_id, const std::vector<std::wstring>& known_captions,
                           std::vector<reboot_prompt>* seen) {
  search s{process_id, &known_captions, {}};
  EnumWindows(collect_unknown_dialog, reinterpret_cast<LPARAM>(&s));
  bool found = false;
  for (HWND dialog : s.found) {
    bool known = false;
    for (const reboot_prompt& earlier : *seen) known = known || earlier.window == dialog;
    if (known) continue;
    found = true;
    reboot_prompt prompt{dialog, window_text(dialog), {}, false};
    std::vector<HWND> buttons;
    EnumChildWindows(dialog, collect_button, reinterpret_cast<LPARAM>(&buttons));
    for (HWND button : buttons) prompt.buttons.push_back(window_text(button));
    HWND no = GetDlgItem(dialog, IDNO);
    if (no != nullptr && IsWindowVisible(no)) {
      post_click(no);
      prompt.answered = wait_until_gone(dialog, scaled_ms(10000));
    }
    seen->push_back(prompt);
  }
  return found;
}

}  // namespace e2e
