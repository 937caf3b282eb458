// The acceptance kit's console program: runs every scenario against the real program, on Wine or
// in a disposable Windows guest, puts the registry back and reports in the style of winetest.
//
// Usage: accept.exe --disposable [--as-windows] [--only TEXT] [--report FILE] [--time-scale N]
//                   [--shipped FOLDER] [--stderr FILE] [--skip-arch x86 [--skip-reason TEXT]]
//                   [--guide-block NAME FILE] [--crash-after-preparing|--crash-after-starting NAME]
//                   [--limited-token-for-test]
//        accept.exe --restore FILE
//        accept.exe --disposable --screenshot xen|kvm|basic|help|message READY-FILE DONE-FILE
//                                                                                      (Wine)
// The kit runs the programs of its own architecture, which lie beside it: vivediz.exe (shipped),
// test\vivediz.exe (the test variant) and planted\uxtheme.dll. Without --disposable it says what
// it would change and stops. Before its first change it saves everything it will touch to
// accept-restore.txt beside itself; it restores at the end, after a failed scenario and on Ctrl+C,
// and --restore FILE restores after a crash, once it has ended the programs the crashed run left.
// The programs it starts run in a job object that ends them with the kit.
// Under Wine (ntdll exports wine_get_version) it also uses Wine's own settings, and the reboot
// prompt's evidence is Wine's stub line on the Unix standard error, which --stderr FILE names;
// --as-windows takes a guest's paths instead (only the reboot evidence stays the stub's).
// --skip-arch x86 lists the x86 kit's scenarios as skipped, with the reason --skip-reason gives
// (the caller knows why this host cannot run them);
// --shipped runs the shipped program's scenarios against FOLDER\<arch>\vivediz.exe.
// --guide-block runs only the scenarios that follow the administrator's guide's block NAME, with
// the batch file FILE run after each one's registry is prepared.
// The project's own tests use the rest: --crash-after-* ends the kit as a kill would, and
// --limited-token-for-test answers "not elevated" (Wine's token always is).
#include <cpuid.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "kit/checks.h"
#include "kit/kit_host.h"
#include "kit/kit_job.h"
#include "kit/kit_version.h"
#include "kit/leftovers.h"
#include "kit/planting.h"
#include "kit/reboot_prompt.h"
#include "kit/registry_access.h"
#include "kit/registry_fixture.h"
#include "kit/remote_ui.h"
#include "kit/scenarios.h"
#include "kit/sha256.h"
#include "kit/template_check.h"
#include "resource.h"
#include "rollback/rollback.h"

namespace e2e {
namespace {

// Every wait scales with --time-scale: under emulation a program start takes about a minute.
DWORD window_timeout_ms() { return scaled_ms(15000); }  // a program start takes about a second
DWORD step_timeout_ms() { return scaled_ms(10000); }
DWORD exit_timeout_ms() { return scaled_ms(10000); }
const char kRebootEvidence[] = "fixme:setupapi:SetupPromptReboot";
const wchar_t kProgramDebugChannels[] = L"fixme-all,fixme+setupapi";

struct options {
  std::wstring kit;          // the folder of accept.exe and the programs under test
  std::wstring stderr_file;  // this process's Unix standard error
  std::string only;
  std::string skip_arch;  // counted and listed, not run: this host cannot run them
  std::string skip_arch_reason;
  std::wstring shipped;  // holds x64\ and x86\vivediz.exe as shipped; empty: the kit's own
  std::string crash_after_preparing;  // for the tests of --restore: end the kit abruptly there,
  std::string crash_after_starting;   // or once that scenario's program has started
  std::string guide_block;            // the guide's command block that a scenario runs first
  std::wstring guide_block_file;      // a batch file holding it
  bool wine = false;  // under Wine and not --as-windows: Wine's settings may be used
  bool under_wine = false;
};

const char* variant_name(variant v) {
  switch (v) {
    case variant::xen:
      return "xen";
    case variant::kvm:
      return "kvm";
    case variant::basic:
      return "basic";
    case variant::from_processor:
      return "from the processor";
    default:
      return "none";
  }
}

const char* template_of(variant v) {
  switch (v) {
    case variant::xen:
      return "ORVANE_DLG_TEMPLATE";
    case variant::kvm:
      return "ORVANE_DLG_KVM_TEMPLATE";
    default:
      return "ORVANE_DLG_BASIC_TEMPLATE";
  }
}

std::string signature(unsigned leaf) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(leaf, a, b, c, d);
  char text[13] = {};
  std::memcpy(text, &b, 4);
  std::memcpy(text + 4, &c, 4);
  std::memcpy(text + 8, &d, 4);
  return std::string(text, 12);
}

// The signatures of leaves 0x40000000 and 0x40000100 (12 bytes each) that the programs see:
// the kit runs the programs of its own architecture on the same processor (or emulator).
std::string processor_signatures() { return signature(0x40000000) + signature(0x40000100); }

// The variant the processor asks for: the signatures of leaf 0x40000000, or behind a Hyper-V
// compatible front those of 0x40000100 (the baseline's board name decides nothing).
variant processor_variant(const std::string& signatures) {
  const std::string first = signatures.substr(0, 12);
  if (first == std::string("XenVMMXenVMM") || first == std::string("FenlowShimHv")) {
    return variant::xen;
  }
  if (first.compare(0, 10, std::string("KVMKVMKVM\0", 10)) == 0) return variant::kvm;
  if (first == "Microsoft Hv") {
    const std::string behind = signatures.substr(12, 12);
    if (behind == "XenVMMXenVMM") return variant::xen;
    if (behind.compare(0, 10, std::string("KVMKVMKVM\0", 10)) == 0) return variant::kvm;
  }
  return variant::basic;
}

// One run of the program.

struct run_state {
  const scenario& s;
  const std::wstring& executable;  // the program file the templates are read from
  program_process& program;
  HWND dialog;
  HWND marker;
  std::vector<HWND> helps;  // innermost last
  bool watch_prompts;       // on Windows: the system's reboot prompt is a window to answer
  std::vector<reboot_prompt> prompts;
};

void answer_prompts(run_state& run) {
  if (!run.watch_prompts) return;
  answer_reboot_prompts(run.program.id(), {kSettingsCaption, kHelpCaption, kMessageCaption},
                        &run.prompts);
}

std::vector<HWND> message_boxes(const run_state& run) {
  return find_dialogs(run.program.id(), kMessageCaption);
}

void check_no_settings_dialog(const run_state& run, location where) {
  if (run.s.shown != variant::none) return;
  const bool none = find_dialogs(run.program.id(), kSettingsCaption).empty();
  ok_at(where, none, "settings dialog: expected none, got one");
}

bool dismiss(HWND box) {
  post_click(GetDlgItem(box, IDOK));
  return wait_until_gone(box, step_timeout_ms());
}

bool settled(run_state& run, location where) {
  if (run.marker == nullptr) return true;
  const bool done = settle(run.marker, run.program, step_timeout_ms());
  ok_at(where, done, "program: expected it to handle the step within %lu ms, got no answer (hang)",
        step_timeout_ms());
  return done;
}

// Any message box that is up although the scenario expects none is a failure; it is dismissed.
void no_unexpected_message(run_state& run, location where) {
  for (HWND box : message_boxes(run)) {
    const std::wstring text = window_text(GetDlgItem(box, 0xFFFF));
    ok_at(where, false, "message: expected none, got %s", quoted(text).c_str());
    dismiss(box);
    settled(run, where);
  }
}

HWND control(run_state& run, const step& st) {
  HWND window = GetDlgItem(run.dialog, st.id);
  ok_at(st.where, window != nullptr, "control %d: expected it in the settings dialog, got none",
        st.id);
  return window;
}

bool wait_for_message(run_state& run, const step& st) {
  const DWORD start = GetTickCount();
  std::vector<HWND> boxes;
  while ((boxes = message_boxes(run)).empty()) {
    check_no_settings_dialog(run, st.where);
    answer_prompts(run);
    if (!run.program.running() || GetTickCount() - start >= step_timeout_ms()) {
      ok_at(st.where, false, "message: expected %s, got %s", quoted(st.text).c_str(),
            run.program.running() ? "none in time" : "none before the program ended");
      return false;
    }
    Sleep(10);
  }
  check_no_settings_dialog(run, st.where);
  HWND box = boxes.front();
  ok_at(st.where, boxes.size() == 1, "message boxes: expected one at a time, got %u",
        static_cast<unsigned>(boxes.size()));
  const std::wstring text = window_text(GetDlgItem(box, 0xFFFF));
  ok_at(st.where, text == st.text, "message: expected %s, got %s", quoted(st.text).c_str(),
        quoted(text).c_str());
  HWND ok_button = GetDlgItem(box, IDOK);
  HWND cancel = GetDlgItem(box, IDCANCEL);
  ok_at(st.where, ok_button != nullptr && IsWindowVisible(ok_button),
        "message box: expected an OK button, got none");
  ok_at(st.where, cancel == nullptr || !IsWindowVisible(cancel),
        "message box: expected OK only, got a Cancel button too");
  HWND owner = GetWindow(box, GW_OWNER);
  ok_at(st.where, owner == nullptr, "message box owner: expected none, got %s",
        narrow(class_name(owner)).c_str());
  if (run.dialog != nullptr && IsWindow(run.dialog)) {
    ok_at(st.where, IsWindowEnabled(run.dialog) != FALSE,
          "settings dialog under a message box: expected enabled, got disabled");
  }
  const bool gone = dismiss(box);
  ok_at(st.where, gone, "message box %s: expected it to close on OK, got it still open",
        quoted(text).c_str());
  if (!gone) return false;
  return settled(run, st.where);
}

// A dialog's owner: a hidden top-level window of the program's class, style 0x02CF0000 and
// extended style 0x110 (the dialog manager may add WS_CLIPSIBLINGS, so only those bits are
// required).
void check_hidden_owner(location where, HWND dialog, const wchar_t* klass, const wchar_t* title) {
  HWND owner = GetWindow(dialog, GW_OWNER);
  ok_at(where, owner != nullptr, "owner of %s: expected a %s window, got none",
        narrow(title).c_str(), narrow(klass).c_str());
  if (owner == nullptr) return;
  ok_at(where, class_name(owner) == klass, "owner class: expected %s, got %s",
        narrow(klass).c_str(), narrow(class_name(owner)).c_str());
  wchar_t text[256] = L"";
  GetWindowTextW(owner, text, 256);
  ok_at(where, std::wstring(text) == title, "owner title: expected %s, got %s",
        quoted(title).c_str(), quoted(text).c_str());
  ok_at(where, !IsWindowVisible(owner), "owner %s: expected hidden, got visible",
        narrow(klass).c_str());
  const DWORD style = static_cast<DWORD>(GetWindowLongW(owner, GWL_STYLE));
  const DWORD ex_style = static_cast<DWORD>(GetWindowLongW(owner, GWL_EXSTYLE));
  ok_at(where, (style & 0x02CF0000) == 0x02CF0000 && (ex_style & 0x110) == 0x110,
        "owner %s styles: expected 0x02CF0000 and 0x110, got 0x%08lx and 0x%08lx",
        narrow(klass).c_str(), style, ex_style);
}

int paragraph_count(const std::wstring& text) {
  int count = 1;
  for (std::size_t at = text.find(L"\r\n\r\n"); at != std::wstring::npos;
       at = text.find(L"\r\n\r\n", at + 4)) {
    ++count;
  }
  return count;
}

bool wait_for_help(run_state& run, const step& st) {
  const DWORD start = GetTickCount();
  HWND help = nullptr;
  while (help == nullptr) {
    for (HWND window : find_dialogs(run.program.id(), kHelpCaption)) {
      bool known = false;
      for (HWND open : run.helps) known = known || open == window;
      if (!known) help = window;
    }
    if (help != nullptr) break;
    if (!run.program.running() || GetTickCount() - start >= step_timeout_ms()) {
      ok_at(st.where, false, "help window: expected number %u to open, got none",
            static_cast<unsigned>(run.helps.size() + 1));
      return false;
    }
    Sleep(10);
  }
  for (HWND open : run.helps) {
    ok_at(st.where, GetWindow(open, GW_OWNER) != GetWindow(help, GW_OWNER),
          "help window owner: expected a new hidden window per help request, got a shared one");
  }
  run.helps.push_back(help);
  if (!settled(run, st.where)) return false;
  check_hidden_owner(st.where, help, L"tarn_vivediz_app_class", L"TARN ORVANE Windows Application");
  ok_at(st.where, IsWindowEnabled(run.dialog) != FALSE,
        "settings dialog under help: expected enabled, got disabled");
  check_against_template(st.where, help, run.executable, "TARN_VIVEDIZ_DLG_TEMPLATE");
  const std::wstring text = window_text(GetDlgItem(help, IDC_HELP_TEXT));
  const std::wstring first = text.substr(0, text.find(L"\r\n\r\n"));
  ok_at(st.where, first == st.text, "help text's first paragraph: expected %s, got %s",
        quoted(st.text).c_str(), quoted(first).c_str());
  ok_at(st.where, paragraph_count(text) == st.number, "help text: expected %d paragraphs, got %d",
        st.number, paragraph_count(text));
  const std::wstring last_expected =
      L"FastSendDataThreshold - Number of bytes for the fast send data threshold.  When enabled, "
      L"the default is 16384.";
  const std::size_t last_break = text.rfind(L"\r\n\r\n");
  const std::wstring last = last_break == std::wstring::npos ? text : text.substr(last_break + 4);
  ok_at(st.where, last == last_expected, "help text's last paragraph: expected %s, got %s",
        quoted(last_expected).c_str(), quoted(last).c_str());
  HWND focus = focused_window(run.program.thread_id());
  ok_at(st.where, focus == GetDlgItem(help, IDOK),
        "help focus: expected its OK button, got control %d", focus ? GetDlgCtrlID(focus) : 0);
  return true;
}

// What a key can change in the program: the focus, the boxes' checks, its windows.
std::vector<LONG_PTR> key_effects(const run_state& run) {
  std::vector<LONG_PTR> state = {
      reinterpret_cast<LONG_PTR>(focused_window(run.program.thread_id())), run.program.running(),
      IsWindowVisible(run.dialog), static_cast<LONG_PTR>(message_boxes(run).size())};
  for (HWND child = GetWindow(run.dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    state.push_back(check_state(child));
  }
  return state;
}

// A key typed for real: SendInput types into whatever window is in front, so the settings dialog
// is brought there first, and where it cannot be, the rest of the scenario is skipped. The key
// must change something (a key the dialog does not take changes nothing).
bool type_key(run_state& run, const step& st) {
  if (GetForegroundWindow() != run.dialog) {
    // The change reaches GetForegroundWindow once the program has taken it (seen under Wine).
    SetForegroundWindow(run.dialog);
    if (!settled(run, st.where)) return false;
    const DWORD asked = GetTickCount();
    while (GetForegroundWindow() != run.dialog && GetTickCount() - asked < scaled_ms(1000)) {
      Sleep(10);
    }
  }
  HWND front = GetForegroundWindow();
  if (front != run.dialog) {
    skip_rest_of_scenario(
        "SendInput types into the window in front, and SetForegroundWindow did not bring the "
        "settings dialog there (in front: " +
        (front != nullptr ? quoted(window_text(front)) : std::string("no window")) + ")");
    return false;
  }
  const std::vector<LONG_PTR> before = key_effects(run);
  const WORD keys[2] = {static_cast<WORD>(st.id), static_cast<WORD>(st.number)};
  INPUT inputs[4] = {};
  UINT count = 0;
  for (int i = 0; i < 4; ++i) {
    const WORD k = keys[i < 2 ? i : 3 - i];  // down in order, up in reverse
    if (k == 0) continue;
    inputs[count].type = INPUT_KEYBOARD;
    inputs[count].ki.wVk = k;
    inputs[count++].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
  }
  const UINT sent = SendInput(count, inputs, sizeof(INPUT));
  ok_at(st.where, sent == count, "SendInput: expected %u key events sent, got %u (error %lu)",
        count, sent, GetLastError());
  const DWORD start = GetTickCount();
  bool changed = false;
  while (!changed && GetTickCount() - start < step_timeout_ms()) {
    Sleep(10);
    changed = key_effects(run) != before;
  }
  ok_at(st.where, changed, "key 0x%02x%s: expected the settings dialog to take it, got no change",
        st.number, st.id != 0 ? " with Alt" : "");
  return changed && settled(run, st.where);
}

// Runs one step; false when the scenario cannot go on.
bool run_step(run_state& run, const step& st) {
  switch (st.what) {
    case step::op::enter: {
      HWND edit = control(run, st);
      if (edit == nullptr) return false;
      focus_control(run.dialog, edit);
      ok_at(st.where, set_window_text(edit, st.text), "control %d: cannot set the text %s", st.id,
            quoted(st.text).c_str());
      focus_next(run.dialog);
      return settled(run, st.where);
    }
    case step::op::type_in: {
      HWND edit = control(run, st);
      if (edit == nullptr) return false;
      focus_control(run.dialog, edit);
      ok_at(st.where, set_window_text(edit, st.text), "control %d: cannot set the text %s", st.id,
            quoted(st.text).c_str());
      return settled(run, st.where);
    }
    case step::op::leave: {
      HWND edit = control(run, st);
      if (edit == nullptr) return false;
      focus_control(run.dialog, edit);
      focus_next(run.dialog);
      return settled(run, st.where);
    }
    case step::op::click: {
      HWND button = control(run, st);
      if (button == nullptr) return false;
      post_click(button);
      return settled(run, st.where);
    }
    case step::op::escape: {
      HWND window = control(run, st);
      if (window == nullptr) return false;
      HWND focus = focused_window(run.program.thread_id());
      ok_at(st.where, focus == window, "focus before Escape: expected control %d, got control %d",
            st.id, focus ? GetDlgCtrlID(focus) : 0);
      PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageW(window, WM_KEYUP, VK_ESCAPE, 0xC0010001);
      return settled(run, st.where);
    }
    case step::op::message:
      return wait_for_message(run, st);
    case step::op::checked: {
      HWND button = control(run, st);
      if (button == nullptr) return false;
      const int state = check_state(button);
      const char* names[] = {"unchecked", "checked", "indeterminate"};
      const std::string got =
          state >= 0 && state <= 2 ? names[state] : "no answer (" + std::to_string(state) + ")";
      ok_at(st.where, state == st.number, "control %d: expected %s, got %s", st.id,
            names[st.number], got.c_str());
      return true;
    }
    case step::op::enabled: {
      HWND window = control(run, st);
      if (window == nullptr) return false;
      const int is_enabled = IsWindowEnabled(window) ? 1 : 0;
      ok_at(st.where, is_enabled == st.number, "control %d: expected %s, got %s", st.id,
            st.number ? "enabled" : "disabled", is_enabled ? "enabled" : "disabled");
      return true;
    }
    case step::op::shows: {
      HWND window = control(run, st);
      if (window == nullptr) return false;
      const std::wstring text = window_text(window);
      ok_at(st.where, text == st.text, "control %d text: expected %s, got %s", st.id,
            quoted(st.text).c_str(), quoted(text).c_str());
      return true;
    }
    case step::op::still_open: {
      const bool open =
          run.program.running() && IsWindow(run.dialog) && IsWindowVisible(run.dialog);
      ok_at(st.where, open, "settings dialog: expected still open, got closed");
      return open;
    }
    case step::op::help_opens:
      return wait_for_help(run, st);
    case step::op::help_escape: {
      if (run.helps.empty()) return false;
      HWND help = run.helps.back();
      PostMessageW(help, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      HWND target = GetDlgItem(help, IDOK);
      PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
      if (!settled(run, st.where)) return false;
      ok_at(st.where, IsWindow(help) && IsWindowVisible(help),
            "help window after Escape: expected open, got closed");
      return IsWindow(help) != FALSE;
    }
    case step::op::help_ok: {
      if (run.helps.empty()) return false;
      HWND help = run.helps.back();
      post_click(GetDlgItem(help, IDOK));
      const bool gone = wait_until_gone(help, step_timeout_ms());
      ok_at(st.where, gone, "help window after OK: expected closed, got open");
      run.helps.pop_back();
      if (!gone || !settled(run, st.where)) return false;
      if (run.helps.empty()) {
        HWND focus = focused_window(run.program.thread_id());
        ok_at(st.where, focus == run.dialog || IsChild(run.dialog, focus),
              "focus after help closed: expected the settings dialog, got %s",
              focus ? narrow(class_name(focus)).c_str() : "none");
      }
      return true;
    }
    case step::op::key:
      return type_key(run, st);
  }
  return false;
}

bool is_action(const step& st) {
  switch (st.what) {
    case step::op::enter:
    case step::op::type_in:
    case step::op::leave:
    case step::op::click:
    case step::op::escape:
    case step::op::help_escape:
    case step::op::help_ok:
    case step::op::help_opens:
    case step::op::key:
      return true;
    default:
      return false;
  }
}

std::wstring program_path(const options& o, build program) {
  if (program == build::test) return o.kit + L"\\test\\vivediz.exe";
  if (o.shipped.empty()) return o.kit + L"\\vivediz.exe";
  const std::string arch = kit_architecture();
  return o.shipped + L"\\" + std::wstring(arch.begin(), arch.end()) + L"\\vivediz.exe";
}

// Why a scenario cannot run here, or empty.
std::string skip_reason(const options& o, const scenario& s) {
  std::vector<reg_item> items = s.before;
  items.insert(items.end(), s.after.begin(), s.after.end());
  if (!o.wine) {
    for (const reg_item& item : items) {
      if (starts_with_ignore_case(item.path, L"SYSTEM\\CurrentControlSet\\Enum\\")) {
        return "it needs prepared device keys under Enum, and \"Users, including administrators, "
               "cannot change the contents of the Enum subkey\" (Microsoft's registry reference)";
      }
    }
  }
  if (!s.planted.empty() && o.under_wine && !o.wine) {
    return "under Wine the planted library is found only through Wine's library override, a Wine "
           "setting that --as-windows leaves alone";
  }
  if (!o.wine) {
    const std::wstring tree = guest_tree_needed_by(items, s.shown == variant::xen);
    if (!tree.empty()) {
      return "the guest has HKLM\\" + narrow(tree) +
             " of its own, and the scenario needs it absent";
    }
  }
  return std::string();
}

// Set for the console control handler, which restores from another thread.
CRITICAL_SECTION registry_lock;
volatile LONG stopping = 0;
HANDLE running_program = nullptr;

// True while the scenario may go on changing the registry; false once Ctrl+C or closing the
// console has restored it.
bool enter_registry_changes() {
  EnterCriticalSection(&registry_lock);
  if (stopping == 0) return true;
  LeaveCriticalSection(&registry_lock);
  return false;
}

void leave_registry_changes() { LeaveCriticalSection(&registry_lock); }

bool same_item(const reg_item& a, const reg_item& b) {
  return a.what == b.what && _wcsicmp(a.path.c_str(), b.path.c_str()) == 0 &&
         _wcsicmp(a.name.c_str(), b.name.c_str()) == 0;
}

bool path_within(const std::wstring& path, const std::wstring& root) {
  return path.size() >= root.size() && _wcsnicmp(path.c_str(), root.c_str(), root.size()) == 0 &&
         (path.size() == root.size() || path[root.size()] == L'\\');
}

// What the registry must hold afterwards: the baseline, then the scenario's own state, then what
// it expects to have changed. A baseline "no key" gives way to any item inside that key.
std::vector<reg_item> expected_registry(const scenario& s) {
  std::vector<reg_item> model;
  for (const reg_item& base : baseline_items()) {
    bool overridden = false;
    for (const std::vector<reg_item>* list : {&s.before, &s.after}) {
      for (const reg_item& item : *list) {
        overridden = overridden || same_item(base, item) ||
                     (base.what == reg_item::kind::key && path_within(item.path, base.path));
      }
    }
    if (!overridden) model.push_back(base);
  }
  for (const std::vector<reg_item>* list : {&s.before, &s.after}) {
    for (const reg_item& item : *list) {
      if (item.what == reg_item::kind::key && !item.present) {
        std::vector<reg_item> kept;
        for (const reg_item& existing : model) {
          if (!path_within(existing.path, item.path)) kept.push_back(existing);
        }
        model = kept;
      }
      bool replaced = false;
      for (reg_item& existing : model) {
        if (same_item(existing, item)) {
          existing = item;
          replaced = true;
        }
      }
      if (!replaced) model.push_back(item);
    }
  }
  return model;
}

void check_registry(const scenario& s) {
  const std::vector<reg_item> model = expected_registry(s);
  for (const reg_item& item : model) expect(item, item.where);
  // Nothing else may appear in either bus parameters key, besides what the guest had there.
  for (const wchar_t* bus : {kCurrentBusKey, kLegacyBusKey}) {
    std::vector<std::wstring> names = guest_value_names(bus);
    for (const reg_item& item : model) {
      if (item.what == reg_item::kind::value && item.present &&
          _wcsicmp(item.path.c_str(), bus) == 0) {
        names.push_back(item.name);
      }
    }
    expect_only_values(bus, names, s.where);
  }
}

// Ends the kit as a kill would, for the tests of --restore, when the scenario is the one named.
void crash_if_asked(const std::string& name, const scenario& s, const char* after) {
  if (name.empty() || name != s.name) return;
  report("accept: ending abruptly after %s %s, as --crash-after-%s asks\n", after, s.name.c_str(),
         after);
  TerminateProcess(GetCurrentProcess(), 9);
}

// Runs the batch file with the system's command interpreter and waits for it (bounded).
bool run_guide_block(const std::wstring& file, DWORD* status) {
  wchar_t system[MAX_PATH];
  if (!GetSystemDirectoryW(system, MAX_PATH)) return false;
  const std::wstring command = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c \"" + file + L"\"";
  PROCESS_INFORMATION process = {};
  DWORD error = 0;
  if (!start_in_kit_job(std::wstring(), command, 0, nullptr, &process, &error)) {
    SetLastError(error);
    return false;
  }
  const bool ended = WaitForSingleObject(process.hProcess, step_timeout_ms()) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  GetExitCodeProcess(process.hProcess, status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return ended;
}

bool run_scenario(const options& o, const scenario& s, const std::string& arch) {
  begin_scenario(arch + " " + s.name);
  if (!enter_registry_changes()) return end_scenario();
  reset_to_baseline();
  bool prepared = true;
  for (const reg_item& item : s.before) prepared = apply(item) && prepared;
  leave_registry_changes();
  crash_if_asked(o.crash_after_preparing, s, "preparing");

  if (!s.guide_block.empty()) {
    // Its exit status is the last line's: a block whose last line is skipped where its key is
    // absent ends in 1 and is still right. The registry and the dialog afterwards judge it.
    DWORD status = 1;
    const bool ran = run_guide_block(o.guide_block_file, &status);
    ok_at(s.where, ran, "the guide's block %s: did not start or did not end (error %lu)",
          s.guide_block.c_str(), GetLastError());
  }

  variant shown = s.shown;
  if (shown == variant::from_processor) shown = processor_variant(processor_signatures());
  const long long stderr_offset = o.stderr_file.empty() ? 0 : file_size(o.stderr_file);
  std::vector<environment_variable> environment = s.environment;
  if (o.under_wine) environment.push_back({L"WINEDEBUG", kProgramDebugChannels});

  planted_folder planted;
  std::wstring executable = program_path(o, s.program);
  if (!s.planted.empty()) {
    const bool planted_ok = plant(executable, o.kit + L"\\planted", s.planted,
                                  planted_folder_name(arch), o.wine, &planted);
    ok_at(s.where, planted_ok, "planting beside a copy of %s: expected it done, got a failed copy",
          narrow(executable).c_str());
    prepared = planted_ok && prepared;
    executable = planted.program;
  }
  program_process program;
  DWORD error = 0;
  const bool started = prepared && program.start(executable, environment, &error);
  ok_at(s.where, started, "start %s: expected it to start, got error %lu",
        narrow(executable).c_str(), error);
  if (!started) return end_scenario();
  running_program = program.handle();

  run_state run{s, executable, program, nullptr, nullptr, {}, !o.under_wine, {}};
  bool going = true;
  if (shown != variant::none) {
    const DWORD start = GetTickCount();
    std::vector<HWND> dialogs;
    while ((dialogs = find_dialogs(program.id(), kSettingsCaption)).empty() && program.running() &&
           GetTickCount() - start < window_timeout_ms()) {
      Sleep(10);
    }
    ok_at(s.where, dialogs.size() == 1, "settings dialog (%s variant): expected one, got %u%s",
          variant_name(shown), static_cast<unsigned>(dialogs.size()),
          program.running() ? "" : " and the program ended");
    if (dialogs.empty()) {
      going = false;
      for (HWND box : message_boxes(run)) {
        ok_at(s.where, false, "message: expected none, got %s",
              quoted(window_text(GetDlgItem(box, 0xFFFF))).c_str());
      }
    } else {
      run.dialog = dialogs.front();
      run.marker = GetDlgItem(run.dialog, IDC_SEND_WINDOW);
      going = settled(run, s.where);
      check_against_template(s.where, run.dialog, executable, template_of(shown));
      check_hidden_owner(s.where, run.dialog, L"vivediz_app_class", L"orvane Windows Application");
      HWND focus = focused_window(program.thread_id());
      ok_at(s.where, focus != nullptr && IsChild(run.dialog, focus),
            "initial focus: expected a control of the settings dialog, got %p", focus);
    }
  }

  crash_if_asked(o.crash_after_starting, s, "starting");
  for (std::size_t i = 0; going && i < s.steps.size(); ++i) {
    const step& st = s.steps[i];
    going = run_step(run, st);
    const bool message_next = i + 1 < s.steps.size() && s.steps[i + 1].what == step::op::message;
    if (going && is_action(st) && !message_next) no_unexpected_message(run, st.where);
  }
  if (scenario_skipped()) {  // the rest cannot run here: the program is closed, nothing checked
    post_click(GetDlgItem(run.dialog, IDCANCEL));
    if (!program.wait_for_exit(exit_timeout_ms())) program.kill();
    running_program = nullptr;
    return end_scenario();
  }

  // The program must end by itself now; any message box on the way is one too many.
  const DWORD start = GetTickCount();
  while (going && program.running() && GetTickCount() - start < exit_timeout_ms()) {
    check_no_settings_dialog(run, s.where);
    answer_prompts(run);
    std::vector<HWND> boxes = message_boxes(run);
    for (HWND box : boxes) {
      ok_at(s.where, false, "message: expected none, got %s",
            quoted(window_text(GetDlgItem(box, 0xFFFF))).c_str());
      dismiss(box);
    }
    if (boxes.empty()) program.wait_for_exit(20);
  }
  if (program.running()) {
    ok_at(s.where, false, "program: expected it to end, got it still running %s; killed",
          going ? "10 s after the last step (hang)" : "after a failed step");
    program.kill();
  } else {
    ok_at(s.where, program.exit_code() == 0, "exit code: expected 0, got %lu", program.exit_code());
  }
  for (const std::wstring& library : loaded_libraries(planted)) {
    ok_at(s.where, false, "%s beside the program: expected it not to load, got it loaded",
          narrow(library).c_str());
  }

  running_program = nullptr;
  for (const reboot_prompt& prompt : run.prompts) {
    std::string buttons;
    for (const std::wstring& text : prompt.buttons) buttons += " " + quoted(text);
    report("info: reboot prompt: caption %s, buttons%s; %s\n", quoted(prompt.caption).c_str(),
           buttons.c_str(), prompt.answered ? "answered No" : "no No button that closed it");
    ok_at(s.where, prompt.answered, "reboot prompt %s: expected it answered No, got it still open",
          quoted(prompt.caption).c_str());
  }
  if (!o.under_wine) {
    const bool offered = !run.prompts.empty();
    ok_at(s.where, offered == s.reboot, "reboot prompt: expected %s, got %s",
          s.reboot ? "offered" : "not offered", offered ? "offered" : "not offered");
  } else if (o.stderr_file.empty()) {
    ok_at(s.where, false, "reboot prompt: cannot tell without --stderr");
  } else {
    const std::string output = read_file_from(o.stderr_file, stderr_offset);
    const bool offered = output.find(kRebootEvidence) != std::string::npos;
    ok_at(s.where, offered == s.reboot, "reboot prompt: expected %s, got %s",
          s.reboot ? "offered" : "not offered", offered ? "offered" : "not offered");
  }
  check_registry(s);
  return end_scenario();
}

// Screenshots.

// Starts the program in a prepared state, opens what the shot needs, writes the region to crop
// ("WxH+X+Y") to the ready file, waits for the done file, then closes everything again.
int take_screenshot(const options& o, const std::string& shot, const std::wstring& ready,
                    const std::wstring& done) {
  std::vector<environment_variable> environment;
  std::vector<reg_item> before = {dword_value(kCurrentBusKey, L"use_pv_drivers", 3),
                                  dword_value(kCurrentBusKey, L"orvane_flags", 5),
                                  dword_value(kCurrentBusKey, L"grant_frames", 10),
                                  dword_value(kCurrentBusKey, L"max_disks", 32),
                                  dword_value(kAfdKey, L"DefaultSendWindow", 1048576),
                                  dword_value(kAfdKey, L"DefaultReceiveWindow", 1048576),
                                  dword_value(kAfdKey, L"FastSendDatagramThreshold", 16384),
                                  dword_value(kTcpipKey, L"TcpWindowSize", 1048576),
                                  dword_value(kTcpipKey, L"Tcp1323Opts", 1)};
  if (shot == "kvm") {
    environment.push_back({L"VIVEDIZ_TEST_CPUID_40000000", L"KVMKVMKVM"});
    before.push_back(dword_value(std::wstring(kPciEnumKey) +
                                     L"\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00\\3&13c0b0c5&0&28"
                                     L"\\Device Parameters\\Interrupt Management"
                                     L"\\MessageSignaledInterruptProperties",
                                 L"MSISupported", 1));
  } else if (shot == "basic") {
    environment.push_back({L"VIVEDIZ_TEST_CPUID_40000000", L"NoHypervisor"});
  } else {
    environment.push_back({L"VIVEDIZ_TEST_CPUID_40000000", L"XenVMMXenVMM"});
  }
  reset_to_baseline();
  for (const reg_item& item : before) apply(item);
  begin_scenario("screenshot " + shot);

  program_process program;
  DWORD error = 0;
  if (!program.start(program_path(o, build::test), environment, &error)) return 1;
  std::vector<HWND> dialogs;
  for (int i = 0; i < 1500 && (dialogs = find_dialogs(program.id(), kSettingsCaption)).empty();
       ++i) {
    Sleep(10);
  }
  if (dialogs.empty()) return 1;
  HWND dialog = dialogs.front();
  SetWindowPos(dialog, nullptr, 12, 12, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  HWND subject = dialog;
  HWND help = nullptr;
  HWND box = nullptr;
  if (shot == "help") {
    post_click(GetDlgItem(dialog, IDC_HELP_BUTTON));
    for (int i = 0; i < 1000 && help == nullptr; ++i) {
      std::vector<HWND> found = find_dialogs(program.id(), kHelpCaption);
      if (!found.empty()) help = found.front();
      Sleep(10);
    }
    if (help == nullptr) return 1;
    SetWindowPos(help, nullptr, 12, 12, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    subject = help;
  } else if (shot == "message") {
    HWND edit = GetDlgItem(dialog, IDC_GRANT_FRAMES);
    focus_control(dialog, edit);
    set_window_text(edit, L"3");
    focus_next(dialog);
    for (int i = 0; i < 1000 && box == nullptr; ++i) {
      std::vector<HWND> found = find_dialogs(program.id(), kMessageCaption);
      if (!found.empty()) box = found.front();
      Sleep(10);
    }
    if (box == nullptr) return 1;
  }
  Sleep(800);  // let Wine's desktop paint
  RECT area;
  GetWindowRect(subject, &area);
  if (box != nullptr) {
    RECT box_area;
    GetWindowRect(box, &box_area);
    UnionRect(&area, &area, &box_area);
  }
  FILE* signal = _wfopen(ready.c_str(), L"w");
  if (signal == nullptr) return 1;
  std::fprintf(signal, "%ldx%ld+%ld+%ld\n", area.right - area.left + 24,
               area.bottom - area.top + 24, area.left > 12 ? area.left - 12 : 0,
               area.top > 12 ? area.top - 12 : 0);
  std::fclose(signal);
  for (int i = 0; i < 3000 && GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(10);
  }
  if (box != nullptr) dismiss(box);
  if (help != nullptr) {
    post_click(GetDlgItem(help, IDOK));
    wait_until_gone(help, step_timeout_ms());
  }
  post_click(GetDlgItem(dialog, IDCANCEL));
  if (!program.wait_for_exit(exit_timeout_ms())) program.kill();
  return 0;
}

// The folder of this program: the kit's programs lie beside it.
std::wstring own_folder() {
  wchar_t path[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring file(path, length < MAX_PATH ? length : 0);
  return file.substr(0, file.find_last_of(L'\\'));
}

std::string registry_text(const std::wstring& path, const wchar_t* name) {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (!read_value(HKEY_LOCAL_MACHINE, path, name, KEY_WOW64_64KEY, &type, &data) ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return "(none)";
  }
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
  text = text.substr(0, text.find(L'\0'));  // registry strings need not be terminated
  return quoted(text);
}

void print_header(const options& o, bool elevated, const std::string& how,
                  const std::wstring& restore_file) {
  report("accept: vivediz acceptance kit %s (commit %s), %s kit\n", kit_version(), kit_commit(),
         kit_architecture());
  for (const std::wstring& file : {program_path(o, build::shipped), program_path(o, build::test),
                                   o.kit + L"\\planted\\uxtheme.dll"}) {
    const std::string sum = sha256_of_file(file);
    report("accept: sha256 %s  %s\n", sum.empty() ? "(unreadable)" : sum.c_str(),
           narrow(file).c_str());
  }
  report("accept: Windows %s (RtlGetVersion)\n", true_windows_version().c_str());
  report("accept: product name %s, edition %s\n",
         registry_text(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"ProductName").c_str(),
         registry_text(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"EditionID").c_str());
  report("accept: architecture %s, kit %s\n", system_architecture().c_str(), kit_architecture());
  report("accept: elevated %s (%s)\n", elevated ? "yes" : "no", how.c_str());
  const std::string wine = wine_version();
  report("accept: under Wine %s%s\n", wine.empty() ? "no" : ("yes, " + wine).c_str(),
         o.under_wine && !o.wine ? ", run as on Windows (--as-windows)" : "");
  report("accept: restore file %s\n", narrow(restore_file).c_str());
}

// What the kit would change, said before anything changes when --disposable is missing.
void explain() {
  std::printf(
      "accept: this kit changes registry values that drivers and the network stack read: the PV\n"
      "  driver service keys (current and legacy generation), the five TCP values under AFD and\n"
      "  Tcpip, the product name and release id, the processor identifier, the board maker and\n"
      "  the MSI value of virtio serial devices, and the configuration flags of XEN devices. It\n"
      "  saves them first to accept-restore.txt beside itself, marks the guest under\n"
      "  HKLM\\SOFTWARE\\vivediz\\Rollback, copies the program to the temporary folder for one\n"
      "  scenario, and puts everything back at the end, after a failed scenario and on Ctrl+C;\n"
      "  accept.exe --restore FILE puts them back after a crash. Run it only in a disposable\n"
      "  guest: a snapshot or a throw-away clone. Nothing was changed. To run it there, from an\n"
      "  elevated command prompt: accept.exe --disposable\n");
}

const char16_t kOwner[] = u"accept";
const rollback::record* handler_state = nullptr;
std::wstring handler_restore_file;

// Restores through the engine (the file and the guest's mark go once everything is back and on
// disk) and reports what could not be restored; true when everything is back.
bool restore_everything(const rollback::record& state, const std::wstring& file) {
  const rollback::outcome done = rollback::restore(state, utf16(file));
  for (const std::string& line : done.notes) report("info: restore: %s\n", line.c_str());
  for (const std::string& line : done.failures) report("FAIL restore: %s\n", line.c_str());
  if (!done.whole()) report("accept: the restore file is kept: %s\n", narrow(file).c_str());
  return done.whole();
}

BOOL WINAPI on_console_event(DWORD) {
  EnterCriticalSection(&registry_lock);
  stopping = 1;
  if (running_program != nullptr) TerminateProcess(running_program, 0xDEAD);
  report("accept: interrupted; restoring\n");
  const bool clean = restore_everything(*handler_state, handler_restore_file);
  std::fflush(nullptr);
  ExitProcess(clean ? 3 : 4);
  return TRUE;
}

int restore_from(const std::wstring& file) {
  rollback::record state;
  std::string refusal;
  if (!rollback::load(utf16(file), kOwner, &state, &refusal)) {
    // A record that is gone for good cannot be put back; its mark would refuse every new run.
    std::string forgotten;
    const bool gone = GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES &&
                      rollback::forget_save(kOwner, utf16(file), &forgotten);
    std::printf("FAIL restore: %s\n", gone ? forgotten.c_str() : refusal.c_str());
    return 1;
  }
  // A program left open could write again after the restore: nothing is restored while one is.
  const std::vector<std::string> left = end_what_a_killed_run_left(own_folder());
  for (const std::string& line : left)
    std::printf("FAIL restore: %s is still there\n", line.c_str());
  if (!left.empty()) {
    std::printf("accept: nothing was restored; end or remove it, then run --restore again\n");
    return 1;
  }
  const bool clean = restore_everything(state, file);
  std::printf("accept: %s\n",
              clean ? "restored; the restore file is removed" : "not everything could be restored");
  return clean ? 0 : 1;
}

}  // namespace
}  // namespace e2e

int wmain(int argc, wchar_t** argv) {
  using namespace e2e;
  options o;
  o.kit = own_folder();
  o.under_wine = !wine_version().empty();
  std::string screenshot;
  std::wstring ready, done, restore_file, report_path;
  bool disposable = false, as_windows = false, limited_token = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--stderr" && i + 1 < argc) {
      o.stderr_file = argv[++i];
    } else if (a == L"--only" && i + 1 < argc) {
      o.only = narrow(argv[++i]);
    } else if (a == L"--arch" && i + 1 < argc) {
      if (narrow(argv[++i]) != kit_architecture()) {
        std::fprintf(stderr, "accept: this is the %s kit; the other one lies in ..\\%s\n",
                     kit_architecture(), narrow(argv[i]).c_str());
        return 2;
      }
    } else if (a == L"--skip-arch" && i + 1 < argc) {
      o.skip_arch = narrow(argv[++i]);
    } else if (a == L"--skip-reason" && i + 1 < argc) {
      o.skip_arch_reason = narrow(argv[++i]);
    } else if (a == L"--shipped" && i + 1 < argc) {
      o.shipped = argv[++i];
    } else if (a == L"--time-scale" && i + 1 < argc) {
      set_time_scale(static_cast<DWORD>(_wtoi(argv[++i])));
    } else if (a == L"--report" && i + 1 < argc) {
      report_path = argv[++i];
    } else if (a == L"--restore" && i + 1 < argc) {
      restore_file = argv[++i];
    } else if (a == L"--guide-block" && i + 2 < argc) {
      o.guide_block = narrow(argv[++i]);
      o.guide_block_file = argv[++i];
    } else if (a == L"--crash-after-preparing" && i + 1 < argc) {
      o.crash_after_preparing = narrow(argv[++i]);
    } else if (a == L"--crash-after-starting" && i + 1 < argc) {
      o.crash_after_starting = narrow(argv[++i]);
    } else if (a == L"--disposable") {
      disposable = true;
    } else if (a == L"--as-windows") {
      as_windows = true;
    } else if (a == L"--limited-token-for-test") {
      limited_token = true;  // Wine's token is always elevated: the refusal's test seam
    } else if (a == L"--screenshot" && i + 3 < argc) {
      screenshot = narrow(argv[++i]);
      ready = argv[++i];
      done = argv[++i];
    } else {
      std::fprintf(stderr, "accept: unknown argument %s\n", narrow(a).c_str());
      return 2;
    }
  }
  o.wine = o.under_wine && !as_windows;

  std::string how;
  const bool elevated = token_elevated(&how) && !limited_token;
  if (!elevated) {
    std::printf("accept: refused: not elevated (%s%s); run it from an elevated command prompt\n",
                how.c_str(), limited_token ? ", as --limited-token-for-test asks" : "");
    return 2;
  }
  if (!restore_file.empty()) return restore_from(restore_file);
  if (!disposable) {
    explain();
    return 2;
  }
  if (!screenshot.empty() && !o.wine) {
    std::fprintf(stderr, "accept: screenshots are taken under Wine only\n");
    return 2;
  }

  // A run that did not end, from this copy of the kit or any other on this guest, left its
  // restore file and its mark: a new save would take the changed state for the original. The
  // refusal leaves that run's report as it was: it is what the administrator sends back.
  const std::wstring saved_file = o.kit + L"\\accept-restore.txt";
  std::vector<rollback::unfinished> unfinished;
  std::string refusal;
  if (!rollback::unfinished_saves(kOwner, &unfinished, &refusal)) {
    std::printf("FAIL accept: %s; nothing was changed\n", refusal.c_str());
    return 1;
  }
  if (!unfinished.empty() || GetFileAttributesW(saved_file.c_str()) != INVALID_FILE_ATTRIBUTES) {
    const std::wstring left = unfinished.empty() ? saved_file : wide(unfinished.front().file);
    std::printf(
        "FAIL accept: %s is left from a run that did not end: run accept.exe --restore %s "
        "first; nothing was changed\n",
        narrow(left).c_str(), narrow(left).c_str());
    return 1;
  }
  if (report_path.empty()) report_path = o.kit + L"\\accept-report.txt";
  FILE* report_file = _wfopen(report_path.c_str(), L"w");
  if (report_file == nullptr) {
    std::printf("accept: cannot write the report %s\n", narrow(report_path).c_str());
    return 1;
  }
  set_report_file(report_file);
  if (screenshot.empty()) print_header(o, elevated, how, saved_file);
  // Nothing changes before the restore file is whole on disk.
  rollback::record state;
  if (!rollback::save(what_the_kit_touches(o.wine), kOwner, utf16(saved_file), &state, &refusal)) {
    report("FAIL accept: %s\n", refusal.c_str());
    return 1;
  }
  InitializeCriticalSection(&registry_lock);
  handler_state = &state;
  handler_restore_file = saved_file;
  SetConsoleCtrlHandler(on_console_event, TRUE);
  use_saved_state(&state, !o.wine);
  if (o.wine) leave_program_windows_unmanaged();

  int result = 0;
  if (!screenshot.empty()) {
    result = take_screenshot(o, screenshot, ready, done);
  } else {
    int passed = 0, failed = 0, skipped = 0;
    const std::string arch = o.skip_arch.empty() ? kit_architecture() : o.skip_arch;
    for (const scenario& s : all_scenarios()) {
      if (arch == "x86" && !s.also_x86) continue;
      if (!o.only.empty() && s.name.find(o.only) == std::string::npos) continue;
      if (s.guide_block != o.guide_block) continue;  // run by the guide's test, with its block
      const std::string reason = o.skip_arch.empty() ? skip_reason(o, s)
                                 : !o.skip_arch_reason.empty()
                                     ? o.skip_arch_reason
                                     : "asked not to run the " + o.skip_arch + " programs here";
      if (!reason.empty()) {
        skip_scenario(arch + " " + s.name, reason);
        ++skipped;
      } else if (run_scenario(o, s, arch)) {
        ++(scenario_skipped() ? skipped : passed);
      } else {
        ++failed;
        // The next scenario starts from the saved state in a guest anyway; under Wine too.
        if (enter_registry_changes()) {
          rollback::put_back(state);
          leave_registry_changes();
        }
      }
    }
    if (!enter_registry_changes()) return 3;
    const bool restored = restore_everything(state, saved_file);
    leave_registry_changes();
    // A run that ran nothing showed nothing, unless it was asked to skip every scenario.
    const bool ran_nothing = passed == 0 && failed == 0 && o.skip_arch.empty();
    if (ran_nothing) {
      report("FAIL accept: no scenario ran%s\n", skipped > 0       ? ": every one was skipped here"
                                                 : !o.only.empty() ? ": none matches --only"
                                                                   : "");
    }
    report("%d passed, %d failed, %d skipped\n", passed,
           failed + (restored ? 0 : 1) + (ran_nothing ? 1 : 0), skipped);
    result = failed == 0 && restored && !ran_nothing ? 0 : 1;
    SetConsoleCtrlHandler(on_console_event, FALSE);
    std::fflush(stdout);
    std::fclose(report_file);
    return result;
  }
  restore_everything(state, saved_file);
  std::fflush(stdout);
  return result;
}
