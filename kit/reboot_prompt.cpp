// Finding the reboot prompt among a process's dialogs, reading it and pressing No.
#include "kit/reboot_prompt.h"

#include "kit/remote_ui.h"

namespace e2e {
namespace {

BOOL CALLBACK collect_button(HWND window, LPARAM parameter) {
  if (_wcsicmp(class_name(window).c_str(), L"Button") == 0 && IsWindowVisible(window)) {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
  }
  return TRUE;
}

}  // namespace

bool answer_reboot_prompts(DWORD process_id, const std::vector<std::wstring>& known_captions,
                           std::vector<reboot_prompt>* seen) {
  bool found = false;
  for (const dialog_window& candidate : visible_dialogs(process_id)) {
    const HWND dialog = candidate.window;
    bool known = false;
    for (const std::wstring& caption : known_captions)
      known = known || caption == candidate.caption;
    for (const reboot_prompt& earlier : *seen) known = known || earlier.window == dialog;
    if (known) continue;
    found = true;
    reboot_prompt prompt{dialog, candidate.caption, {}, false};
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
