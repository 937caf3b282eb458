// The end-to-end scenarios as data: machine state before, what the user does, what must follow.
#pragma once

#include <string>
#include <vector>

#include "kit/checks.h"
#include "kit/registry_fixture.h"
#include "kit/remote_ui.h"

namespace e2e {

// Which settings dialog the program shows: none when it must not show one, from_processor when
// the real processor's hypervisor signature decides (the shipped program).
enum class variant { none, xen, kvm, basic, from_processor };
// The test build (environment-driven CPUID and membership answers) or the shipped program.
enum class build { test, shipped };

// One thing the user does or sees. Every step remembers the line of the table row it came from.
struct step {
  enum class op {
    enter,        // focus `id`, set `text`, move the focus on (EN_KILLFOCUS)
    type_in,      // focus `id` and set `text`, leaving the focus there
    leave,        // focus `id` and move on without typing
    click,        // BM_CLICK on `id` of the settings dialog
    escape,       // Escape pressed in `id`, which has the focus (through the dialog's own loop)
    message,      // the next message box shows `text`; it is dismissed with OK
    checked,      // `id` is checked (number 1) or not (0)
    enabled,      // `id` is enabled (number 1) or disabled (0)
    shows,        // `id` shows `text`
    still_open,   // the settings dialog is still there
    help_opens,   // one more help window opens: `number` paragraphs, the first one `text`
    help_escape,  // Escape in the newest help window (IDCANCEL and VK_ESCAPE): it stays open
    help_ok,      // OK in the newest help window: it closes
    key,          // the key `number` (virtual-key code), with `id` (one, or 0) held, typed with
                  // SendInput while the settings dialog is in front: it must change something
                  // there; when the dialog cannot be brought in front, the rest is skipped
  };
  op what;
  int id;
  std::wstring text;
  int number;
  location where;
};

step enter(int id, const std::wstring& text, location where = E2E_HERE_DEFAULT);
step type_in(int id, const std::wstring& text, location where = E2E_HERE_DEFAULT);
step leave(int id, location where = E2E_HERE_DEFAULT);
step click(int id, location where = E2E_HERE_DEFAULT);
step escape(int id, location where = E2E_HERE_DEFAULT);
step message(const std::wstring& text, location where = E2E_HERE_DEFAULT);
step checked(int id, bool is_checked, location where = E2E_HERE_DEFAULT);
step enabled(int id, bool is_enabled, location where = E2E_HERE_DEFAULT);
step shows(int id, const std::wstring& text, location where = E2E_HERE_DEFAULT);
step still_open(location where = E2E_HERE_DEFAULT);
step help_opens(int paragraphs, const std::wstring& first_paragraph,
                location where = E2E_HERE_DEFAULT);
step help_escape(location where = E2E_HERE_DEFAULT);
step help_ok(location where = E2E_HERE_DEFAULT);
step key(int virtual_key, location where = E2E_HERE_DEFAULT);
step alt_key(char letter, location where = E2E_HERE_DEFAULT);

struct scenario {
  std::string name;
  location where;
  bool also_x86;
  build program;
  variant shown;
  std::vector<environment_variable> environment;
  std::vector<reg_item> before;  // applied on top of reset_to_baseline()
  std::vector<step> steps;
  std::vector<reg_item> after;  // what changed; everything else in `before` must be as it was
  bool reboot;                  // whether the system's reboot prompt must have been offered
  // Test libraries (planted_library.cpp) set beside a copy of the program under these system
  // libraries' names, with Wine told to search the program's folder first: none may load.
  std::vector<std::wstring> planted;
  // A command block of the administrator's guide that runs after `before` and before the program
  // starts (accept.exe --guide-block NAME FILE): the scenario shows what the guide says follows.
  // Such a scenario runs only when given its block.
  std::string guide_block;
};

std::vector<scenario> all_scenarios();

// The settings caption and the message box caption.
extern const wchar_t* const kSettingsCaption;
extern const wchar_t* const kMessageCaption;
extern const wchar_t* const kHelpCaption;

}  // namespace e2e
