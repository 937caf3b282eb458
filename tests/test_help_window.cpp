// Whole-run tests of the help window: its text, its owner, closing it, and ending the program.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/app.h"
#include "core/app_state.h"
#include "platform/platform.h"
#include "resource.h"
#include "resources/help_texts.h"
#include "tests/standin/standin.h"
#include "ui/help_window.h"

namespace {

using platform::u32;
using platform::window_handle;

const std::u16string kBusKey = u"SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device";
const char kHelpTemplate[] = "TARN_VIVEDIZ_DLG_TEMPLATE";
const std::u16string kHelpClass = u"tarn_vivediz_app_class";
constexpr u32 kWmPaint = 0x000F;
constexpr u32 kVkTab = 0x09;
constexpr u32 kVkReturn = 0x0D;

enum class variant { xen, kvm, basic };

void install(variant kind) {
  standin::set_string(u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", u"Identifier",
                      u"AMD64 Family 23 Model 49 Stepping 0, AuthenticAMD");
  standin::set_string(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"ProductName",
                      u"Windows 10 Pro");
  standin::set_string(u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"ReleaseId", u"2004");
  standin::create_key(kBusKey);
  standin::create_key(u"SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters");
  standin::create_key(u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters");
  if (kind == variant::xen) standin::set_cpuid_signature(0x40000000, "XenVMMXenVMM");
  if (kind == variant::kvm) {
    standin::set_cpuid_signature(0x40000000, "KVMKVMKVM");
    standin::set_dword(
        u"SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00\\"
        u"3&267a616a&0&30\\Device Parameters\\Interrupt Management\\"
        u"MessageSignaledInterruptProperties",
        u"MSISupported", 0);
  }
}

std::vector<std::string> registry_changes() {
  std::vector<std::string> out;
  for (const std::string& e : standin::timeline()) {
    if (e.rfind("set ", 0) == 0 || e.rfind("delete_value ", 0) == 0) out.push_back(e);
  }
  return out;
}

std::string bus_written(const char* name, const char* hex_value) {
  std::string key;
  for (char16_t c : kBusKey) key += static_cast<char>(c);
  return "set " + key + "\\" + name + "=" + hex_value;
}

std::vector<std::u16string> paragraphs(const std::u16string& text) {
  const std::u16string separator = u"\r\n\r\n";
  std::vector<std::u16string> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    out.push_back(text.substr(start, at == std::u16string::npos ? at : at - start));
    if (at == std::u16string::npos) return out;
    start = at + separator.size();
  }
}

// ---- A run of the program with scripts for the settings dialog and for each help dialog.

struct session {
  int exit_code = -1;
  window_handle settings = nullptr;
  std::vector<window_handle> helps;          // in the order they opened
  std::vector<window_handle> focus_at_open;  // of each help dialog, once it is up
};

using settings_actions = std::function<void(session&, window_handle settings)>;
// nth counts the help dialogs from 0 in the order they open.
using help_actions = std::function<void(session&, window_handle help, std::size_t nth)>;

void close_with_ok(session&, window_handle help, std::size_t) {
  EXPECT_NE(standin::command(help, platform::id_ok), 0);
  EXPECT_TRUE(standin::dialog(help).ended) << "OK did not close help";
}

session run_program(variant kind, const settings_actions& on_settings,
                    const help_actions& on_help = close_with_ok) {
  install(kind);
  session s;
  standin::set_dialog_script([&](window_handle dialog, const std::string& name) {
    if (name == kHelpTemplate) {
      const std::size_t nth = s.helps.size();
      s.helps.push_back(dialog);
      s.focus_at_open.push_back(standin::focused_window());
      if (on_help) on_help(s, dialog, nth);
      return;
    }
    s.settings = dialog;
    if (on_settings) on_settings(s, dialog);
  });
  s.exit_code = app::run_application(platform::own_module());
  return s;
}

void expect_clean_end(const session& s) {
  EXPECT_EQ(s.exit_code, 0);
  EXPECT_FALSE(standin::dialog_hung());
  EXPECT_FALSE(standin::loop_blocked()) << "a message loop waited for a quit request for ever";
  ASSERT_NE(s.settings, nullptr);
  EXPECT_TRUE(standin::dialog(s.settings).ended);
}

void press_help(window_handle settings) {
  EXPECT_TRUE(standin::click(settings, IDC_HELP_BUTTON)) << "the Help button cannot be pressed";
}

std::size_t help_owner_windows() {
  std::size_t n = 0;
  for (const standin::window_state& w : standin::plain_windows()) {
    if (w.class_name == kHelpClass) ++n;
  }
  return n;
}

class HelpWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { fresh(); }
  static void fresh() {
    standin::reset();
    app::reset_state();
  }
};

// ---- The text for each variant, the owner window, the focus.

TEST_F(HelpWindowTest, ShowsTheTextOfTheVariantInItsOwnOwnedDialog) {
  struct text_case {
    const char* name;
    variant kind;
    u32 help_kind;
    std::size_t paragraphs;
    std::u16string begins;
  };
  const std::vector<text_case> cases = {
      {"xen", variant::xen, resources::help_xen, 16, u"Disk - can be All, xvd<x>, and None."},
      {"kvm", variant::kvm, resources::help_serial_msi, 7,
       u"Serial MSI - If checked, MSI interrupts will be used."},
      {"basic", variant::basic, resources::help_tcp, 6,
       u"TCP Options: Enable - When checked, the options are turned on"},
  };
  for (const text_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    window_handle focus_after_help = nullptr;
    const session s = run_program(c.kind, [&](session&, window_handle d) {
      press_help(d);
      focus_after_help = standin::focused_window();
      standin::command(d, platform::id_cancel);
    });
    expect_clean_end(s);
    ASSERT_EQ(s.helps.size(), 1u);
    const window_handle help = s.helps[0];
    const standin::dialog_state& state = standin::dialog(help);
    EXPECT_EQ(state.caption, u"Vivediz Help");

    const standin::control_state* text = standin::control(help, IDC_HELP_TEXT);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text, resources::help_text(c.help_kind));
    const std::vector<std::u16string> parts = paragraphs(text->text);
    EXPECT_EQ(parts.size(), c.paragraphs);
    EXPECT_EQ(parts.front().compare(0, c.begins.size(), c.begins), 0) << "begins differently";

    // OK has the focus while help is up; the settings dialog gets it back afterwards.
    EXPECT_EQ(s.focus_at_open[0], standin::control_window(help, platform::id_ok));
    EXPECT_TRUE(standin::control(help, platform::id_ok)->enabled);
    EXPECT_EQ(focus_after_help, s.settings);
    EXPECT_EQ(state.result, 1);

    // Owned by a hidden window of its own, not by the settings dialog or start-up's window.
    EXPECT_NE(state.owner, nullptr);
    EXPECT_NE(state.owner, s.settings);
    EXPECT_NE(state.owner, standin::dialog(s.settings).owner);
    EXPECT_EQ(platform::window_module(state.owner), platform::own_module());
    ASSERT_EQ(standin::plain_windows().size(), 2u);
    const standin::window_state& owner = standin::plain_windows()[1];
    EXPECT_EQ(owner.class_name, kHelpClass);
    EXPECT_EQ(owner.title, u"TARN ORVANE Windows Application");
    EXPECT_EQ(owner.ex_style, 0x110u);
    EXPECT_EQ(owner.style, 0x02CF0000u);
    EXPECT_EQ(owner.module, platform::own_module());
    EXPECT_EQ(standin::registered_classes(),
              (std::vector<std::u16string>{u"vivediz_app_class", kHelpClass}));
  }
}

TEST_F(HelpWindowTest, OnlyOkClosesHelp) {
  const session s = run_program(
      variant::xen,
      [](session&, window_handle d) {
        press_help(d);
        standin::command(d, platform::id_cancel);
      },
      [](session& run, window_handle help, std::size_t nth) {
        EXPECT_NE(standin::command(help, platform::id_cancel), 0) << "Escape is not taken";
        EXPECT_FALSE(standin::dialog(help).ended) << "Escape closed help";
        EXPECT_NE(standin::command(help, IDC_HELP_TEXT, platform::en_killfocus), 0);
        EXPECT_FALSE(standin::dialog(help).ended);
        EXPECT_EQ(ui::help_dialog_procedure(help, kWmPaint, 0, 0), 0);
        close_with_ok(run, help, nth);
      });
  expect_clean_end(s);
  EXPECT_EQ(s.helps.size(), 1u);
}

// ---- Help again and again, one after another and one over another.

TEST_F(HelpWindowTest, OpensEveryTimeItIsAskedFor) {
  struct again_case {
    const char* name;
    settings_actions on_settings;
    help_actions on_help;
    std::size_t helps;
  };
  const std::vector<again_case> cases = {
      {"twice, one after the other",
       [](session&, window_handle d) {
         press_help(d);
         press_help(d);
         EXPECT_TRUE(standin::click(d, platform::id_ok));
       },
       close_with_ok, 2},
      {"a second one while the first is open",
       [](session&, window_handle d) {
         press_help(d);
         EXPECT_TRUE(standin::click(d, platform::id_ok));
       },
       [](session& run, window_handle help, std::size_t nth) {
         if (nth == 0) press_help(run.settings);
         close_with_ok(run, help, nth);
       },
       2},
      {"three deep, then one more",
       [](session&, window_handle d) {
         press_help(d);
         press_help(d);
         EXPECT_TRUE(standin::click(d, platform::id_ok));
       },
       [](session& run, window_handle help, std::size_t nth) {
         if (nth < 2) press_help(run.settings);
         close_with_ok(run, help, nth);
       },
       4},
  };
  for (const again_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const session s = run_program(variant::xen, c.on_settings, c.on_help);
    expect_clean_end(s);
    ASSERT_EQ(s.helps.size(), c.helps);
    for (std::size_t i = 0; i < s.helps.size(); ++i) {
      SCOPED_TRACE("help " + std::to_string(i));
      EXPECT_EQ(standin::control(s.helps[i], IDC_HELP_TEXT)->text,
                resources::help_text(resources::help_xen));
      EXPECT_EQ(standin::dialog(s.helps[i]).result, 1);
      for (std::size_t j = 0; j < i; ++j) {
        EXPECT_NE(standin::dialog(s.helps[i]).owner, standin::dialog(s.helps[j]).owner)
            << "help dialogs share an owner window";
      }
    }
    EXPECT_EQ(help_owner_windows(), c.helps);
    EXPECT_EQ(standin::registered_classes(),
              (std::vector<std::u16string>{u"vivediz_app_class", kHelpClass}));
    EXPECT_EQ(standin::dialog(s.settings).result, 1);
  }
}

// ---- The settings dialog while help is open.

TEST_F(HelpWindowTest, SettingsDialogStaysUsableWhileHelpIsOpen) {
  struct usable_case {
    const char* name;
    variant kind;
    std::function<void(window_handle settings)> while_help_open;
    std::vector<std::string> writes;  // after help closed and OK
    std::size_t messages;
  };
  const std::vector<usable_case> cases = {
      {"a flag box is checked",
       variant::xen,
       [](window_handle d) {
         EXPECT_TRUE(standin::click(d, IDC_INSTANCE_IDS));
         EXPECT_EQ(standin::control(d, IDC_INSTANCE_IDS)->check, platform::bst_checked);
       },
       {bus_written("orvane_flags", "0x5")},
       0},
      {"a number is typed and checked when it is left",
       variant::xen,
       [](window_handle d) {
         EXPECT_TRUE(standin::type_text(d, IDC_GRANT_FRAMES, u"3"));
         EXPECT_TRUE(standin::leave_edit(d, IDC_GRANT_FRAMES));
         EXPECT_EQ(standin::control(d, IDC_GRANT_FRAMES)->text, u"4");
       },
       {bus_written("grant_frames", "0x4")},
       1},
      {"a number is typed and Tab leaves it",
       variant::xen,
       [](window_handle d) {
         EXPECT_TRUE(standin::type_text(d, IDC_GRANT_FRAMES, u"3"));
         EXPECT_TRUE(standin::press_key(kVkTab));
         EXPECT_EQ(standin::control(d, IDC_GRANT_FRAMES)->text, u"4") << "Tab did nothing";
       },
       {bus_written("grant_frames", "0x4")},
       1},
      {"Default is pressed",
       variant::xen,
       [](window_handle d) {
         EXPECT_TRUE(standin::click(d, IDC_ONE_CONTROLLER));
         EXPECT_TRUE(standin::click(d, IDC_DEFAULTS));
         EXPECT_EQ(standin::control(d, IDC_ONE_CONTROLLER)->check, platform::bst_unchecked);
       },
       {},
       0},
      {"the TCP options are turned on",
       variant::basic,
       [](window_handle d) {
         EXPECT_TRUE(standin::click(d, IDC_TCP_ENABLE));
         EXPECT_TRUE(standin::control(d, IDC_SEND_WINDOW)->enabled);
       },
       {"set SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\DefaultSendWindow=0x100000",
        "set SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\DefaultReceiveWindow=0x100000",
        "set "
        "SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters\\FastSendDatagramThreshold=0x4000",
        "set SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\TcpWindowSize=0x100000",
        "set SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Tcp1323Opts=0x1"},
       0},
      {"Serial MSI is checked",
       variant::kvm,
       [](window_handle d) { EXPECT_TRUE(standin::click(d, IDC_SERIAL_MSI)); },
       {"set SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00\\"
        "3&267a616a&0&30\\Device Parameters\\Interrupt Management\\"
        "MessageSignaledInterruptProperties\\MSISupported=0x1"},
       0},
  };
  for (const usable_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const session s = run_program(
        c.kind,
        [](session&, window_handle d) {
          press_help(d);
          EXPECT_FALSE(standin::dialog(d).ended);
          EXPECT_NE(standin::command(d, platform::id_ok), 0);
        },
        [&](session& run, window_handle help, std::size_t nth) {
          c.while_help_open(run.settings);
          EXPECT_FALSE(standin::dialog(help).ended);
          close_with_ok(run, help, nth);
        });
    expect_clean_end(s);
    EXPECT_EQ(s.helps.size(), 1u);
    EXPECT_EQ(registry_changes(), c.writes);
    EXPECT_EQ(standin::reboot_prompts(), c.writes.empty() ? 0 : 1);
    EXPECT_EQ(standin::messages().size(), c.messages);
  }
}

// ---- The settings dialog ends while help is open: the program still ends.

TEST_F(HelpWindowTest, ProgramEndsWhenTheSettingsDialogEndsWhileHelpIsOpen) {
  struct ending_case {
    const char* name;
    std::size_t depth;  // help dialogs open when the settings dialog ends
    std::function<void(window_handle settings)> end;
    std::intptr_t result;
    std::vector<std::string> writes;
  };
  const std::vector<ending_case> cases = {
      {"OK (Enter) with a change",
       1,
       [](window_handle d) {
         EXPECT_TRUE(standin::click(d, IDC_INSTANCE_IDS));
         EXPECT_NE(standin::command(d, platform::id_ok), 0);
       },
       1,
       {bus_written("orvane_flags", "0x5")}},
      {"Enter pressed on a check box after a change",
       1,
       [](window_handle d) {
         EXPECT_TRUE(standin::click(d, IDC_INSTANCE_IDS));
         EXPECT_TRUE(standin::press_key(kVkReturn));
       },
       1,
       {bus_written("orvane_flags", "0x5")}},
      {"OK button clicked",
       1,
       [](window_handle d) { EXPECT_TRUE(standin::click(d, platform::id_ok)); },
       1,
       {}},
      {"Cancel (Escape) after a change",
       1,
       [](window_handle d) {
         EXPECT_TRUE(standin::click(d, IDC_INSTANCE_IDS));
         EXPECT_NE(standin::command(d, platform::id_cancel), 0);
       },
       0,
       {}},
      {"OK with two help dialogs open",
       2,
       [](window_handle d) { EXPECT_TRUE(standin::click(d, platform::id_ok)); },
       1,
       {}},
      {"Cancel with three help dialogs open",
       3,
       [](window_handle d) { EXPECT_TRUE(standin::click(d, platform::id_cancel)); },
       0,
       {}},
      {"OK with the most help dialogs open, after asking for one more",
       app::max_open_help_dialogs,
       [](window_handle d) {
         press_help(d);  // opens nothing
         EXPECT_TRUE(standin::click(d, platform::id_ok));
       },
       1,
       {}},
  };
  for (const ending_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const session s = run_program(
        variant::xen, [](session&, window_handle d) { press_help(d); },
        [&](session& run, window_handle, std::size_t nth) {
          if (nth + 1 < c.depth) {
            press_help(run.settings);
          } else {
            c.end(run.settings);
            EXPECT_TRUE(standin::dialog(run.settings).ended);
          }
        });
    expect_clean_end(s);
    EXPECT_EQ(s.helps.size(), c.depth);
    EXPECT_EQ(standin::dialog(s.settings).result, c.result);
    EXPECT_EQ(registry_changes(), c.writes);
    EXPECT_EQ(standin::reboot_prompts(), c.writes.empty() ? 0 : 1);
  }
}

TEST_F(HelpWindowTest, RefusedOkWhileHelpIsOpenLeavesBothOpen) {
  standin::set_dword(kBusKey, u"grant_frames", 64);
  const session s = run_program(
      variant::xen,
      [](session&, window_handle d) {
        press_help(d);
        EXPECT_FALSE(standin::dialog(d).ended);
        EXPECT_NE(standin::command(d, platform::id_ok), 0);
      },
      [](session& run, window_handle help, std::size_t nth) {
        EXPECT_EQ(standin::command(run.settings, platform::id_ok), 0);
        EXPECT_FALSE(standin::dialog(run.settings).ended);
        EXPECT_FALSE(standin::dialog(help).ended);
        EXPECT_EQ(standin::control(run.settings, IDC_GRANT_FRAMES)->text, u"32");
        close_with_ok(run, help, nth);
      });
  expect_clean_end(s);
  EXPECT_EQ(standin::messages().size(), 1u);
  EXPECT_EQ(registry_changes(), std::vector<std::string>{bus_written("grant_frames", "0x20")});
}

// ---- Help that cannot open.

TEST_F(HelpWindowTest, HelpThatCannotOpenLeavesTheProgramRunningAndEnding) {
  struct failure_case {
    const char* name;
    std::function<void()> arrange;
    std::size_t presses;
    int helps;  // that open; -1: either way
  };
  const std::vector<failure_case> cases = {
      {"the help dialog cannot be created once",
       [] {
         standin::fail(standin::op::dialog_create, platform::error_not_enough_memory,
                       u"TARN_VIVEDIZ_DLG_TEMPLATE");
       },
       2, 1},
      {"the help dialog can never be created",
       [] {
         standin::fail(standin::op::dialog_create, platform::error_not_enough_memory,
                       u"TARN_VIVEDIZ_DLG_TEMPLATE", 0, -1);
       },
       3, 0},
      // Without an owner window the help dialog may or may not appear; either way nothing hangs.
      {"the help owner's class and window cannot be made",
       [] {
         standin::fail(standin::op::register_class, platform::error_not_enough_memory,
                       u"tarn_vivediz_app_class", 0, -1);
         standin::fail(standin::op::create_window, platform::error_not_enough_memory,
                       u"tarn_vivediz_app_class", 0, -1);
       },
       2, -1},
  };
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    c.arrange();
    std::vector<window_handle> focus_after;
    const session s = run_program(variant::basic, [&](session&, window_handle d) {
      for (std::size_t i = 0; i < c.presses; ++i) {
        press_help(d);
        focus_after.push_back(standin::focused_window());
      }
      EXPECT_TRUE(standin::click(d, IDC_TCP_ENABLE)) << "the settings dialog is stuck";
      EXPECT_NE(standin::command(d, platform::id_ok), 0);
    });
    expect_clean_end(s);
    if (c.helps >= 0) {
      EXPECT_EQ(s.helps.size(), static_cast<std::size_t>(c.helps));
    }
    for (window_handle f : focus_after) EXPECT_EQ(f, s.settings);
    EXPECT_EQ(registry_changes().size(), 5u) << "OK after the failed help did not commit";
  }
}

}  // namespace
