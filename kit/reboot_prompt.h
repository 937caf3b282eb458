// The system's reboot prompt on Windows, found among the program's windows and answered No.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

struct reboot_prompt {
  HWND window;
  std::wstring caption;
  std::vector<std::wstring> buttons;  // their texts, in window order
  bool answered;                      // No was pressed
};

// SetupPromptReboot shows a system dialog inside the calling process whose caption and texts are
// not documented: it is taken to be any visible top-level dialog of the process that is not one
// of the captions given (the settings dialog, help, the program's message boxes). Each one found
// is answered with its No button (IDNO), never Yes, and added to `seen` once. True when a new one
// was found.
bool answer_reboot_prompts(DWORD process_id, const std::vector<std::wstring>& known_captions,
                           std::vector<reboot_prompt>* seen);

}  // namespace e2e
