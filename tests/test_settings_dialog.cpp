// Whole-run tests of the settings dialog: what it shows, checks, and leaves in the registry.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/app.h"
#include "core/app_state.h"
#include "platform/platform.h"
#include "resource.h"
#include "tests/standin/standin.h"
#include "ui/settings_dialog.h"

namespace {

using platform::u32;
using platform::window_handle;
using standin::control_state;

// ---- The machine the program runs on.

const std::u16string kProcessorKey = u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
const std::u16string kVersionKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const std::u16string kBusKey = u"SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device";
const std::u16string kAfdKey = u"SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters";
const std::u16string kTcpipKey = u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const std::u16string kSerialDeviceKey =
    u"SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00";
const std::u16string kSerialMsiKey = kSerialDeviceKey +
                                     u"\\3&267a616a&0&30\\Device Parameters\\Interrupt "
                                     u"Management\\MessageSignaledInterruptProperties";

constexpr u32 kAbsent = 0xFFFFFFFFu;
constexpr u32 kEnChange = 0x0300;
constexpr u32 kEnSetFocus = 0x0100;
constexpr u32 kWmPaint = 0x000F;

enum class variant { xen, kvm, basic };

struct windows {
  std::u16string processor;
  std::u16string product;
  std::u16string release;  // empty: not stored
};

const windows kWindows10{u"AMD64 Family 23 Model 49 Stepping 0, AuthenticAMD", u"Windows 10 Pro",
                         u"2004"};
const windows kWindowsXp64{u"AMD64 Family 15 Model 4 Stepping 1, AuthenticAMD",
                           u"Microsoft Windows XP", u""};
const windows kWindows2000{u"x86 Family 6 Model 8 Stepping 3, GenuineIntel",
                           u"Microsoft Windows 2000", u""};

struct stored {
  std::u16string key;
  std::u16string name;  // empty: the key alone
  u32 value;
};

stored bus(const std::u16string& name, u32 value) { return {kBusKey, name, value}; }
stored afd(const std::u16string& name, u32 value) { return {kAfdKey, name, value}; }
stored tcpip(const std::u16string& name, u32 value) { return {kTcpipKey, name, value}; }
stored serial_msi(u32 value) { return {kSerialMsiKey, u"MSISupported", value}; }
const stored kSerialDeviceWithoutInstances{kSerialDeviceKey, u"", 0};

std::vector<stored> all_tcp_stored() {
  return {afd(u"DefaultSendWindow", 65536), afd(u"DefaultReceiveWindow", 131072),
          afd(u"FastSendDatagramThreshold", 1024), tcpip(u"TcpWindowSize", 262144),
          tcpip(u"Tcp1323Opts", 3)};
}

template <typename... lists>
std::vector<stored> join(std::vector<stored> first, const lists&... rest) {
  (first.insert(first.end(), rest.begin(), rest.end()), ...);
  return first;
}

struct machine {
  variant kind;
  windows os;
  std::vector<stored> values;
};

void install(const machine& m) {
  standin::set_string(kProcessorKey, u"Identifier", m.os.processor);
  standin::set_string(kVersionKey, u"ProductName", m.os.product);
  if (!m.os.release.empty()) standin::set_string(kVersionKey, u"ReleaseId", m.os.release);
  standin::create_key(kBusKey);
  standin::create_key(kAfdKey);
  standin::create_key(kTcpipKey);
  standin::create_key(u"SYSTEM\\CurrentControlSet\\Enum\\PCI");
  if (m.kind == variant::xen) standin::set_cpuid_signature(0x40000000, "XenVMMXenVMM");
  if (m.kind == variant::kvm) standin::set_cpuid_signature(0x40000000, "KVMKVMKVM");
  for (const stored& v : m.values) {
    if (v.name.empty()) {
      standin::create_key(v.key);
    } else {
      standin::set_dword(v.key, v.name, v.value);
    }
  }
}

const char* template_of(variant kind) {
  switch (kind) {
    case variant::xen:
      return "ORVANE_DLG_TEMPLATE";
    case variant::kvm:
      return "ORVANE_DLG_KVM_TEMPLATE";
    default:
      return "ORVANE_DLG_BASIC_TEMPLATE";
  }
}

// ---- What the drivers and the user see afterwards.

std::string ascii(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::string hex(u32 v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%X", v);
  return buffer;
}

std::string written(const std::u16string& key, const char* name, u32 value) {
  return "set " + ascii(key) + "\\" + name + "=" + hex(value);
}
std::string bus_written(const char* name, u32 value) { return written(kBusKey, name, value); }
std::string afd_written(const char* name, u32 value) { return written(kAfdKey, name, value); }
std::string tcpip_written(const char* name, u32 value) { return written(kTcpipKey, name, value); }
std::string msi_written(u32 value) { return written(kSerialMsiKey, "MSISupported", value); }
std::string afd_deleted(const char* name) { return "delete_value " + ascii(kAfdKey) + "\\" + name; }
std::string tcpip_deleted(const char* name) {
  return "delete_value " + ascii(kTcpipKey) + "\\" + name;
}

// The registry values the run wrote or deleted, in order.
std::vector<std::string> registry_changes() {
  std::vector<std::string> out;
  for (const std::string& e : standin::timeline()) {
    if (e.rfind("set ", 0) == 0 || e.rfind("delete_value ", 0) == 0) out.push_back(e);
  }
  return out;
}

// The string-table ids of the message boxes shown, in order (0: a text not in the table).
std::vector<u32> message_ids() {
  std::vector<u32> ids;
  for (const standin::message_record& m : standin::messages()) {
    u32 id = 0;
    for (u32 candidate = 1001; candidate <= 1018; ++candidate) {
      const std::u16string text = standin::string_text(candidate);
      if (!text.empty() && text == m.text) id = candidate;
    }
    ids.push_back(id);
  }
  return ids;
}

bool opened_key_containing(const std::string& part) {
  for (const standin::open_record& r : standin::opens()) {
    std::string path = ascii(r.path);
    for (char& c : path) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (path.find(part) != std::string::npos) return true;
  }
  return false;
}

// ---- Expected control states.

enum class look { checked, unchecked, enabled, disabled, text, absent };
struct expect {
  std::vector<int> ids;
  look what;
  std::u16string text;
};
expect checked(std::vector<int> ids) { return {std::move(ids), look::checked, u""}; }
expect unchecked(std::vector<int> ids) { return {std::move(ids), look::unchecked, u""}; }
expect enabled(std::vector<int> ids) { return {std::move(ids), look::enabled, u""}; }
expect disabled(std::vector<int> ids) { return {std::move(ids), look::disabled, u""}; }
expect absent(std::vector<int> ids) { return {std::move(ids), look::absent, u""}; }
expect shows(int id, std::u16string text) { return {{id}, look::text, std::move(text)}; }

const std::vector<int> kTcpEdits = {IDC_SEND_WINDOW, IDC_RECEIVE_WINDOW, IDC_TCP_WINDOW_SIZE,
                                    IDC_TCP1323_OPTS, IDC_FAST_SEND_THRESHOLD};
const std::vector<int> kTcpControls = {IDC_SEND_WINDOW_LABEL,         IDC_SEND_WINDOW,
                                       IDC_RECEIVE_WINDOW_LABEL,      IDC_RECEIVE_WINDOW,
                                       IDC_TCP_WINDOW_SIZE_LABEL,     IDC_TCP_WINDOW_SIZE,
                                       IDC_TCP1323_OPTS_LABEL,        IDC_TCP1323_OPTS,
                                       IDC_FAST_SEND_THRESHOLD_LABEL, IDC_FAST_SEND_THRESHOLD};
const std::vector<int> kDiskControls = {IDC_DISK_GROUP, IDC_DISK_ALL, IDC_DISK_XVD, IDC_DISK_NONE};
const std::vector<int> kXenOnly = {IDC_DISK_ALL,     IDC_LAN_ALL,      IDC_BALLOONING,
                                   IDC_BOOT_PV_SCSI, IDC_GRANT_FRAMES, IDC_XEN_GROUP};

std::vector<expect> tcp_off() {
  std::vector<expect> out = {unchecked({IDC_TCP_ENABLE}), disabled(kTcpControls)};
  for (int id : kTcpEdits) out.push_back(shows(id, u""));
  return out;
}

std::vector<expect> tcp_defaults_shown() {
  return {checked({IDC_TCP_ENABLE}),
          enabled(kTcpControls),
          shows(IDC_SEND_WINDOW, u"1048576"),
          shows(IDC_RECEIVE_WINDOW, u"1048576"),
          shows(IDC_TCP_WINDOW_SIZE, u"1048576"),
          shows(IDC_TCP1323_OPTS, u"1"),
          shows(IDC_FAST_SEND_THRESHOLD, u"16384")};
}

std::vector<expect> with(std::vector<expect> first, const std::vector<expect>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

const control_state* find_control(const std::vector<control_state>& controls, int id) {
  for (const control_state& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

void expect_looks(const std::vector<control_state>& controls, const std::vector<expect>& expected) {
  for (const expect& e : expected) {
    for (int id : e.ids) {
      SCOPED_TRACE("control " + std::to_string(id));
      const control_state* c = find_control(controls, id);
      if (e.what == look::absent) {
        EXPECT_EQ(c, nullptr);
        continue;
      }
      if (c == nullptr) {
        ADD_FAILURE() << "the template has no such control";
        continue;
      }
      switch (e.what) {
        case look::checked:
          EXPECT_EQ(c->check, platform::bst_checked);
          break;
        case look::unchecked:
          EXPECT_EQ(c->check, platform::bst_unchecked);
          break;
        case look::enabled:
          EXPECT_TRUE(c->enabled);
          break;
        case look::disabled:
          EXPECT_FALSE(c->enabled);
          break;
        case look::text:
          EXPECT_EQ(c->text, e.text);
          break;
        case look::absent:
          break;
      }
    }
  }
}

// ---- The user.

using user_actions = std::function<void(window_handle)>;

void click(window_handle dialog, int id) {
  EXPECT_TRUE(standin::click(dialog, id)) << "control " << id << " cannot be clicked";
}

void type_and_leave(window_handle dialog, int id, const std::u16string& text) {
  EXPECT_TRUE(standin::type_text(dialog, id, text)) << "edit " << id << " cannot be typed into";
  EXPECT_TRUE(standin::leave_edit(dialog, id));
}

struct outcome {
  int exit_code = -1;
  window_handle settings = nullptr;
  std::string template_name;
  std::vector<control_state> opened;     // as the dialog first showed itself
  std::vector<control_state> before_ok;  // after the user's actions
  std::intptr_t ok_answer = -1;
};

// Installs the machine and runs the whole program: the user acts on the settings dialog and then,
// unless the dialog ended meanwhile or press_ok is false, presses Enter. Help dialogs are closed
// with OK as soon as they open.
outcome run_program(const machine& m, const user_actions& user, bool press_ok = true) {
  install(m);
  outcome o;
  standin::set_dialog_script([&](window_handle dialog, const std::string& name) {
    if (name == "TARN_VIVEDIZ_DLG_TEMPLATE") {
      standin::command(dialog, platform::id_ok);
      return;
    }
    o.settings = dialog;
    o.template_name = name;
    o.opened = standin::dialog(dialog).controls;
    if (user) user(dialog);
    o.before_ok = standin::dialog(dialog).controls;
    if (press_ok && !standin::dialog(dialog).ended) {
      o.ok_answer = standin::command(dialog, platform::id_ok);
    }
  });
  o.exit_code = app::run_application(platform::own_module());
  return o;
}

// The program ended as it must: exit code 0, the quit request reached start-up's loop, nothing
// waited for ever.
void expect_clean_end(const outcome& o) {
  EXPECT_EQ(o.exit_code, 0);
  EXPECT_FALSE(standin::dialog_hung());
  EXPECT_FALSE(standin::loop_blocked());
  ASSERT_NE(o.settings, nullptr) << "the settings dialog never opened";
  EXPECT_TRUE(standin::dialog(o.settings).ended);
}

class SettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { fresh(); }
  static void fresh() {
    standin::reset();
    app::reset_state();
  }
};

// ---- What the dialog shows when it opens, and what an OK without edits writes.

struct opening_case {
  const char* name;
  machine m;
  std::vector<expect> shown;
  std::vector<std::string> ok_writes;
  bool tcp_store_untouched;
};

TEST_F(SettingsDialogTest, OpensWithTheStoredValuesAndOkWithoutEditsKeepsThem) {
  const std::vector<opening_case> cases = {
      {"xen, nothing stored: every control shows its default",
       {variant::xen, kWindows10, {}},
       with({checked({IDC_DISK_ALL, IDC_LAN_ALL, IDC_BALLOONING}),
             unchecked({IDC_DISK_XVD, IDC_DISK_NONE, IDC_LAN_NETFRONT, IDC_LAN_NONE,
                        IDC_INSTANCE_IDS, IDC_BOOT_PV_SCSI, IDC_ONE_CONTROLLER}),
             enabled(kDiskControls), enabled({IDC_BOOT_PV_SCSI, IDC_TCP_ENABLE, IDC_TCP_GROUP}),
             shows(IDC_GRANT_FRAMES, u"10"), shows(IDC_MAX_DISKS, u"32"),
             shows(IDC_SHUTDOWN_DELAY, u"0"), shows(IDC_RESOURCE_TIMEOUT, u"0"),
             absent({IDC_SERIAL_MSI})},
            tcp_off()),
       {},
       false},
      {"xen, use_pv_drivers 0x13: Disk All and LAN All; OK keeps only the dialog's bits",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x13)}},
       {checked({IDC_DISK_ALL, IDC_LAN_ALL}),
        unchecked({IDC_DISK_XVD, IDC_DISK_NONE, IDC_LAN_NETFRONT, IDC_LAN_NONE, IDC_BOOT_PV_SCSI}),
        enabled(kDiskControls)},
       {bus_written("use_pv_drivers", 3)},
       false},
      {"xen, use_pv_drivers 0x401: Disk xvd<x>, LAN None",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x401)}},
       {checked({IDC_DISK_XVD, IDC_LAN_NONE}),
        unchecked({IDC_DISK_ALL, IDC_DISK_NONE, IDC_LAN_ALL, IDC_LAN_NETFRONT})},
       {},
       false},
      {"xen, use_pv_drivers 0x803: Disk All, LAN Netfront",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x803)}},
       {checked({IDC_DISK_ALL, IDC_LAN_NETFRONT}),
        unchecked({IDC_DISK_XVD, IDC_DISK_NONE, IDC_LAN_ALL, IDC_LAN_NONE})},
       {},
       false},
      {"xen, use_pv_drivers 0: Disk None, LAN None",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0)}},
       {checked({IDC_DISK_NONE, IDC_LAN_NONE}),
        unchecked({IDC_DISK_ALL, IDC_DISK_XVD, IDC_LAN_ALL, IDC_LAN_NETFRONT})},
       {},
       false},
      {"xen, use_pv_drivers 0xC00: xvd<x> and Netfront win; OK adds their driver bits",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0xC00)}},
       {checked({IDC_DISK_XVD, IDC_LAN_NETFRONT})},
       {bus_written("use_pv_drivers", 0xC03)},
       false},
      {"xen, use_pv_drivers 0x2001: Boot PV SCSI checked, the Disk group disabled on All",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x2001)}},
       {checked({IDC_BOOT_PV_SCSI, IDC_DISK_ALL, IDC_LAN_NONE}), disabled(kDiskControls),
        enabled({IDC_BOOT_PV_SCSI, IDC_LAN_ALL, IDC_LAN_NETFRONT, IDC_LAN_NONE})},
       {},
       false},
      {"xen, orvane_flags 0x1D: all three flag boxes checked, the other bit kept",
       {variant::xen, kWindows10, {bus(u"orvane_flags", 0x1D)}},
       {checked({IDC_BALLOONING, IDC_INSTANCE_IDS, IDC_ONE_CONTROLLER})},
       {},
       false},
      {"xen, orvane_flags 0x10: no flag box checked, the other bit kept",
       {variant::xen, kWindows10, {bus(u"orvane_flags", 0x10)}},
       {unchecked({IDC_BALLOONING, IDC_INSTANCE_IDS, IDC_ONE_CONTROLLER})},
       {},
       false},
      {"xen, numbers as stored",
       {variant::xen,
        kWindows10,
        {bus(u"grant_frames", 12), bus(u"max_disks", 100), bus(u"shutdown_delay", 4294967295u),
         bus(u"timeout", 60)}},
       {shows(IDC_GRANT_FRAMES, u"12"), shows(IDC_MAX_DISKS, u"100"),
        shows(IDC_SHUTDOWN_DELAY, u"4294967295"), shows(IDC_RESOURCE_TIMEOUT, u"60")},
       {},
       false},
      {"xen, all five TCP values stored: each in its own edit",
       {variant::xen, kWindows10, all_tcp_stored()},
       {checked({IDC_TCP_ENABLE}), enabled(kTcpControls), shows(IDC_SEND_WINDOW, u"65536"),
        shows(IDC_RECEIVE_WINDOW, u"131072"), shows(IDC_TCP_WINDOW_SIZE, u"262144"),
        shows(IDC_TCP1323_OPTS, u"3"), shows(IDC_FAST_SEND_THRESHOLD, u"1024")},
       {},
       false},
      {"basic, two TCP values stored: the missing ones show 4294967295 and stay absent",
       {variant::basic,
        kWindows10,
        {afd(u"DefaultReceiveWindow", 65536), tcpip(u"Tcp1323Opts", 3)}},
       {checked({IDC_TCP_ENABLE}), enabled(kTcpControls), shows(IDC_SEND_WINDOW, u"4294967295"),
        shows(IDC_RECEIVE_WINDOW, u"65536"), shows(IDC_TCP_WINDOW_SIZE, u"4294967295"),
        shows(IDC_TCP1323_OPTS, u"3"), shows(IDC_FAST_SEND_THRESHOLD, u"4294967295")},
       {},
       false},
      {"basic, nothing stored: TCP options only, off; OK writes nothing",
       {variant::basic, kWindows10, {}},
       with({absent(kXenOnly), absent({IDC_SERIAL_MSI}), enabled({IDC_TCP_ENABLE})}, tcp_off()),
       {},
       false},
      {"kvm, MSISupported 1: Serial MSI checked",
       {variant::kvm, kWindows10, {serial_msi(1)}},
       with({checked({IDC_SERIAL_MSI}), enabled({IDC_SERIAL_MSI}), absent(kXenOnly)}, tcp_off()),
       {},
       false},
      {"kvm, MSISupported 0: Serial MSI unchecked",
       {variant::kvm, kWindows10, {serial_msi(0)}},
       {unchecked({IDC_SERIAL_MSI}), enabled({IDC_SERIAL_MSI})},
       {},
       false},
      {"kvm, MSISupported 5: checked, and OK writes it back as 1",
       {variant::kvm, kWindows10, {serial_msi(5)}},
       {checked({IDC_SERIAL_MSI}), enabled({IDC_SERIAL_MSI})},
       {msi_written(1)},
       false},
      {"kvm, serial device without instances: box enabled and unchecked",
       {variant::kvm, kWindows10, {kSerialDeviceWithoutInstances}},
       {unchecked({IDC_SERIAL_MSI}), enabled({IDC_SERIAL_MSI})},
       {},
       false},
      {"kvm, no serial device: box disabled and unchecked",
       {variant::kvm, kWindows10, {}},
       {unchecked({IDC_SERIAL_MSI}), disabled({IDC_SERIAL_MSI})},
       {},
       false},
      {"windows 2000, xen: no TCP options and no Boot PV SCSI, stored TCP values left alone",
       {variant::xen, kWindows2000, all_tcp_stored()},
       with({disabled({IDC_TCP_GROUP, IDC_TCP_ENABLE, IDC_BOOT_PV_SCSI}), enabled(kDiskControls),
             enabled({IDC_BALLOONING, IDC_GRANT_FRAMES, IDC_DEFAULTS, IDC_HELP_BUTTON})},
            tcp_off()),
       {},
       true},
      {"windows 2000, basic template lacks the Xen controls: the TCP block is still disabled",
       {variant::basic, kWindows2000, all_tcp_stored()},
       with({absent({IDC_BOOT_PV_SCSI}), disabled({IDC_TCP_GROUP, IDC_TCP_ENABLE}),
             enabled({IDC_DEFAULTS, IDC_HELP_BUTTON, platform::id_ok, platform::id_cancel})},
            tcp_off()),
       {},
       true},
      {"windows xp: Boot PV SCSI disabled",
       {variant::xen, kWindowsXp64, {}},
       {disabled({IDC_BOOT_PV_SCSI}), unchecked({IDC_BOOT_PV_SCSI}), enabled(kDiskControls),
        enabled({IDC_TCP_ENABLE})},
       {},
       false},
      {"xen, use_pv_drivers 0x2000: Boot PV SCSI checked over Disk None; OK adds the disk bit",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x2000)}},
       {checked({IDC_BOOT_PV_SCSI, IDC_DISK_NONE, IDC_LAN_NONE}), disabled(kDiskControls)},
       {bus_written("use_pv_drivers", 0x2001)},
       false},
      {"windows xp, use_pv_drivers 0x2001: Boot PV SCSI still checked; OK keeps it",
       {variant::xen, kWindowsXp64, {bus(u"use_pv_drivers", 0x2001)}},
       {disabled({IDC_BOOT_PV_SCSI}), checked({IDC_BOOT_PV_SCSI, IDC_DISK_ALL}),
        disabled(kDiskControls)},
       {},
       false},
  };
  for (const opening_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const outcome o = run_program(c.m, nullptr);
    expect_clean_end(o);
    EXPECT_EQ(o.template_name, template_of(c.m.kind));
    expect_looks(o.opened, c.shown);
    EXPECT_EQ(o.ok_answer, 1);
    EXPECT_EQ(registry_changes(), c.ok_writes);
    EXPECT_EQ(standin::reboot_prompts(), c.ok_writes.empty() ? 0 : 1);
    EXPECT_EQ(message_ids(), std::vector<u32>{});
    if (c.tcp_store_untouched) {
      EXPECT_FALSE(opened_key_containing("\\afd\\")) << "the AFD parameters were opened";
      EXPECT_FALSE(opened_key_containing("\\tcpip\\")) << "the Tcpip parameters were opened";
    }
  }
}

// ---- The check when an edit loses the focus.

struct focus_case {
  const char* name;
  machine m;
  user_actions user;
  std::vector<expect> shown;  // after the user's actions
  std::vector<u32> messages;
  std::vector<std::string> ok_writes;
};

const machine kXenNumbers{variant::xen, kWindows10,
                          join({bus(u"grant_frames", 12), bus(u"max_disks", 64),
                                bus(u"shutdown_delay", 30), bus(u"timeout", 5)},
                               all_tcp_stored())};

TEST_F(SettingsDialogTest, EditLosingTheFocusChecksItsNumber) {
  const std::u16string long_number = std::u16string(70, u'0') + u"16";
  const std::u16string long_spaced = std::u16string(70, u' ') + u"16";
  const std::u16string number_of_64 =
      std::u16string(62, u'0') + u"16";  // one past the short buffer
  const std::u16string number_of_63 = std::u16string(61, u'0') + u"16";  // fills it exactly
  const std::vector<focus_case> cases = {
      {"grant frames 3: raised to the minimum 4",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, u"3"); },
       {shows(IDC_GRANT_FRAMES, u"4")},
       {1012},
       {bus_written("grant_frames", 4)}},
      {"grant frames 33: lowered to the maximum 32",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, u"33"); },
       {shows(IDC_GRANT_FRAMES, u"32")},
       {1013},
       {bus_written("grant_frames", 32)}},
      {"grant frames abc: the last good value comes back",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, u"abc"); },
       {shows(IDC_GRANT_FRAMES, u"12")},
       {1011},
       {}},
      {"grant frames emptied: the last good value comes back",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, u""); },
       {shows(IDC_GRANT_FRAMES, u"12")},
       {1011},
       {}},
      {"grant frames 32 is accepted",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, u"32"); },
       {shows(IDC_GRANT_FRAMES, u"32")},
       {},
       {bus_written("grant_frames", 32)}},
      {"an accepted number keeps its leading spaces",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, u" 16"); },
       {shows(IDC_GRANT_FRAMES, u" 16")},
       {},
       {bus_written("grant_frames", 16)}},
      {"the last good value is the one an earlier refusal set",
       kXenNumbers,
       [](window_handle d) {
         type_and_leave(d, IDC_GRANT_FRAMES, u"3");
         type_and_leave(d, IDC_GRANT_FRAMES, u"x");
       },
       {shows(IDC_GRANT_FRAMES, u"4")},
       {1012, 1011},
       {bus_written("grant_frames", 4)}},
      {"max disks 0 and then 257",
       kXenNumbers,
       [](window_handle d) {
         type_and_leave(d, IDC_MAX_DISKS, u"0");
         EXPECT_EQ(standin::control(d, IDC_MAX_DISKS)->text, u"1");
         type_and_leave(d, IDC_MAX_DISKS, u"257");
       },
       {shows(IDC_MAX_DISKS, u"256")},
       {1012, 1013},
       {bus_written("max_disks", 256)}},
      {"shutdown delay 4294967295 is accepted, one more is no number",
       kXenNumbers,
       [](window_handle d) {
         type_and_leave(d, IDC_SHUTDOWN_DELAY, u"4294967296");
         EXPECT_EQ(standin::control(d, IDC_SHUTDOWN_DELAY)->text, u"30");
         type_and_leave(d, IDC_SHUTDOWN_DELAY, u"4294967295");
       },
       {shows(IDC_SHUTDOWN_DELAY, u"4294967295")},
       {1011},
       {bus_written("shutdown_delay", 4294967295u)}},
      {"signs, trailing spaces and other characters are no number",
       kXenNumbers,
       [](window_handle d) {
         for (const char16_t* typed : {u"-1", u"+7", u"7 ", u"0x10", u"1e3", u"1 2"}) {
           type_and_leave(d, IDC_RESOURCE_TIMEOUT, typed);
         }
       },
       {shows(IDC_RESOURCE_TIMEOUT, u"5")},
       {1011, 1011, 1011, 1011, 1011, 1011},
       {}},
      {"a number behind many leading zeros is still that number",
       kXenNumbers,
       [&](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, long_number); },
       {shows(IDC_GRANT_FRAMES, long_number)},
       {},
       {bus_written("grant_frames", 16)}},
      {"a number of 64 characters is read whole",
       kXenNumbers,
       [&](window_handle d) { type_and_leave(d, IDC_GRANT_FRAMES, number_of_64); },
       {shows(IDC_GRANT_FRAMES, number_of_64)},
       {},
       {bus_written("grant_frames", 16)}},
      {"a number of 63 characters is read whole",
       kXenNumbers,
       [&](window_handle d) { type_and_leave(d, IDC_MAX_DISKS, number_of_63); },
       {shows(IDC_MAX_DISKS, number_of_63)},
       {},
       {bus_written("max_disks", 16)}},
      {"a number behind many leading spaces is still that number",
       kXenNumbers,
       [&](window_handle d) { type_and_leave(d, IDC_MAX_DISKS, long_spaced); },
       {shows(IDC_MAX_DISKS, long_spaced)},
       {},
       {bus_written("max_disks", 16)}},
      {"a stored grant frames of 64 is corrected when its edit loses the focus untouched",
       {variant::xen, kWindows10, {bus(u"grant_frames", 64)}},
       [](window_handle d) { EXPECT_TRUE(standin::leave_edit(d, IDC_GRANT_FRAMES)); },
       {shows(IDC_GRANT_FRAMES, u"32")},
       {1013},
       {bus_written("grant_frames", 32)}},
      {"clicking elsewhere checks the edit that had the focus",
       kXenNumbers,
       [](window_handle d) {
         EXPECT_TRUE(standin::type_text(d, IDC_GRANT_FRAMES, u"3"));
         EXPECT_TRUE(standin::type_text(d, IDC_MAX_DISKS, u"300"));  // grant frames checked
         click(d, IDC_BALLOONING);                                   // max disks checked
       },
       {shows(IDC_GRANT_FRAMES, u"4"), shows(IDC_MAX_DISKS, u"256"), unchecked({IDC_BALLOONING})},
       {1012, 1013},
       {bus_written("orvane_flags", 0), bus_written("grant_frames", 4),
        bus_written("max_disks", 256)}},
      {"a TCP value of 0 is raised to 1",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_SEND_WINDOW, u"0"); },
       {shows(IDC_SEND_WINDOW, u"1")},
       {1012},
       {afd_written("DefaultSendWindow", 1)}},
      {"a TCP value of 4294967295 removes the stored value",
       kXenNumbers,
       [](window_handle d) { type_and_leave(d, IDC_TCP_WINDOW_SIZE, u"4294967295"); },
       {shows(IDC_TCP_WINDOW_SIZE, u"4294967295")},
       {},
       {tcpip_deleted("TcpWindowSize")}},
      {"a number typed over a missing TCP value is written, the other missing ones stay absent",
       {variant::basic, kWindows10, {tcpip(u"Tcp1323Opts", 3)}},
       [](window_handle d) { type_and_leave(d, IDC_FAST_SEND_THRESHOLD, u"2000"); },
       {shows(IDC_FAST_SEND_THRESHOLD, u"2000"), shows(IDC_SEND_WINDOW, u"4294967295")},
       {},
       {afd_written("FastSendDatagramThreshold", 2000)}},
  };
  for (const focus_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const outcome o = run_program(c.m, c.user);
    expect_clean_end(o);
    expect_looks(o.before_ok, c.shown);
    EXPECT_EQ(message_ids(), c.messages);
    EXPECT_EQ(o.ok_answer, 1);
    EXPECT_EQ(registry_changes(), c.ok_writes);
    EXPECT_EQ(standin::reboot_prompts(), c.ok_writes.empty() ? 0 : 1);
  }
}

// ---- OK checks every field again and stays open when one is refused.

struct refusal_case {
  const char* name;
  machine m;
  user_actions user;
  std::vector<u32> messages;  // of the refused OK
  std::vector<expect> shown;  // after the refused OK
  std::vector<std::string> second_ok_writes;
};

TEST_F(SettingsDialogTest, RefusedOkCorrectsEveryBadFieldAndASecondOkCommits) {
  const std::vector<refusal_case> cases = {
      {"stored grant frames 64",
       {variant::xen, kWindows10, {bus(u"grant_frames", 64)}},
       nullptr,
       {1013},
       {shows(IDC_GRANT_FRAMES, u"32")},
       {bus_written("grant_frames", 32)}},
      {"bad fields in both groups are all reported by the same OK",
       {variant::xen,
        kWindows10,
        {bus(u"grant_frames", 2), bus(u"max_disks", 300), bus(u"timeout", 5),
         afd(u"DefaultSendWindow", 0), afd(u"DefaultReceiveWindow", 8192),
         tcpip(u"TcpWindowSize", 5000), tcpip(u"Tcp1323Opts", 0)}},
       // Typed but not left: only OK checks it.
       [](window_handle d) { EXPECT_TRUE(standin::type_text(d, IDC_RESOURCE_TIMEOUT, u"abc")); },
       {1012, 1013, 1011, 1012, 1012},
       {shows(IDC_GRANT_FRAMES, u"4"), shows(IDC_MAX_DISKS, u"256"),
        shows(IDC_RESOURCE_TIMEOUT, u"5"), shows(IDC_SEND_WINDOW, u"1"),
        shows(IDC_RECEIVE_WINDOW, u"8192"), shows(IDC_TCP_WINDOW_SIZE, u"5000"),
        shows(IDC_TCP1323_OPTS, u"1"), shows(IDC_FAST_SEND_THRESHOLD, u"4294967295")},
       {bus_written("grant_frames", 4), bus_written("max_disks", 256),
        afd_written("DefaultSendWindow", 1), tcpip_written("Tcp1323Opts", 1)}},
      {"only a TCP field is bad: the Xen group's success does not let OK through",
       {variant::xen, kWindows10, {afd(u"FastSendDatagramThreshold", 0)}},
       nullptr,
       {1012},
       {shows(IDC_FAST_SEND_THRESHOLD, u"1")},
       {afd_written("FastSendDatagramThreshold", 1)}},
      {"kvm: a bad TCP field holds back the Serial MSI change too",
       {variant::kvm, kWindows10, {serial_msi(0), afd(u"DefaultReceiveWindow", 0)}},
       [](window_handle d) { click(d, IDC_SERIAL_MSI); },
       {1012},
       {shows(IDC_RECEIVE_WINDOW, u"1"), checked({IDC_SERIAL_MSI})},
       {msi_written(1), afd_written("DefaultReceiveWindow", 1)}},
  };
  for (const refusal_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    std::intptr_t first = -1;
    std::intptr_t second = -1;
    std::vector<std::string> after_refusal;
    std::vector<u32> refusal_messages;
    const outcome o = run_program(
        c.m,
        [&](window_handle d) {
          if (c.user) c.user(d);
          first = standin::command(d, platform::id_ok);
          EXPECT_FALSE(standin::dialog(d).ended) << "a refused OK ended the dialog";
          refusal_messages = message_ids();
          after_refusal = registry_changes();
          expect_looks(standin::dialog(d).controls, c.shown);
          second = standin::command(d, platform::id_ok);
        },
        false);
    expect_clean_end(o);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(refusal_messages, c.messages);
    EXPECT_EQ(after_refusal, std::vector<std::string>{});
    EXPECT_EQ(message_ids(), c.messages) << "the second OK showed messages";
    EXPECT_EQ(registry_changes(), c.second_ok_writes);
    EXPECT_EQ(standin::reboot_prompts(), 1);
    EXPECT_EQ(standin::dialog(o.settings).result, 1);
  }
}

// ---- Boxes and buttons, then OK.

struct edit_case {
  const char* name;
  machine m;
  user_actions user;
  std::vector<expect> shown;  // after the user's actions
  std::vector<std::string> ok_writes;
  bool reboot;
};

// Every setting of the driver-control controls the user can reach, and the value OK writes. The
// stored 0x10 shows Disk None and LAN None and differs from every value written.
std::vector<edit_case> driver_control_cases() {
  struct setting {
    const char* name;
    int disk, lan;  // clicked in this order
    bool boot;      // then Boot PV SCSI clicked, which selects Disk All
    u32 written;
  };
  static const setting settings[] = {
      {"Disk All, LAN All", IDC_DISK_ALL, IDC_LAN_ALL, false, 0x3},
      {"Disk All, LAN Netfront", IDC_DISK_ALL, IDC_LAN_NETFRONT, false, 0x803},
      {"Disk All, LAN None", IDC_DISK_ALL, IDC_LAN_NONE, false, 0x1},
      {"Disk xvd, LAN All", IDC_DISK_XVD, IDC_LAN_ALL, false, 0x403},
      {"Disk xvd, LAN Netfront", IDC_DISK_XVD, IDC_LAN_NETFRONT, false, 0xC03},
      {"Disk xvd, LAN None", IDC_DISK_XVD, IDC_LAN_NONE, false, 0x401},
      {"Disk None, LAN All", IDC_DISK_NONE, IDC_LAN_ALL, false, 0x2},
      {"Disk None, LAN Netfront", IDC_DISK_NONE, IDC_LAN_NETFRONT, false, 0x802},
      {"Disk None, LAN None", IDC_DISK_NONE, IDC_LAN_NONE, false, 0x0},
      {"Disk All, LAN All, Boot PV SCSI", IDC_DISK_ALL, IDC_LAN_ALL, true, 0x2003},
      {"Disk xvd, LAN Netfront, Boot PV SCSI", IDC_DISK_XVD, IDC_LAN_NETFRONT, true, 0x2803},
      {"Disk None, LAN None, Boot PV SCSI", IDC_DISK_NONE, IDC_LAN_NONE, true, 0x2001},
  };
  std::vector<edit_case> cases;
  for (const setting& c : settings) {
    cases.push_back({c.name,
                     {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x10)}},
                     [&c](window_handle d) {
                       click(d, c.disk);
                       click(d, c.lan);
                       if (c.boot) click(d, IDC_BOOT_PV_SCSI);
                     },
                     {checked({c.boot ? IDC_DISK_ALL : c.disk, c.lan}),
                      c.boot ? checked({IDC_BOOT_PV_SCSI}) : unchecked({IDC_BOOT_PV_SCSI})},
                     {bus_written("use_pv_drivers", c.written)},
                     true});
  }
  return cases;
}

TEST_F(SettingsDialogTest, BoxesAndButtonsReachTheRegistryOnOk) {
  const std::vector<edit_case> cases = {
      // Boot PV SCSI.
      {"checking Boot PV SCSI selects Disk All and disables the Disk group",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x802)}},
       [](window_handle d) { click(d, IDC_BOOT_PV_SCSI); },
       {checked({IDC_BOOT_PV_SCSI, IDC_DISK_ALL, IDC_LAN_NETFRONT}),
        unchecked({IDC_DISK_XVD, IDC_DISK_NONE}), disabled(kDiskControls)},
       {bus_written("use_pv_drivers", 0x2803)},
       true},
      {"unchecking Boot PV SCSI enables the Disk group again",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x802)}},
       [](window_handle d) {
         click(d, IDC_BOOT_PV_SCSI);
         click(d, IDC_BOOT_PV_SCSI);
       },
       {unchecked({IDC_BOOT_PV_SCSI}), checked({IDC_DISK_ALL}), enabled(kDiskControls)},
       {bus_written("use_pv_drivers", 0x803)},
       true},
      {"stored Boot PV SCSI unchecked: the Disk group can be changed again",
       {variant::xen, kWindows10, {bus(u"use_pv_drivers", 0x2001)}},
       [](window_handle d) {
         click(d, IDC_BOOT_PV_SCSI);
         click(d, IDC_DISK_XVD);
       },
       {unchecked({IDC_BOOT_PV_SCSI, IDC_DISK_ALL}), checked({IDC_DISK_XVD}),
        enabled(kDiskControls)},
       {bus_written("use_pv_drivers", 0x401)},
       true},
      {"windows xp: Boot PV SCSI cannot be checked",
       {variant::xen, kWindowsXp64, {}},
       [](window_handle d) { EXPECT_FALSE(standin::click(d, IDC_BOOT_PV_SCSI)); },
       {unchecked({IDC_BOOT_PV_SCSI}), enabled(kDiskControls)},
       {},
       false},
      // Radio buttons and flag boxes.
      {"radio buttons and flag boxes are taken on OK",
       {variant::xen, kWindows10, {bus(u"orvane_flags", 0x14)}},
       [](window_handle d) {
         click(d, IDC_DISK_NONE);
         click(d, IDC_LAN_NETFRONT);
         click(d, IDC_BALLOONING);
         click(d, IDC_INSTANCE_IDS);
         click(d, IDC_ONE_CONTROLLER);
       },
       {checked({IDC_DISK_NONE, IDC_LAN_NETFRONT, IDC_INSTANCE_IDS, IDC_ONE_CONTROLLER}),
        unchecked({IDC_DISK_ALL, IDC_LAN_ALL, IDC_BALLOONING})},
       {bus_written("use_pv_drivers", 0x802), bus_written("orvane_flags", 0x19)},
       true},
      // Default.
      {"Default resets the numbers, the radio buttons, Use one controller and the TCP options",
       {variant::xen, kWindows10,
        join({bus(u"use_pv_drivers", 0x401), bus(u"orvane_flags", 0x19), bus(u"grant_frames", 20),
              bus(u"max_disks", 100), bus(u"shutdown_delay", 5), bus(u"timeout", 7)},
             all_tcp_stored())},
       [](window_handle d) { click(d, IDC_DEFAULTS); },
       with({checked({IDC_DISK_ALL, IDC_LAN_ALL, IDC_BALLOONING, IDC_INSTANCE_IDS}),
             unchecked({IDC_DISK_XVD, IDC_LAN_NONE, IDC_ONE_CONTROLLER, IDC_BOOT_PV_SCSI}),
             enabled(kDiskControls), shows(IDC_GRANT_FRAMES, u"10"), shows(IDC_MAX_DISKS, u"32"),
             shows(IDC_SHUTDOWN_DELAY, u"0"), shows(IDC_RESOURCE_TIMEOUT, u"0")},
            tcp_off()),
       {bus_written("use_pv_drivers", 3), bus_written("orvane_flags", 0x15),
        bus_written("grant_frames", 10), bus_written("max_disks", 32),
        bus_written("shutdown_delay", 0), bus_written("timeout", 0),
        afd_deleted("DefaultSendWindow"), afd_deleted("DefaultReceiveWindow"),
        afd_deleted("FastSendDatagramThreshold"), tcpip_deleted("TcpWindowSize"),
        tcpip_deleted("Tcp1323Opts")},
       true},
      {"Default keeps a checked Boot PV SCSI and the Disk group disabled",
       {variant::xen, kWindows10, {}},
       [](window_handle d) {
         click(d, IDC_BOOT_PV_SCSI);
         click(d, IDC_DEFAULTS);
       },
       {checked({IDC_BOOT_PV_SCSI, IDC_DISK_ALL}), disabled(kDiskControls)},
       {bus_written("use_pv_drivers", 0x2003)},
       true},
      {"Default keeps Instance IDs that the user checked",
       {variant::xen, kWindows10, {}},
       [](window_handle d) {
         click(d, IDC_INSTANCE_IDS);
         click(d, IDC_DEFAULTS);
       },
       {checked({IDC_INSTANCE_IDS, IDC_BALLOONING})},
       {bus_written("orvane_flags", 0x5)},
       true},
      {"Default unchecks Use one controller and keeps the snapshot's Instance IDs",
       {variant::xen, kWindows10, {bus(u"orvane_flags", 0x9)}},
       [](window_handle d) { click(d, IDC_DEFAULTS); },
       {checked({IDC_INSTANCE_IDS, IDC_BALLOONING}), unchecked({IDC_ONE_CONTROLLER})},
       {bus_written("orvane_flags", 0x5)},
       true},
      {"Default checks again the stored Instance IDs that the user unchecked",
       {variant::xen, kWindows10, {bus(u"orvane_flags", 0x5)}},
       [](window_handle d) {
         click(d, IDC_INSTANCE_IDS);
         click(d, IDC_DEFAULTS);
       },
       {checked({IDC_INSTANCE_IDS, IDC_BALLOONING})},
       {},
       false},
      {"windows xp, stored Boot PV SCSI: Default neither clears it nor frees the Disk group",
       {variant::xen, kWindowsXp64, {bus(u"use_pv_drivers", 0x2001)}},
       [](window_handle d) { click(d, IDC_DEFAULTS); },
       {checked({IDC_BOOT_PV_SCSI, IDC_DISK_ALL}), disabled({IDC_BOOT_PV_SCSI}),
        disabled(kDiskControls)},
       {bus_written("use_pv_drivers", 0x2003)},
       true},
      {"Default after edits on an untouched machine leaves nothing to write",
       {variant::xen, kWindows10, {}},
       [](window_handle d) {
         type_and_leave(d, IDC_GRANT_FRAMES, u"20");
         type_and_leave(d, IDC_RESOURCE_TIMEOUT, u"9");
         click(d, IDC_BALLOONING);
         click(d, IDC_LAN_NONE);
         click(d, IDC_TCP_ENABLE);
         click(d, IDC_DEFAULTS);
       },
       with({shows(IDC_GRANT_FRAMES, u"10"), shows(IDC_RESOURCE_TIMEOUT, u"0"),
             checked({IDC_BALLOONING, IDC_LAN_ALL})},
            tcp_off()),
       {},
       false},
      {"Default on kvm unchecks Serial MSI and OK writes 0",
       {variant::kvm, kWindows10, {serial_msi(1)}},
       [](window_handle d) { click(d, IDC_DEFAULTS); },
       {unchecked({IDC_SERIAL_MSI}), enabled({IDC_SERIAL_MSI})},
       {msi_written(0)},
       true},
      {"Default on windows 2000 keeps the TCP options unavailable",
       {variant::xen, kWindows2000, {bus(u"grant_frames", 20)}},
       [](window_handle d) { click(d, IDC_DEFAULTS); },
       with({disabled({IDC_TCP_GROUP, IDC_TCP_ENABLE, IDC_BOOT_PV_SCSI}),
             shows(IDC_GRANT_FRAMES, u"10")},
            tcp_off()),
       {bus_written("grant_frames", 10)},
       true},
      // TCP Enable.
      {"TCP Enable on installs the five defaults",
       {variant::basic, kWindows10, {}},
       [](window_handle d) { click(d, IDC_TCP_ENABLE); },
       tcp_defaults_shown(),
       {afd_written("DefaultSendWindow", 1048576), afd_written("DefaultReceiveWindow", 1048576),
        afd_written("FastSendDatagramThreshold", 16384), tcpip_written("TcpWindowSize", 1048576),
        tcpip_written("Tcp1323Opts", 1)},
       true},
      {"TCP Enable on installs the defaults again after other values were typed",
       {variant::basic, kWindows10, all_tcp_stored()},
       [](window_handle d) {
         type_and_leave(d, IDC_SEND_WINDOW, u"5000");
         type_and_leave(d, IDC_TCP1323_OPTS, u"2");
         click(d, IDC_TCP_ENABLE);
         expect_looks(standin::dialog(d).controls, tcp_off());
         click(d, IDC_TCP_ENABLE);
       },
       tcp_defaults_shown(),
       {afd_written("DefaultSendWindow", 1048576), afd_written("DefaultReceiveWindow", 1048576),
        afd_written("FastSendDatagramThreshold", 16384), tcpip_written("TcpWindowSize", 1048576),
        tcpip_written("Tcp1323Opts", 1)},
       true},
      {"TCP Enable off removes the stored values only",
       {variant::xen,
        kWindows10,
        {afd(u"DefaultSendWindow", 65536), afd(u"FastSendDatagramThreshold", 1024),
         tcpip(u"Tcp1323Opts", 3)}},
       [](window_handle d) { click(d, IDC_TCP_ENABLE); },
       tcp_off(),
       {afd_deleted("DefaultSendWindow"), afd_deleted("FastSendDatagramThreshold"),
        tcpip_deleted("Tcp1323Opts")},
       true},
      // Serial MSI.
      {"kvm: checking Serial MSI writes 1",
       {variant::kvm, kWindows10, {serial_msi(0)}},
       [](window_handle d) { click(d, IDC_SERIAL_MSI); },
       {checked({IDC_SERIAL_MSI})},
       {msi_written(1)},
       true},
      {"kvm, device without instances: checking Serial MSI writes nothing but offers the reboot",
       {variant::kvm, kWindows10, {kSerialDeviceWithoutInstances}},
       [](window_handle d) { click(d, IDC_SERIAL_MSI); },
       {checked({IDC_SERIAL_MSI})},
       {},
       true},
      {"kvm, no serial device: Serial MSI cannot be checked",
       {variant::kvm, kWindows10, {}},
       [](window_handle d) { EXPECT_FALSE(standin::click(d, IDC_SERIAL_MSI)); },
       {unchecked({IDC_SERIAL_MSI}), disabled({IDC_SERIAL_MSI})},
       {},
       false},
  };
  std::vector<edit_case> all = driver_control_cases();
  all.insert(all.begin(), cases.begin(), cases.end());
  for (const edit_case& c : all) {
    SCOPED_TRACE(c.name);
    fresh();
    const outcome o = run_program(c.m, c.user);
    expect_clean_end(o);
    expect_looks(o.before_ok, c.shown);
    EXPECT_EQ(o.ok_answer, 1);
    EXPECT_EQ(standin::dialog(o.settings).result, 1);
    EXPECT_EQ(message_ids(), std::vector<u32>{});
    EXPECT_EQ(registry_changes(), c.ok_writes);
    EXPECT_EQ(standin::reboot_prompts(), c.reboot ? 1 : 0);
  }
}

// ---- Cancel.

struct cancel_case {
  const char* name;
  machine m;
  user_actions user;  // ends with Cancel
  std::vector<u32> messages = {};
};

TEST_F(SettingsDialogTest, CancelWritesNothing) {
  const std::vector<cancel_case> cases = {
      {"xen, after edits, boxes and Default",
       {variant::xen, kWindows10, join({bus(u"use_pv_drivers", 0x401)}, all_tcp_stored())},
       [](window_handle d) {
         type_and_leave(d, IDC_GRANT_FRAMES, u"20");
         click(d, IDC_BOOT_PV_SCSI);
         click(d, IDC_ONE_CONTROLLER);
         click(d, IDC_TCP_ENABLE);
         click(d, IDC_DEFAULTS);
         EXPECT_NE(standin::command(d, platform::id_cancel), 0);
       }},
      {"xen, after a refused OK",
       {variant::xen, kWindows10, {bus(u"grant_frames", 64)}},
       [](window_handle d) {
         EXPECT_EQ(standin::command(d, platform::id_ok), 0);
         click(d, platform::id_cancel);
       },
       {1013}},
      {"kvm, Serial MSI checked",
       {variant::kvm, kWindows10, {serial_msi(0)}},
       [](window_handle d) {
         click(d, IDC_SERIAL_MSI);
         click(d, platform::id_cancel);
       }},
      {"basic, TCP options turned on and a value typed",
       {variant::basic, kWindows10, {}},
       [](window_handle d) {
         click(d, IDC_TCP_ENABLE);
         EXPECT_TRUE(standin::type_text(d, IDC_SEND_WINDOW, u"5000"));
         click(d, platform::id_cancel);
       }},
      // Escape leaves the focus in the edit; ending the dialog takes it away, and that is no edit
      // of the user's to check. A click on Cancel takes the focus first, and that check shows.
      {"xen, Escape with abc in Max Disks",
       {variant::xen, kWindows10, {}},
       [](window_handle d) {
         EXPECT_TRUE(standin::type_text(d, IDC_MAX_DISKS, u"abc"));
         EXPECT_NE(standin::command(d, platform::id_cancel), 0);
       }},
      {"xen, Cancel clicked with abc in Max Disks",
       {variant::xen, kWindows10, {}},
       [](window_handle d) {
         EXPECT_TRUE(standin::type_text(d, IDC_MAX_DISKS, u"abc"));
         click(d, platform::id_cancel);
       },
       {1011}},
  };
  for (const cancel_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const outcome o = run_program(c.m, c.user);
    expect_clean_end(o);
    EXPECT_EQ(standin::dialog(o.settings).result, 0);
    EXPECT_EQ(message_ids(), c.messages);
    EXPECT_EQ(registry_changes(), std::vector<std::string>{});
    EXPECT_EQ(standin::reboot_prompts(), 0);
  }
}

// ---- What the procedure answers the dialog manager.

struct answer {
  int id;
  u32 notification;
  bool handled;
};

struct answers_case {
  const char* name;
  machine m;
  std::vector<answer> commands;  // the last one ends the dialog
};

TEST_F(SettingsDialogTest, CommandsAnswerAsTheDialogManagerExpects) {
  const std::vector<answers_case> cases = {
      {"xen",
       {variant::xen, kWindows10, {bus(u"grant_frames", 64)}},
       {{platform::id_ok, 0, false},  // refused: grant frames out of range
        {IDC_GRANT_FRAMES, kEnChange, false},
        {IDC_GRANT_FRAMES, platform::en_killfocus, false},
        {IDC_RESOURCE_TIMEOUT, kEnSetFocus, false},
        {IDC_SEND_WINDOW, kEnChange, false},
        {IDC_TCP_ENABLE, 0, false},
        {IDC_BOOT_PV_SCSI, 0, false},
        {IDC_DEFAULTS, 0, true},
        {IDC_HELP_BUTTON, 0, true},
        {IDC_BALLOONING, 0, true},
        {IDC_DISK_XVD, 0, true},
        {IDC_LAN_NONE, 0, true},
        {IDC_XEN_GROUP, 0, true},
        {9999, 0, true},
        {platform::id_ok, 0, true}}},
      {"kvm",
       {variant::kvm, kWindows10, {serial_msi(0)}},
       {{IDC_SERIAL_MSI, 0, true},
        {IDC_TCP_ENABLE, 0, false},
        {IDC_RECEIVE_WINDOW, kEnSetFocus, false},
        {IDC_DEFAULTS, 0, true},
        {IDC_HELP_BUTTON, 0, true},
        {platform::id_cancel, 0, true}}},
      {"basic",
       {variant::basic, kWindows10, {}},
       {{IDC_TCP_ENABLE, 0, false},
        {IDC_TCP1323_OPTS, kEnChange, false},
        {IDC_TCP_GROUP, 0, true},
        {IDC_HELP_BUTTON, 0, true},
        {platform::id_ok, 0, true}}},
  };
  for (const answers_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const outcome o = run_program(
        c.m,
        [&](window_handle d) {
          EXPECT_EQ(ui::settings_dialog_procedure(d, kWmPaint, 0, 0), 0)
              << "a message other than initialisation and commands is not handled";
          for (const answer& a : c.commands) {
            SCOPED_TRACE("command " + std::to_string(a.id) + " notification " +
                         std::to_string(a.notification));
            EXPECT_FALSE(standin::dialog(d).ended) << "the dialog ended too early";
            EXPECT_EQ(standin::command(d, a.id, a.notification) != 0, a.handled);
          }
        },
        false);
    expect_clean_end(o);
  }
}

// ---- The program's end.

TEST_F(SettingsDialogTest, ProgramEndsWithExitCodeZeroOnEveryPath) {
  struct end_case {
    const char* name;
    variant kind;
    user_actions user;
    std::intptr_t result;
  };
  const std::vector<end_case> cases = {
      {"xen, OK", variant::xen, [](window_handle d) { click(d, platform::id_ok); }, 1},
      {"kvm, Cancel (Escape)", variant::kvm,
       [](window_handle d) { standin::command(d, platform::id_cancel); }, 0},
      {"basic, OK (Enter)", variant::basic,
       [](window_handle d) { standin::command(d, platform::id_ok); }, 1},
  };
  for (const end_case& c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    const outcome o = run_program({c.kind, kWindows10, {}}, c.user, false);
    expect_clean_end(o);
    EXPECT_EQ(standin::dialog(o.settings).result, c.result);
    EXPECT_EQ(standin::timeline_matching("dialog "),
              std::vector<std::string>{std::string("dialog ") + template_of(c.kind)});
  }
}

TEST_F(SettingsDialogTest, SettingsDialogThatCannotBeCreatedEndsTheProgramAfterItsMessage) {
  standin::fail(standin::op::dialog_create, platform::error_not_enough_memory,
                u"ORVANE_DLG_TEMPLATE");
  const outcome o = run_program({variant::xen, kWindows10, {}}, nullptr);
  EXPECT_EQ(o.exit_code, 0);
  EXPECT_EQ(o.settings, nullptr);
  EXPECT_EQ(message_ids(), std::vector<u32>{1009});
  EXPECT_FALSE(standin::loop_blocked());
  EXPECT_EQ(registry_changes(), std::vector<std::string>{});
}

}  // namespace
