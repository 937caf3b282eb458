// Tests of whole runs from start-up to exit: probes, administrator gate, generation, variant.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/app.h"
#include "core/app_state.h"
#include "core/messages.h"
#include "resource.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using platform::window_handle;
using standin::op;

const std::u16string kCpuKey = u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
const std::u16string kVersionKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const std::u16string kBiosKey = u"HARDWARE\\DESCRIPTION\\System\\BIOS";
const std::u16string kServices = u"SYSTEM\\CurrentControlSet\\Services\\";
const std::u16string kCurrentBus = kServices + u"vdbus\\Parameters\\Device";
const std::u16string kLegacyBus = kServices + u"ldbus\\Parameters\\Device";

const std::string kXenTemplate = "ORVANE_DLG_TEMPLATE";
const std::string kKvmTemplate = "ORVANE_DLG_KVM_TEMPLATE";
const std::string kBasicTemplate = "ORVANE_DLG_BASIC_TEMPLATE";
const std::string kHelpTemplate = "TARN_VIVEDIZ_DLG_TEMPLATE";

constexpr u32 kBaseLeaf = 0x40000000;
constexpr u32 kBehindLeaf = 0x40000100;

constexpr u32 kStartFailed = 1009;
constexpr u32 kNeedAdministrator = 1014;
constexpr u32 kRunAsAdministrator = 1015;

const std::u16string kCaption = u"TARN Device Control Settings";

using standin::narrow;

bool ends_with(const std::u16string& s, const std::u16string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::u16string text_of(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

void processor(const std::u16string& identifier) {
  standin::set_string(kCpuKey, u"Identifier", identifier);
}

void product(const std::u16string& name, const std::u16string& release = u"") {
  standin::set_string(kVersionKey, u"ProductName", name);
  if (!release.empty()) standin::set_string(kVersionKey, u"ReleaseId", release);
}

// 64-bit Windows 10 2004 under Xen, the program's most common home.
void windows_10_under_xen() {
  processor(u"Intel64 Family 6 Model 85 Stepping 7, GenuineIntel");
  product(u"Windows 10 Pro", u"2004");
  standin::set_cpuid_signature(kBaseLeaf, "XenVMMXenVMM");
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::reset();
    app::reset_state();
    standin::set_dialog_script([](window_handle dialog, const std::string&) {
      standin::command(dialog, platform::id_cancel);
    });
  }
  void TearDown() override {
    EXPECT_EQ(standin::open_key_count(), 0);
    EXPECT_EQ(standin::open_device_list_count(), 0);
    EXPECT_FALSE(standin::dialog_hung());
    EXPECT_FALSE(standin::loop_blocked());
  }

  static int run() { return app::run_application(platform::own_module()); }

  static std::vector<std::u16string> opened_paths() {
    std::vector<std::u16string> paths;
    for (const standin::open_record& r : standin::opens()) paths.push_back(r.path);
    return paths;
  }

  static int times_opened(const std::u16string& path) {
    int n = 0;
    for (const standin::open_record& r : standin::opens()) n += r.path == path ? 1 : 0;
    return n;
  }

  // The one message box of the run: the text, the program's caption, OK only, no owner.
  static void expect_only_message(const std::u16string& text) {
    ASSERT_EQ(standin::messages().size(), 1u);
    const standin::message_record& m = standin::messages()[0];
    EXPECT_EQ(narrow(m.text), narrow(text));
    EXPECT_EQ(narrow(m.caption), narrow(kCaption));
    EXPECT_EQ(m.flags, 0u);
    EXPECT_FALSE(m.owned);
  }
};

// ---- Processor width, and the classification it feeds.

struct processor_case {
  const char* name;
  void (*arrange)();
  u32 bits;
  u32 os_code;  // with "Windows 10 Pro" release 2004 stored
};

class StartupProcessorTest : public StartupTest,
                             public ::testing::WithParamInterface<processor_case> {};

TEST_P(StartupProcessorTest, ReadsTheWidth) {
  GetParam().arrange();
  EXPECT_EQ(app::read_processor_bits(), GetParam().bits);
  ASSERT_FALSE(standin::opens().empty());
  EXPECT_EQ(narrow(standin::opens()[0].path), narrow(kCpuKey));
  EXPECT_EQ(standin::opens()[0].access, platform::key_all_access);
}

TEST_P(StartupProcessorTest, RunClassifiesForThatWidth) {
  const processor_case& c = GetParam();
  product(u"Windows 10 Pro", u"2004");
  c.arrange();
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(app::state().os_code, c.os_code);
  // Without a width the version is not classified at all.
  EXPECT_EQ(times_opened(kVersionKey), c.bits != 0 ? 1 : 0);
  EXPECT_TRUE(standin::messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, StartupProcessorTest,
    ::testing::Values(
        processor_case{"X86Family6", [] { processor(u"x86 Family 6 Model 158 Stepping 10"); }, 32,
                       0x800},
        processor_case{"UpperCaseX86", [] { processor(u"X86 Family 15 Model 2"); }, 32, 0x800},
        processor_case{"BareX86", [] { processor(u"x86"); }, 32, 0x800},
        processor_case{"Intel64", [] { processor(u"Intel64 Family 6 Model 85"); }, 64, 0x80000800},
        processor_case{"Amd64", [] { processor(u"AMD64 Family 23 Model 49"); }, 64, 0x80000800},
        processor_case{"ShorterThanX86", [] { processor(u"x8"); }, 64, 0x80000800},
        processor_case{"Empty", [] { processor(u""); }, 64, 0x80000800},
        processor_case{"FullBufferWithoutTerminator",
                       [] {
                         standin::set_string(kCpuKey, u"Identifier",
                                             u"x86 " + std::u16string(256, u'f'), false);
                       },
                       32, 0x800},
        processor_case{"TooLongForTheBuffer",
                       [] {
                         standin::set_string(kCpuKey, u"Identifier",
                                             u"x86 " + std::u16string(256, u'f'), true);
                       },
                       0, 0},
        processor_case{"NoIdentifier",
                       [] { standin::set_string(kCpuKey, u"VendorIdentifier", u"GenuineIntel"); },
                       0, 0},
        processor_case{"NoKey", [] {}, 0, 0},
        processor_case{"KeyReadOnly",
                       [] {
                         processor(u"Intel64 Family 6");
                         standin::deny_write_access(kCpuKey);
                       },
                       0, 0},
        processor_case{"ReadFails",
                       [] {
                         processor(u"Intel64 Family 6");
                         standin::fail(op::reg_query, 5, u"\\Identifier", 0, -1);
                       },
                       0, 0}),
    [](const ::testing::TestParamInfo<processor_case>& info) {
      return std::string(info.param.name);
    });

// ---- The administrator gate.

struct gate_case {
  const char* name;
  void (*arrange)();
  u32 message;
  std::u16string text;
  bool width_read;
};

class StartupGateTest : public StartupTest, public ::testing::WithParamInterface<gate_case> {};

TEST_P(StartupGateTest, RefusesWithOneMessageAndTouchesNothingElse) {
  const gate_case& c = GetParam();
  standin::set_cpuid_signature(kBaseLeaf, "XenVMMXenVMM");
  standin::set_dword(kCurrentBus, u"max_disks", 64);
  c.arrange();

  EXPECT_EQ(run(), 0);

  EXPECT_EQ(narrow(standin::string_text(c.message)), narrow(c.text));
  expect_only_message(c.text);
  EXPECT_EQ(standin::timeline(), std::vector<std::string>{"message " + narrow(c.text)});
  EXPECT_TRUE(standin::registered_classes().empty());
  EXPECT_TRUE(standin::plain_windows().empty());
  EXPECT_TRUE(standin::cpuid_leaves_asked().empty());
  const std::vector<std::u16string> expected_opens =
      c.width_read ? std::vector<std::u16string>{kCpuKey, kVersionKey}
                   : std::vector<std::u16string>{kCpuKey};
  EXPECT_EQ(opened_paths(), expected_opens);
  EXPECT_EQ(standin::get_dword(kCurrentBus, u"max_disks"), 64u);
}

const std::u16string kNeedAdministratorText =
    u"Vivediz must be run with administrative permissions.";
const std::u16string kRunAsAdministratorText = u"Vivediz must be 'Run as administrator'.";

INSTANTIATE_TEST_SUITE_P(
    Refusals, StartupGateTest,
    ::testing::Values(
        gate_case{"Server2003On64Bits",
                  [] {
                    processor(u"AMD64 Family 15");
                    product(u"Microsoft Windows Server 2003 R2");
                    standin::set_administrator(false);
                  },
                  kNeedAdministrator, kNeedAdministratorText, true},
        gate_case{"Windows10Release2004On64Bits",
                  [] {
                    processor(u"Intel64 Family 6");
                    product(u"Windows 10 Pro", u"2004");
                    standin::set_administrator(false);
                  },
                  kRunAsAdministrator, kRunAsAdministratorText, true},
        gate_case{"VistaOn32Bits",
                  [] {
                    processor(u"x86 Family 6");
                    product(u"Windows Vista (TM) Business");
                    standin::set_administrator(false);
                  },
                  kRunAsAdministrator, kRunAsAdministratorText, true},
        gate_case{"XpOn64Bits",
                  [] {
                    processor(u"Intel64 Family 6");
                    product(u"Microsoft Windows XP");
                    standin::set_administrator(false);
                  },
                  kNeedAdministrator, kNeedAdministratorText, true},
        gate_case{"Windows2000",
                  [] {
                    processor(u"x86 Family 6");
                    product(u"Microsoft Windows 2000");
                    standin::set_administrator(false);
                  },
                  kNeedAdministrator, kNeedAdministratorText, true},
        gate_case{"UnknownProductOn64BitsIsNewest",
                  [] {
                    processor(u"Intel64 Family 6");
                    product(u"Windows 11 Pro");
                    standin::set_administrator(false);
                  },
                  kRunAsAdministrator, kRunAsAdministratorText, true},
        // A processor key that refuses full access leaves the version unknown: the old message.
        gate_case{"ProcessorKeyRefusedOnWindows10",
                  [] {
                    processor(u"Intel64 Family 6");
                    standin::deny_write_access(kCpuKey);
                    product(u"Windows 10 Pro", u"2004");
                    standin::set_administrator(false);
                  },
                  kNeedAdministrator, kNeedAdministratorText, false},
        gate_case{"NoIdentifierOnServer2019",
                  [] {
                    standin::create_key(kCpuKey);
                    product(u"Windows Server 2019 Datacenter");
                    standin::set_administrator(false);
                  },
                  kNeedAdministrator, kNeedAdministratorText, false},
        gate_case{"SidNotBuiltCountsAsNotAdministrator",
                  [] {
                    processor(u"Intel64 Family 6");
                    product(u"Windows 10 Pro", u"2004");
                    standin::fail(op::admin_sid, 8);
                  },
                  kRunAsAdministrator, kRunAsAdministratorText, true},
        gate_case{"MembershipTestFailsCountsAsNotAdministrator",
                  [] {
                    processor(u"x86 Family 6");
                    product(u"Microsoft Windows XP");
                    standin::fail(op::admin_check, 5);
                  },
                  kNeedAdministrator, kNeedAdministratorText, true}),
    [](const ::testing::TestParamInfo<gate_case>& info) { return std::string(info.param.name); });

TEST_F(StartupTest, AdministratorGetsPastTheGate) {
  windows_10_under_xen();
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(standin::messages().empty());
  EXPECT_EQ(standin::timeline_matching("dialog "),
            std::vector<std::string>{"dialog " + kXenTemplate});
  // Every key start-up opens is opened with full access.
  for (const standin::open_record& r : standin::opens()) {
    if (r.path == kCpuKey || r.path == kVersionKey || r.path == kCurrentBus) {
      EXPECT_EQ(r.access, platform::key_all_access) << narrow(r.path);
    }
  }
}

// ---- The driver generation, seen through where the Xen variant reads and writes.

enum class bus_key { absent, present, read_only };

struct generation_case {
  const char* name;
  bus_key current;
  bool current_services;  // the current generation's block and SCSI service keys exist
  bool legacy_stored;
  bool selects_current;
  std::u16string shown;  // Max Disks as the dialog shows it
};

class StartupGenerationTest : public StartupTest,
                              public ::testing::WithParamInterface<generation_case> {};

TEST_P(StartupGenerationTest, SelectsTheGeneration) {
  const generation_case& c = GetParam();
  windows_10_under_xen();
  if (c.current != bus_key::absent) standin::set_dword(kCurrentBus, u"max_disks", 64);
  if (c.current == bus_key::read_only) standin::deny_write_access(kCurrentBus);
  if (c.current_services) {
    standin::create_key(kServices + u"vdblk");
    standin::create_key(kServices + u"vdscsi");
  }
  if (c.legacy_stored) standin::set_dword(kLegacyBus, u"max_disks", 100);

  std::u16string shown;
  standin::set_dialog_script([&shown](window_handle dialog, const std::string& name) {
    if (name != kXenTemplate) return;
    shown = standin::control(dialog, IDC_MAX_DISKS)->text;
    standin::type_text(dialog, IDC_MAX_DISKS, u"77");
    standin::click(dialog, platform::id_ok);
  });

  EXPECT_EQ(run(), 0);
  EXPECT_EQ(narrow(shown), narrow(c.shown));

  const app::driver_set& drivers = app::state().drivers;
  const std::u16string generation = c.selects_current ? u"vd" : u"ld";
  EXPECT_EQ(narrow(text_of(drivers.bus_parameters_key)),
            narrow(kServices + generation + u"bus\\Parameters\\Device"));
  EXPECT_EQ(narrow(text_of(drivers.block_service_key)), narrow(kServices + generation + u"blk"));
  EXPECT_EQ(narrow(text_of(drivers.scsi_service_key)), narrow(kServices + generation + u"scsi"));

  const std::u16string& selected = c.selects_current ? kCurrentBus : kLegacyBus;
  const bool selected_exists = c.selects_current || c.legacy_stored;
  if (selected_exists) {
    EXPECT_EQ(standin::get_dword(selected, u"max_disks"), 77u);
    EXPECT_EQ(standin::timeline_matching("set "),
              std::vector<std::string>{"set " + narrow(selected) + "\\max_disks=0x4D"});
  } else {
    EXPECT_TRUE(standin::timeline_matching("set ").empty());
  }
  // The other generation keeps what it had.
  if (c.selects_current) {
    EXPECT_EQ(times_opened(kLegacyBus), 0);
    if (c.legacy_stored) {
      EXPECT_EQ(standin::get_dword(kLegacyBus, u"max_disks"), 100u);
    }
  } else {
    EXPECT_EQ(times_opened(kCurrentBus), 1);  // the probe, and nothing after it
    if (c.current != bus_key::absent) {
      EXPECT_EQ(standin::get_dword(kCurrentBus, u"max_disks"), 64u);
    }
  }
  // Only the bus key is probed: no service key is opened on the way.
  for (const std::u16string& path : opened_paths()) {
    for (const char16_t* service : {u"vdblk", u"vdscsi", u"ldblk", u"ldscsi"}) {
      EXPECT_FALSE(ends_with(path, service)) << narrow(path);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Generations, StartupGenerationTest,
    ::testing::Values(
        generation_case{"CurrentPresent", bus_key::present, false, true, true, u"64"},
        generation_case{"CurrentOnly", bus_key::present, false, false, true, u"64"},
        generation_case{"CurrentAbsent", bus_key::absent, false, true, false, u"100"},
        generation_case{"CurrentServicesWithoutBusKey", bus_key::absent, true, true, false, u"100"},
        generation_case{"CurrentRefusesFullAccess", bus_key::read_only, false, true, false, u"100"},
        generation_case{"BothAbsent", bus_key::absent, false, false, false, u"32"}),
    [](const ::testing::TestParamInfo<generation_case>& info) {
      return std::string(info.param.name);
    });

// ---- The hypervisor chooses the variant.

struct variant_case {
  const char* name;
  void (*arrange)();
  u32 kind;
  std::string template_name;
};

class StartupVariantTest : public StartupTest,
                           public ::testing::WithParamInterface<variant_case> {};

TEST_P(StartupVariantTest, OpensTheTemplateOfTheHypervisor) {
  const variant_case& c = GetParam();
  processor(u"Intel64 Family 6");
  product(u"Windows Server 2019 Standard");
  c.arrange();

  std::vector<std::string> seen;
  u32 kind_at_dialog = 0xFF;
  window_handle owner = nullptr;
  standin::set_dialog_script([&](window_handle dialog, const std::string& name) {
    seen.push_back(name);
    kind_at_dialog = app::state().snapshot.hv_kind;
    owner = standin::dialog(dialog).owner;
    standin::command(dialog, platform::id_cancel);
  });

  EXPECT_EQ(run(), 0);
  EXPECT_EQ(seen, std::vector<std::string>{c.template_name});
  EXPECT_EQ(standin::timeline_matching("dialog "),
            std::vector<std::string>{"dialog " + c.template_name});
  EXPECT_EQ(kind_at_dialog, c.kind);
  EXPECT_EQ(app::state().hv_kind, c.kind);
  EXPECT_EQ(app::state().snapshot.hv_kind, c.kind);
  // Owned by the hidden window, whose module holds the template.
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(platform::window_module(owner), platform::own_module());
  EXPECT_TRUE(standin::messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Hypervisors, StartupVariantTest,
    ::testing::Values(
        variant_case{"Xen", [] { standin::set_cpuid_signature(kBaseLeaf, "XenVMMXenVMM"); }, 1,
                     kXenTemplate},
        variant_case{"Kvm", [] { standin::set_cpuid_signature(kBaseLeaf, "KVMKVMKVM"); }, 2,
                     kKvmTemplate},
        variant_case{"None", [] {}, 0, kBasicTemplate},
        variant_case{"XenShim", [] { standin::set_cpuid_signature(kBaseLeaf, "FenlowShimHv"); }, 1,
                     kXenTemplate},
        variant_case{"KvmBehindHyperV",
                     [] {
                       standin::set_cpuid_signature(kBaseLeaf, "Microsoft Hv");
                       standin::set_cpuid_signature(kBehindLeaf, "KVMKVMKVM");
                     },
                     2, kKvmTemplate},
        variant_case{"QemuFirmwareBehindHyperV",
                     [] {
                       standin::set_cpuid_signature(kBaseLeaf, "Microsoft Hv");
                       standin::set_string(kBiosKey, u"SystemManufacturer", u"QEMU");
                     },
                     2, kKvmTemplate},
        variant_case{"UnknownFirmwareBehindHyperV",
                     [] {
                       standin::set_cpuid_signature(kBaseLeaf, "Microsoft Hv");
                       standin::set_string(kBiosKey, u"SystemManufacturer", u"Microsoft");
                     },
                     0, kBasicTemplate}),
    [](const ::testing::TestParamInfo<variant_case>& info) {
      return std::string(info.param.name);
    });

TEST_F(StartupTest, CreatesTheHiddenOwnerWindow) {
  windows_10_under_xen();
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(standin::registered_classes(), std::vector<std::u16string>{u"vivediz_app_class"});
  ASSERT_EQ(standin::plain_windows().size(), 1u);
  const standin::window_state& w = standin::plain_windows()[0];
  EXPECT_EQ(narrow(w.class_name), "vivediz_app_class");
  EXPECT_EQ(narrow(w.title), "orvane Windows Application");
  EXPECT_EQ(w.ex_style, 0x110u);
  EXPECT_EQ(w.style, 0x02CF0000u);
  EXPECT_EQ(w.module, platform::own_module());
}

// ---- The dialog that cannot be created.

class StartupDialogFailureTest : public StartupTest,
                                 public ::testing::WithParamInterface<variant_case> {};

TEST_P(StartupDialogFailureTest, ShowsStartFailedAndEnds) {
  const variant_case& c = GetParam();
  processor(u"Intel64 Family 6");
  product(u"Windows 10 Pro", u"2004");
  c.arrange();
  bool script_ran = false;
  standin::set_dialog_script(
      [&script_ran](window_handle, const std::string&) { script_ran = true; });
  standin::fail(op::dialog_create, 8,
                std::u16string(c.template_name.begin(), c.template_name.end()));

  EXPECT_EQ(run(), 0);

  EXPECT_FALSE(script_ran);
  EXPECT_EQ(narrow(standin::string_text(kStartFailed)), "Failed to start TARN Device Controller");
  expect_only_message(u"Failed to start TARN Device Controller");
  EXPECT_EQ(standin::timeline(),
            std::vector<std::string>{"message Failed to start TARN Device Controller"});
  // TearDown: the run did not wait for a quit request that nobody posts.
}

INSTANTIATE_TEST_SUITE_P(
    Variants, StartupDialogFailureTest,
    ::testing::Values(variant_case{"Xen",
                                   [] { standin::set_cpuid_signature(kBaseLeaf, "XenVMMXenVMM"); },
                                   1, kXenTemplate},
                      variant_case{"Kvm",
                                   [] { standin::set_cpuid_signature(kBaseLeaf, "KVMKVMKVM"); }, 2,
                                   kKvmTemplate},
                      variant_case{"Basic", [] {}, 0, kBasicTemplate}),
    [](const ::testing::TestParamInfo<variant_case>& info) {
      return std::string(info.param.name);
    });

// A dialog ended by anything but OK or Cancel posted no quit request: the run must not wait for
// one.
TEST_F(StartupTest, DialogEndedWithoutOkOrCancelDoesNotWaitForQuit) {
  windows_10_under_xen();
  standin::set_dialog_script(
      [](window_handle dialog, const std::string&) { platform::end_dialog(dialog, 0); });
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(standin::messages().empty());
  // TearDown: the loop did not block.
}

// ---- Every way the settings dialog ends leads to exit code 0.

struct dialogs_seen {
  window_handle settings = nullptr;
  window_handle help = nullptr;
};

struct exit_case {
  const char* name;
  // Plays the user on each dialog as it comes up.
  void (*play)(window_handle dialog, const std::string& template_name, const dialogs_seen& seen);
  int reboots;
  bool opens_help;
};

class StartupExitTest : public StartupTest, public ::testing::WithParamInterface<exit_case> {};

TEST_P(StartupExitTest, EndsWithExitCodeZero) {
  const exit_case& c = GetParam();
  windows_10_under_xen();
  standin::set_dword(kCurrentBus, u"max_disks", 32);
  dialogs_seen seen;
  standin::set_dialog_script([&](window_handle dialog, const std::string& name) {
    (name == kHelpTemplate ? seen.help : seen.settings) = dialog;
    c.play(dialog, name, seen);
  });

  EXPECT_EQ(run(), 0);

  ASSERT_NE(seen.settings, nullptr);
  EXPECT_TRUE(standin::dialog(seen.settings).ended);
  EXPECT_EQ(standin::reboot_prompts(), c.reboots);
  EXPECT_EQ(seen.help != nullptr, c.opens_help);
  if (seen.help != nullptr) {
    EXPECT_TRUE(standin::dialog(seen.help).ended);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StartupExitTest,
    ::testing::Values(
        exit_case{"CancelButton",
                  [](window_handle d, const std::string&, const dialogs_seen&) {
                    standin::click(d, platform::id_cancel);
                  },
                  0, false},
        exit_case{"EscapeKey",
                  [](window_handle d, const std::string&, const dialogs_seen&) {
                    standin::command(d, platform::id_cancel);
                  },
                  0, false},
        exit_case{"OkUnchanged",
                  [](window_handle d, const std::string&, const dialogs_seen&) {
                    standin::click(d, platform::id_ok);
                  },
                  0, false},
        exit_case{"EnterAfterChange",
                  [](window_handle d, const std::string&, const dialogs_seen&) {
                    standin::type_text(d, IDC_MAX_DISKS, u"64");
                    standin::command(d, platform::id_ok);
                  },
                  1, false},
        exit_case{"RefusedOkThenCancel",
                  [](window_handle d, const std::string&, const dialogs_seen&) {
                    // Enter with the focus still in the edit: OK itself refuses the value.
                    standin::type_text(d, IDC_MAX_DISKS, u"0");
                    standin::command(d, platform::id_ok);
                    standin::click(d, platform::id_cancel);
                  },
                  0, false},
        exit_case{"HelpClosedThenOk",
                  [](window_handle d, const std::string& name, const dialogs_seen&) {
                    if (name == kHelpTemplate) {
                      standin::click(d, platform::id_ok);
                      return;
                    }
                    standin::click(d, IDC_HELP_BUTTON);
                    standin::click(d, platform::id_ok);
                  },
                  0, true},
        // The settings dialog ends while help is still open.
        exit_case{"OkWhileHelpOpen",
                  [](window_handle d, const std::string& name, const dialogs_seen& seen) {
                    if (name == kHelpTemplate) {
                      standin::type_text(seen.settings, IDC_MAX_DISKS, u"64");
                      standin::click(seen.settings, platform::id_ok);
                      return;
                    }
                    standin::click(d, IDC_HELP_BUTTON);
                  },
                  1, true},
        exit_case{"CancelWhileHelpOpen",
                  [](window_handle d, const std::string& name, const dialogs_seen& seen) {
                    if (name == kHelpTemplate) {
                      standin::click(seen.settings, platform::id_cancel);
                      return;
                    }
                    standin::click(d, IDC_HELP_BUTTON);
                  },
                  0, true}),
    [](const ::testing::TestParamInfo<exit_case>& info) { return std::string(info.param.name); });

// ---- Message boxes.

TEST_F(StartupTest, MessageBoxesCarryTheCaptionAndNoOwner) {
  const u32 ids[] = {1001, 1002, 1003, 1004, 1005, 1006, 1007,
                     1009, 1011, 1012, 1013, 1014, 1015, 1018};
  for (u32 id : ids) messages::show_message(id);
  ASSERT_EQ(standin::messages().size(), std::size(ids));
  for (std::size_t i = 0; i < std::size(ids); ++i) {
    const standin::message_record& m = standin::messages()[i];
    EXPECT_FALSE(standin::string_text(ids[i]).empty()) << ids[i];
    EXPECT_EQ(narrow(m.text), narrow(standin::string_text(ids[i]))) << ids[i];
    EXPECT_EQ(narrow(m.caption), narrow(kCaption)) << ids[i];
    EXPECT_EQ(m.flags, 0u) << ids[i];
    EXPECT_FALSE(m.owned) << ids[i];
  }
}

}  // namespace
