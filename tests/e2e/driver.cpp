// End-to-end test driver: runs every scenario against the real program under Wine and reports.
//
// Usage: e2e_driver.exe [--stderr FILE] [--only TEXT] [--arch x64|x86] [--skip-arch x86]
//                       [--time-scale N] [--shipped FOLDER]
//        e2e_driver.exe --screenshot xen|kvm|basic|help|message READY-FILE DONE-FILE
// FILE is the file that receives this process's Unix standard error, which the program inherits:
// Wine's stub SetupPromptReboot writes "fixme:setupapi:SetupPromptReboot" there, the evidence that
// the reboot prompt was offered. Prints "PASS name" or "FAIL name" per scenario and finally
// "N passed, N failed" (", N skipped" when --skip-arch left some out, each listed as "SKIP name");
// exits 1 when any scenario failed. --time-scale multiplies every wait. --shipped runs the
// scenarios of the shipped program against FOLDER\x64 and FOLDER\x86 (a signed release, say)
// instead of the repository's dist folder.
#include <cpuid.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "resource.h"
#include "tests/e2e/checks.h"
#include "tests/e2e/planting.h"
#include "tests/e2e/registry_fixture.h"
#include "tests/e2e/remote_ui.h"
#include "tests/e2e/scenarios.h"
#include "tests/e2e/template_check.h"

namespace e2e {
namespace {

// Every wait scales with --time-scale: under emulation a program start takes about a minute.
DWORD window_timeout_ms() { return scaled_ms(15000); }  // a program start takes about a second
DWORD step_timeout_ms() { return scaled_ms(10000); }
DWORD exit_timeout_ms() { return scaled_ms(10000); }
const char kRebootEvidence[] = "fixme:setupapi:SetupPromptReboot";
const wchar_t kProgramDebugChannels[] = L"fixme-all,fixme+setupapi";

struct options {
  std::wstring root;         // the repository, as Wine sees it
  std::wstring stderr_file;  // this process's Unix standard error
  std::string only;
  std::string arch;
  std::string skip_arch;  // counted and listed, not run: this host cannot run them
  std::wstring shipped;   // holds x64\ and x86\vivediz.exe as shipped
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

// The signatures of leaves 0x40000000 and 0x40000100 (12 bytes each) that the programs of `arch`
// see. The x64 ones run on this processor as the driver does; the x86 ones may run under
// emulation, whose processor is another, so a probe of that architecture reports theirs.
bool processor_signatures(const options& o, const std::string& arch, std::string* signatures) {
  if (arch == "x64") {
    *signatures = signature(0x40000000) + signature(0x40000100);
    return true;
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return false;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  std::wstring command = L"\"" + o.root + L"\\build\\win-" +
                         std::wstring(arch.begin(), arch.end()) + L"\\cpuid_probe.exe\"";
  const bool started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process) != FALSE;
  CloseHandle(write_end);
  std::string hex;
  if (started) {
    char buffer[128];
    DWORD got = 0;
    while (hex.size() < 4096 && ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0)
      hex.append(buffer, got);
    WaitForSingleObject(process.hProcess, scaled_ms(10000));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(read_end);
  if (hex.size() < 48) return false;
  signatures->clear();
  for (std::size_t i = 0; i < 48; i += 2) {
    signatures->push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return true;
}

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
};

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
      return true;
    default:
      return false;
  }
}

std::wstring program_path(const options& o, const std::string& arch, build program) {
  const std::wstring a(arch.begin(), arch.end());
  return (program == build::shipped ? o.shipped + L"\\" + a : o.root + L"\\build\\e2e\\" + a) +
         L"\\vivediz.exe";
}

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
  // Nothing else may appear in either bus parameters key.
  for (const wchar_t* bus : {kCurrentBusKey, kLegacyBusKey}) {
    std::vector<std::wstring> names;
    for (const reg_item& item : model) {
      if (item.what == reg_item::kind::value && item.present &&
          _wcsicmp(item.path.c_str(), bus) == 0) {
        names.push_back(item.name);
      }
    }
    expect_only_values(bus, names, s.where);
  }
}

bool run_scenario(const options& o, const scenario& s, const std::string& arch) {
  begin_scenario(arch + " " + s.name);
  reset_to_baseline();
  bool prepared = true;
  for (const reg_item& item : s.before) prepared = apply(item) && prepared;

  variant shown = s.shown;
  if (shown == variant::from_processor) {
    std::string signatures;
    const bool known = processor_signatures(o, arch, &signatures);
    ok_at(s.where, known, "processor of the %s programs: expected the probe's signatures, got none",
          arch.c_str());
    if (!known) return end_scenario();
    shown = processor_variant(signatures);
  }
  const long long stderr_offset = o.stderr_file.empty() ? 0 : file_size(o.stderr_file);
  std::vector<environment_variable> environment = s.environment;
  environment.push_back({L"WINEDEBUG", kProgramDebugChannels});

  planted_folder planted;
  std::wstring executable = program_path(o, arch, s.program);
  if (!s.planted.empty()) {
    const std::wstring a(arch.begin(), arch.end());
    const bool planted_ok = plant(executable, o.root + L"\\build\\e2e\\" + a + L"\\planted",
                                  s.planted, L"vivediz-planted-" + a, &planted);
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

  run_state run{s, executable, program, nullptr, nullptr, {}};
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

  for (std::size_t i = 0; going && i < s.steps.size(); ++i) {
    const step& st = s.steps[i];
    going = run_step(run, st);
    const bool message_next = i + 1 < s.steps.size() && s.steps[i + 1].what == step::op::message;
    if (going && is_action(st) && !message_next) no_unexpected_message(run, st.where);
  }

  // The program must end by itself now; any message box on the way is one too many.
  const DWORD start = GetTickCount();
  while (going && program.running() && GetTickCount() - start < exit_timeout_ms()) {
    check_no_settings_dialog(run, s.where);
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

  if (o.stderr_file.empty()) {
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
  if (!program.start(program_path(o, "x64", build::test), environment, &error)) return 1;
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

// The repository: two folders above this program (build\win-x64\e2e_driver.exe).
std::wstring repository_root() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring root = path;
  for (int i = 0; i < 3; ++i) root = root.substr(0, root.find_last_of(L'\\'));
  return root;
}

}  // namespace
}  // namespace e2e

int wmain(int argc, wchar_t** argv) {
  using namespace e2e;
  options o;
  o.root = repository_root();
  o.shipped = o.root + L"\\dist";
  std::string screenshot;
  std::wstring ready, done;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--stderr" && i + 1 < argc) {
      o.stderr_file = argv[++i];
    } else if (a == L"--only" && i + 1 < argc) {
      o.only = narrow(argv[++i]);
    } else if (a == L"--arch" && i + 1 < argc) {
      o.arch = narrow(argv[++i]);
    } else if (a == L"--skip-arch" && i + 1 < argc) {
      o.skip_arch = narrow(argv[++i]);
    } else if (a == L"--shipped" && i + 1 < argc) {
      o.shipped = argv[++i];
    } else if (a == L"--time-scale" && i + 1 < argc) {
      set_time_scale(static_cast<DWORD>(_wtoi(argv[++i])));
    } else if (a == L"--screenshot" && i + 3 < argc) {
      screenshot = narrow(argv[++i]);
      ready = argv[++i];
      done = argv[++i];
    } else {
      std::fprintf(stderr, "e2e_driver: unknown argument %s\n", narrow(a).c_str());
      return 2;
    }
  }

  saved_machine_state saved;
  saved.save();
  leave_program_windows_unmanaged();
  int result = 0;
  if (!screenshot.empty()) {
    result = take_screenshot(o, screenshot, ready, done);
  } else {
    int passed = 0, failed = 0, skipped = 0;
    for (const char* arch : {"x64", "x86"}) {
      if (!o.arch.empty() && o.arch != arch) continue;
      for (const scenario& s : all_scenarios()) {
        if (std::string(arch) == "x86" && !s.also_x86) continue;
        if (!o.only.empty() && s.name.find(o.only) == std::string::npos) continue;
        if (o.skip_arch == arch) {
          std::printf("SKIP %s %s\n", arch, s.name.c_str());
          ++skipped;
        } else if (run_scenario(o, s, arch)) {
          ++passed;
        } else {
          ++failed;
        }
      }
    }
    if (skipped > 0) {
      std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    } else {
      std::printf("%d passed, %d failed\n", passed, failed);
    }
    result = failed == 0 ? 0 : 1;
  }
  saved.restore();
  std::fflush(stdout);
  return result;
}
