// The scenario table: every end-to-end case as machine state, user steps and expected outcome.
#include "kit/scenarios.h"

#include <initializer_list>
#include <utility>

#include "resource.h"

namespace e2e {

const wchar_t* const kSettingsCaption = L"TARN Device Control Settings v1.0.1.0006";
const wchar_t* const kMessageCaption = L"TARN Device Control Settings";
const wchar_t* const kHelpCaption = L"Vivediz Help";

step enter(int id, const std::wstring& text, location where) {
  return step{step::op::enter, id, text, 0, where};
}
step type_in(int id, const std::wstring& text, location where) {
  return step{step::op::type_in, id, text, 0, where};
}
step leave(int id, location where) { return step{step::op::leave, id, L"", 0, where}; }
step click(int id, location where) { return step{step::op::click, id, L"", 0, where}; }
step escape(int id, location where) { return step{step::op::escape, id, L"", 0, where}; }
step message(const std::wstring& text, location where) {
  return step{step::op::message, 0, text, 0, where};
}
step checked(int id, bool is_checked, location where) {
  return step{step::op::checked, id, L"", is_checked ? 1 : 0, where};
}
step enabled(int id, bool is_enabled, location where) {
  return step{step::op::enabled, id, L"", is_enabled ? 1 : 0, where};
}
step shows(int id, const std::wstring& text, location where) {
  return step{step::op::shows, id, text, 0, where};
}
step still_open(location where) { return step{step::op::still_open, 0, L"", 0, where}; }
step help_opens(int paragraphs, const std::wstring& first_paragraph, location where) {
  return step{step::op::help_opens, 0, first_paragraph, paragraphs, where};
}
step help_escape(location where) { return step{step::op::help_escape, 0, L"", 0, where}; }
step help_ok(location where) { return step{step::op::help_ok, 0, L"", 0, where}; }
step key(int virtual_key, location where) {
  return step{step::op::key, 0, L"", virtual_key, where};
}
step alt_key(char letter, location where) {
  return step{step::op::key, 0x12, L"", letter, where};  // VK_MENU; a letter's key is its capital
}

namespace {

using items = std::vector<reg_item>;
using steps = std::vector<step>;

template <typename T>
std::vector<T> cat(std::initializer_list<std::vector<T>> parts) {
  std::vector<T> all;
  for (const std::vector<T>& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// What the user reads.

const std::wstring kDeviceControlFailed = L"Failed to set Device Control options";
const std::wstring kFlagsFailed = L"Failed to set Flags control option";
const std::wstring kGrantFramesFailed = L"Failed to set Grant Frame control option";
const std::wstring kMaxDisksFailed = L"Failed to set Max Disks control option";
const std::wstring kShutdownDelayFailed = L"Failed to set Shutdown Delay control option";
const std::wstring kResourceTimeoutFailed = L"Failed to set Resource Timeout control option";
const std::wstring kTcpFailed = L"Failed to set TCP control options";
const std::wstring kInvalid = L"Entered value is invalid, using last good value";
const std::wstring kBelowMinimum = L"Entered value is less than minimum, using minimum value";
const std::wstring kAboveMaximum = L"Entered value is greater than maximum, using maximum value";
const std::wstring kNeedAdministrator = L"Vivediz must be run with administrative permissions.";
const std::wstring kNeedRunAsAdministrator = L"Vivediz must be 'Run as administrator'.";

const std::wstring kXenHelpFirst =
    L"Disk - can be All, xvd<x>, and None.  When set to All, the disk driver will control all "
    L"hard disks presented to the VM.  If set to xvd<x>, the disk driver will only control disk "
    L"that are specified as xvd<x> in the VM's config file.  <x> is a letter beginning with 'e'. "
    L" If set to None, the disk driver will not control any hard disks presented the the VM.  "
    L"The default is All.";
const std::wstring kSerialMsiHelpFirst =
    L"Serial MSI - If checked, MSI interrupts will be used.  If not checked, regular interrupts "
    L"are used (default).  If there is a possiblity that the VM will hibernate, do not use MSI "
    L"interrupts.  MSI interrupts are not available after a hibernate.";
const std::wstring kTcpHelpFirst =
    L"TCP Options: Enable - When checked, the options are turned on and are allow to be "
    L"modified.  Unchecking the box will remove the options.";

// Environment.

std::vector<environment_variable> cpu(const std::wstring& leaf_40000000,
                                      const std::wstring& leaf_40000100 = L"") {
  std::vector<environment_variable> v = {{L"VIVEDIZ_TEST_CPUID_40000000", leaf_40000000}};
  if (!leaf_40000100.empty()) v.push_back({L"VIVEDIZ_TEST_CPUID_40000100", leaf_40000100});
  return v;
}
std::vector<environment_variable> xen_cpu() { return cpu(L"XenVMMXenVMM"); }
std::vector<environment_variable> kvm_cpu() { return cpu(L"KVMKVMKVM"); }
std::vector<environment_variable> no_hypervisor() { return cpu(L"NoHypervisor"); }
const environment_variable kNotAdministrator = {L"VIVEDIZ_TEST_ADMIN", L"0"};

// Machine state.

const wchar_t* const kIntel64 = L"Intel64 Family 6 Model 85 Stepping 7, GenuineIntel";
const wchar_t* const kX86 = L"x86 Family 6 Model 15 Stepping 11, GenuineIntel";

items windows(const std::wstring& product, const std::wstring& release_id = L"",
              const wchar_t* identifier = kIntel64, location where = E2E_HERE_DEFAULT) {
  return {string_value(kProcessorKey, L"Identifier", identifier, where),
          string_value(kCurrentVersionKey, L"ProductName", product, where),
          release_id.empty() ? no_value(kCurrentVersionKey, L"ReleaseId", where)
                             : string_value(kCurrentVersionKey, L"ReleaseId", release_id, where)};
}
items windows_10(location where = E2E_HERE_DEFAULT) {
  return windows(L"Windows 10 Pro", L"2004", kIntel64, where);
}
items windows_7(location where = E2E_HERE_DEFAULT) {
  return windows(L"Windows 7 Professional", L"", kIntel64, where);
}

struct named_dword {
  const wchar_t* name;
  DWORD value;
};

// Values in the bus parameters key (the key alone when there are none).
items bus(std::initializer_list<named_dword> values, const wchar_t* key = kCurrentBusKey,
          location where = E2E_HERE_DEFAULT) {
  items out = {key_exists(key, where)};
  for (const named_dword& v : values) out.push_back(dword_value(key, v.name, v.value, where));
  return out;
}
reg_item bus_value(const wchar_t* name, DWORD value, location where = E2E_HERE_DEFAULT) {
  return dword_value(kCurrentBusKey, name, value, where);
}
items typical_bus(location where = E2E_HERE_DEFAULT) {
  return bus({{L"use_pv_drivers", 3},
              {L"orvane_flags", 5},
              {L"grant_frames", 12},
              {L"max_disks", 32},
              {L"shutdown_delay", 7},
              {L"timeout", 9}},
             kCurrentBusKey, where);
}

std::wstring start_override_key(const wchar_t* service) {
  return std::wstring(service) + L"\\StartOverride";
}
// Both boot-start drivers disabled by a start override, as Windows 8 and later leave them.
items start_overrides(location where = E2E_HERE_DEFAULT) {
  items out;
  for (const wchar_t* service : {kCurrentBlockKey, kCurrentScsiKey}) {
    out.push_back(dword_value(service, L"Start", 0, where));
    out.push_back(dword_value(start_override_key(service), L"0", 3, where));
  }
  return out;
}

const std::wstring kVbd768 = std::wstring(kXenEnumKey) + L"\\type_vbd\\768";
const std::wstring kVbd5632 = std::wstring(kXenEnumKey) + L"\\type_vbd\\5632";
const std::wstring kVscsi0 = std::wstring(kXenEnumKey) + L"\\type_vscsi\\0";
const std::wstring kVif0 = std::wstring(kXenEnumKey) + L"\\type_vif\\0";

items xen_device(const std::wstring& path, const std::vector<std::wstring>& hardware_ids,
                 const wchar_t* class_guid, location where) {
  return {multi_string_value(path, L"HardwareID", hardware_ids, where),
          string_value(path, L"ClassGUID", class_guid, where),
          dword_value(path, L"ConfigFlags", 0x400, where)};
}
// Two PV disks (one with a hardware id in capitals), a PV SCSI adapter and a PV network adapter,
// all with configuration flags 0x400. Wine's SetupAPI rewrites the "ClassGUID" of every device it
// lists in capitals (Windows leaves it as it is); written in capitals here, it reads back the same.
items xen_devices(location where = E2E_HERE_DEFAULT) {
  const wchar_t* disk = L"{4D36E967-E325-11CE-BFC1-08002BE10318}";
  const wchar_t* scsi = L"{4D36E97B-E325-11CE-BFC1-08002BE10318}";
  const wchar_t* net = L"{4D36E972-E325-11CE-BFC1-08002BE10318}";
  return cat<reg_item>({xen_device(kVbd768, {L"XEN\\TYPE_VBD\\768", L"XEN\\TYPE_VBD"}, disk, where),
                        xen_device(kVbd5632, {L"xen\\type_vbd"}, disk, where),
                        xen_device(kVscsi0, {L"xen\\type_vscsi"}, scsi, where),
                        xen_device(kVif0, {L"xen\\type_vif"}, net, where)});
}
reg_item config_flags(const std::wstring& device, DWORD value, location where = E2E_HERE_DEFAULT) {
  return dword_value(device, L"ConfigFlags", value, where);
}
// What re-enabling the block driver does; the SCSI driver's counterpart below.
items block_driver_reenabled(location where = E2E_HERE_DEFAULT) {
  return {no_key(start_override_key(kCurrentBlockKey), where), config_flags(kVbd768, 0, where),
          config_flags(kVbd5632, 0, where)};
}
items scsi_driver_reenabled(location where = E2E_HERE_DEFAULT) {
  return {no_key(start_override_key(kCurrentScsiKey), where), config_flags(kVscsi0, 0, where)};
}

const std::wstring kSerialDevice =
    std::wstring(kPciEnumKey) + L"\\VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00";
// The modern (virtio 1.0, not transitional) console: device ID 0x1040 + 3.
const std::wstring kModernSerialDevice =
    std::wstring(kPciEnumKey) + L"\\ven_1af4&dev_1043&subsys_11001af4&rev_01";
const std::wstring kNetDevice =
    std::wstring(kPciEnumKey) + L"\\VEN_1AF4&DEV_1000&SUBSYS_00011AF4&REV_00";
const wchar_t* const kMsiSuffix =
    L"\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties";

std::wstring msi_key(const std::wstring& device, const wchar_t* instance) {
  return device + L"\\" + instance + kMsiSuffix;
}
reg_item msi(const std::wstring& device, const wchar_t* instance, DWORD value,
             location where = E2E_HERE_DEFAULT) {
  return dword_value(msi_key(device, instance), L"MSISupported", value, where);
}
// Wine's device setup interface lists a device under Enum\PCI, present or not, when its instance
// key has a "ClassGUID": one without is, to the program, a device that is not present.
reg_item listed_device(const std::wstring& device, const wchar_t* instance,
                       location where = E2E_HERE_DEFAULT) {
  return string_value(device + L"\\" + instance, L"ClassGUID",
                      L"{4D36E97D-E325-11CE-BFC1-08002BE10318}", where);
}
// A virtio network device, listed before the serial one, whose MSI value must stay as it is.
items other_virtio_device(location where = E2E_HERE_DEFAULT) {
  return {msi(kNetDevice, L"3&13c0b0c5&0&18", 0, where)};
}
// The serial device with three instances: the first without an MSI key.
items serial_instances(DWORD second, DWORD third, location where = E2E_HERE_DEFAULT) {
  return {key_exists(kSerialDevice + L"\\3&13c0b0c5&0&20\\Device Parameters", where),
          msi(kSerialDevice, L"3&13c0b0c5&0&28", second, where),
          msi(kSerialDevice, L"3&13c0b0c5&0&30", third, where)};
}

// An instance name of `length` characters that sorts by `index`.
std::wstring instance_name(int index, std::size_t length) {
  const std::wstring prefix = L"3&13c0b0c5&0&";
  const std::wstring digits = std::to_wstring(index);
  return prefix + std::wstring(length - prefix.size() - digits.size(), L'0') + digits;
}
// The serial device with `count` instances of such names, each with an MSI key: the first (in
// enumeration order) holding `first`, the others `others`.
items many_instances(int count, std::size_t length, DWORD first, DWORD others,
                     location where = E2E_HERE_DEFAULT) {
  items out;
  for (int i = 0; i < count; ++i) {
    out.push_back(
        msi(kSerialDevice, instance_name(i, length).c_str(), i == 0 ? first : others, where));
  }
  return out;
}

struct tcp_values {
  DWORD send_window, receive_window, fast_send_threshold, tcp_window_size, tcp1323_opts;
};
constexpr DWORD kNotStored = 0xFFFFFFFF;
constexpr tcp_values kTcpDefaults = {1048576, 1048576, 16384, 1048576, 1};
constexpr tcp_values kTcpStored = {65536, 131072, 1024, 262144, 3};
constexpr tcp_values kTcpNone = {kNotStored, kNotStored, kNotStored, kNotStored, kNotStored};

// The five TCP values, each stored or (kNotStored) missing.
items tcp(const tcp_values& v, location where = E2E_HERE_DEFAULT) {
  const std::pair<const wchar_t*, DWORD> afd[] = {
      {L"DefaultSendWindow", v.send_window},
      {L"DefaultReceiveWindow", v.receive_window},
      {L"FastSendDatagramThreshold", v.fast_send_threshold}};
  const std::pair<const wchar_t*, DWORD> tcpip[] = {{L"TcpWindowSize", v.tcp_window_size},
                                                    {L"Tcp1323Opts", v.tcp1323_opts}};
  items out;
  for (const auto& a : afd) {
    out.push_back(a.second == kNotStored ? no_value(kAfdKey, a.first, where)
                                         : dword_value(kAfdKey, a.first, a.second, where));
  }
  for (const auto& t : tcpip) {
    out.push_back(t.second == kNotStored ? no_value(kTcpipKey, t.first, where)
                                         : dword_value(kTcpipKey, t.first, t.second, where));
  }
  return out;
}

// What the dialog shows.

constexpr int kDiskControls[] = {IDC_DISK_GROUP, IDC_DISK_ALL, IDC_DISK_XVD, IDC_DISK_NONE};
constexpr int kTcpControls[] = {IDC_SEND_WINDOW_LABEL,         IDC_SEND_WINDOW,
                                IDC_RECEIVE_WINDOW_LABEL,      IDC_RECEIVE_WINDOW,
                                IDC_TCP_WINDOW_SIZE_LABEL,     IDC_TCP_WINDOW_SIZE,
                                IDC_TCP1323_OPTS_LABEL,        IDC_TCP1323_OPTS,
                                IDC_FAST_SEND_THRESHOLD_LABEL, IDC_FAST_SEND_THRESHOLD};
constexpr int kTcpEdits[] = {IDC_SEND_WINDOW, IDC_RECEIVE_WINDOW, IDC_TCP_WINDOW_SIZE,
                             IDC_TCP1323_OPTS, IDC_FAST_SEND_THRESHOLD};

template <std::size_t n>
steps all_enabled(const int (&ids)[n], bool is_enabled, location where) {
  steps out;
  for (int id : ids) out.push_back(enabled(id, is_enabled, where));
  return out;
}

steps disk_group_enabled(bool is_enabled, location where = E2E_HERE_DEFAULT) {
  return all_enabled(kDiskControls, is_enabled, where);
}

// The selected radio button of a group, and that the others are not selected.
steps radio_selected(std::initializer_list<int> group, int selected, location where) {
  steps out;
  for (int id : group) out.push_back(checked(id, id == selected, where));
  return out;
}

struct xen_view {
  int disk;  // IDC_DISK_ALL, IDC_DISK_XVD or IDC_DISK_NONE
  int lan;   // IDC_LAN_ALL, IDC_LAN_NETFRONT or IDC_LAN_NONE
  bool ballooning, instance_ids, boot_pv_scsi, one_controller;
  const wchar_t *grant_frames, *max_disks, *shutdown_delay, *timeout;
};

steps xen_shows(const xen_view& v, location where = E2E_HERE_DEFAULT) {
  return cat<step>(
      {radio_selected({IDC_DISK_ALL, IDC_DISK_XVD, IDC_DISK_NONE}, v.disk, where),
       radio_selected({IDC_LAN_ALL, IDC_LAN_NETFRONT, IDC_LAN_NONE}, v.lan, where),
       {checked(IDC_BALLOONING, v.ballooning, where),
        checked(IDC_INSTANCE_IDS, v.instance_ids, where),
        checked(IDC_BOOT_PV_SCSI, v.boot_pv_scsi, where),
        checked(IDC_ONE_CONTROLLER, v.one_controller, where),
        shows(IDC_GRANT_FRAMES, v.grant_frames, where), shows(IDC_MAX_DISKS, v.max_disks, where),
        shows(IDC_SHUTDOWN_DELAY, v.shutdown_delay, where),
        shows(IDC_RESOURCE_TIMEOUT, v.timeout, where)}});
}

// TCP options off: Enable unchecked (and usable), the edits empty and the ten controls disabled.
steps tcp_shows_off(location where = E2E_HERE_DEFAULT) {
  steps out = {checked(IDC_TCP_ENABLE, false, where), enabled(IDC_TCP_ENABLE, true, where),
               enabled(IDC_TCP_GROUP, true, where)};
  for (int id : kTcpEdits) out.push_back(shows(id, L"", where));
  return cat<step>({out, all_enabled(kTcpControls, false, where)});
}

// TCP options on, with the texts of the send window, receive window, TCP window size, 1323
// options and fast-send threshold edits.
steps tcp_shows(std::initializer_list<const wchar_t*> texts, location where = E2E_HERE_DEFAULT) {
  steps out = {checked(IDC_TCP_ENABLE, true, where), enabled(IDC_TCP_ENABLE, true, where)};
  const int* id = kTcpEdits;
  for (const wchar_t* text : texts) out.push_back(shows(*id++, text, where));
  return cat<step>({out, all_enabled(kTcpControls, true, where)});
}

steps tcp_shows_defaults(location where = E2E_HERE_DEFAULT) {
  return tcp_shows({L"1048576", L"1048576", L"1048576", L"1", L"16384"}, where);
}

// Windows 2000: the TCP group, Enable, the ten TCP controls and Boot PV SCSI are disabled.
steps windows_2000_locks(location where = E2E_HERE_DEFAULT) {
  steps out = {enabled(IDC_TCP_GROUP, false, where), enabled(IDC_TCP_ENABLE, false, where),
               checked(IDC_TCP_ENABLE, false, where)};
  for (int id : kTcpEdits) out.push_back(shows(id, L"", where));
  return cat<step>({out, all_enabled(kTcpControls, false, where)});
}

// One focus-loss check: what is typed, the message it brings (empty for none), what is shown.
struct field_row {
  int id;
  const wchar_t* typed;
  std::wstring message;
  const wchar_t* shown;
  location where;
};

steps type_rows(std::initializer_list<field_row> rows) {
  steps out;
  for (const field_row& row : rows) {
    out.push_back(enter(row.id, row.typed, row.where));
    if (!row.message.empty()) out.push_back(message(row.message, row.where));
    out.push_back(shows(row.id, row.shown, row.where));
  }
  return out;
}

// Help: open, Escape does not close it, close with OK.
steps help_round(int paragraphs, const std::wstring& first, location where = E2E_HERE_DEFAULT) {
  return {click(IDC_HELP_BUTTON, where), help_opens(paragraphs, first, where), help_escape(where),
          help_ok(where)};
}

scenario make(const std::string& name, variant shown, location where = E2E_HERE_DEFAULT) {
  scenario s;
  s.name = name;
  s.where = where;
  s.also_x86 = false;
  s.program = build::test;
  s.shown = shown;
  s.reboot = false;
  return s;
}

}  // namespace

std::vector<scenario> all_scenarios() {
  std::vector<scenario> all;

  // Xen variant: load, edit, commit.
  {
    scenario s = make("typical_run_max_disks_64", variant::xen);
    s.also_x86 = true;
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus(), start_overrides(), xen_devices()});
    s.steps = cat<step>(
        {xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, true, true, false, false, L"12", L"32", L"7", L"9"}),
         disk_group_enabled(true),
         {enabled(IDC_BOOT_PV_SCSI, true)},
         tcp_shows_off(),
         {enter(IDC_MAX_DISKS, L"64"), shows(IDC_MAX_DISKS, L"64"), click(IDOK)}});
    s.after = {bus_value(L"max_disks", 64)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("xen_defaults_when_nothing_is_stored", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), bus({})});
    s.steps = cat<step>({xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, true, false, false, false, L"10",
                                    L"32", L"0", L"0"}),
                         tcp_shows_off(),
                         {click(IDOK)}});
    s.reboot = false;  // nothing differed: nothing written, no reboot prompt
    all.push_back(s);
  }
  {
    scenario s = make("boot_pv_scsi_windows_10_reenables_both_drivers", variant::xen);
    s.also_x86 = true;
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows_10(), bus({{L"use_pv_drivers", 3}}), start_overrides(), xen_devices()});
    s.steps = cat<step>(
        {{checked(IDC_BOOT_PV_SCSI, false), click(IDC_DISK_NONE), checked(IDC_DISK_NONE, true),
          click(IDC_BOOT_PV_SCSI), checked(IDC_BOOT_PV_SCSI, true), checked(IDC_DISK_ALL, true),
          checked(IDC_DISK_NONE, false)},
         disk_group_enabled(false),
         {click(IDOK)}});
    s.after = cat<reg_item>({{bus_value(L"use_pv_drivers", 0x2003)},
                             block_driver_reenabled(),
                             scsi_driver_reenabled()});
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("boot_pv_scsi_windows_7_no_reenable", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows_7(), bus({{L"use_pv_drivers", 3}}), start_overrides(), xen_devices()});
    s.steps = cat<step>({{click(IDC_BOOT_PV_SCSI), checked(IDC_BOOT_PV_SCSI, true)},
                         disk_group_enabled(false),
                         {click(IDOK)}});
    s.after = {bus_value(L"use_pv_drivers", 0x2003)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("boot_pv_scsi_unchecked_enables_disk_group", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_7(), bus({{L"use_pv_drivers", 0x2003}})});
    s.steps = cat<step>({{checked(IDC_BOOT_PV_SCSI, true), checked(IDC_DISK_ALL, true)},
                         disk_group_enabled(false),
                         {click(IDC_BOOT_PV_SCSI), checked(IDC_BOOT_PV_SCSI, false)},
                         disk_group_enabled(true),
                         {click(IDC_DISK_XVD), checked(IDC_DISK_XVD, true),
                          checked(IDC_DISK_ALL, false), click(IDOK)}});
    s.after = {bus_value(L"use_pv_drivers", 0x403)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("lan_netfront_windows_10_reenables_block_driver_only", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows_10(), bus({{L"use_pv_drivers", 3}}), start_overrides(), xen_devices()});
    s.steps = {click(IDC_LAN_NETFRONT), checked(IDC_LAN_NETFRONT, true), click(IDOK)};
    s.after = cat<reg_item>({{bus_value(L"use_pv_drivers", 0x803)}, block_driver_reenabled()});
    s.reboot = true;
    all.push_back(s);
  }
  // A product name is read into 520 bytes: 259 characters and the terminator fit, one more does
  // not, and an unreadable name classifies as the 64-bit fallback (Windows Server 2022).
  static const std::wstring kLongestWindows7 = L"Windows 7 Professional" + std::wstring(237, L'x');
  static const std::wstring kTooLongWindows7 = kLongestWindows7 + L"x";
  // Which Windows versions re-enable the block driver when use_pv_drivers changes.
  struct gate_row {
    const char* name;
    const wchar_t* product;
    const wchar_t* release_id;
    bool reenables;
    location where;
  };
  const gate_row gate_rows[] = {
      {"windows_8_1", L"Windows 8.1 Pro", L"", true, E2E_HERE_DEFAULT},
      {"windows_10_release_1909", L"Windows 10 Pro", L"1909", true, E2E_HERE_DEFAULT},
      {"server_2012_r2", L"Windows Server 2012 R2 Datacenter", L"", true, E2E_HERE_DEFAULT},
      {"unlisted_windows_11", L"Windows 11 Pro", L"22H2", true, E2E_HERE_DEFAULT},
      {"server_2008_r2", L"Windows Server 2008 R2 Standard", L"", false, E2E_HERE_DEFAULT},
      {"vista", L"Windows Vista Business", L"", false, E2E_HERE_DEFAULT},
      {"lower_case_windows_8_1", L"windows 8.1 pro", L"", true, E2E_HERE_DEFAULT},
      {"server_2008", L"Windows Server 2008 Standard", L"", false, E2E_HERE_DEFAULT},
      {"server_2003", L"Microsoft Windows Server 2003", L"", false, E2E_HERE_DEFAULT},
      {"windows_7_name_of_259_characters", kLongestWindows7.c_str(), L"", false, E2E_HERE_DEFAULT},
      {"windows_7_name_of_260_characters_unreadable", kTooLongWindows7.c_str(), L"", true,
       E2E_HERE_DEFAULT},
  };
  for (const gate_row& row : gate_rows) {
    scenario s = make(std::string("reenable_gate_") + row.name, variant::xen, row.where);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows(row.product, row.release_id, kIntel64, row.where),
                              bus({{L"use_pv_drivers", 3}}, kCurrentBusKey, row.where),
                              start_overrides(row.where), xen_devices(row.where)});
    s.steps = {click(IDC_LAN_NETFRONT, row.where), click(IDOK, row.where)};
    s.after = {bus_value(L"use_pv_drivers", 0x803, row.where)};
    if (row.reenables) s.after = cat<reg_item>({s.after, block_driver_reenabled(row.where)});
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("loaded_0x13_shows_all_and_writes_3", variant::xen);
    s.environment = xen_cpu();
    s.before =
        cat<reg_item>({windows_7(), bus({{L"use_pv_drivers", 0x13}, {L"orvane_flags", 0x10}})});
    s.steps = cat<step>({xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, false, false, false, false, L"10",
                                    L"32", L"0", L"0"}),
                         {click(IDOK)}});
    s.after = {bus_value(L"use_pv_drivers", 3)};  // orvane_flags keeps its unknown bit 0x10
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("field_rules_xen_edits", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus()});
    s.steps = cat<step>(
        {type_rows({
             {IDC_GRANT_FRAMES, L"33", kAboveMaximum, L"32", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"3", kBelowMinimum, L"4", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"abc", kInvalid, L"4", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"", kInvalid, L"4", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"+5", kInvalid, L"4", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"12 ", kInvalid, L"4", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"0x10", kInvalid, L"4", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"  20", L"", L"  20", E2E_HERE_DEFAULT},
             {IDC_GRANT_FRAMES, L"-5", kInvalid, L"20", E2E_HERE_DEFAULT},
             {IDC_MAX_DISKS, L"0", kBelowMinimum, L"1", E2E_HERE_DEFAULT},
             {IDC_MAX_DISKS, L"257", kAboveMaximum, L"256", E2E_HERE_DEFAULT},
             {IDC_MAX_DISKS, L"256", L"", L"256", E2E_HERE_DEFAULT},
             {IDC_SHUTDOWN_DELAY, L"4294967295", L"", L"4294967295", E2E_HERE_DEFAULT},
             {IDC_SHUTDOWN_DELAY, L"4294967296", kInvalid, L"4294967295", E2E_HERE_DEFAULT},
             {IDC_RESOURCE_TIMEOUT, L"99999999999", kInvalid, L"9", E2E_HERE_DEFAULT},
             {IDC_RESOURCE_TIMEOUT, L"0", L"", L"0", E2E_HERE_DEFAULT},
         }),
         {click(IDOK)}});
    s.after = {bus_value(L"grant_frames", 20), bus_value(L"max_disks", 256),
               bus_value(L"shutdown_delay", 4294967295u), bus_value(L"timeout", 0)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("stored_grant_frames_64_refused_once_by_ok", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), bus({{L"grant_frames", 64}})});
    s.steps = {shows(IDC_GRANT_FRAMES, L"64"), click(IDOK),  message(kAboveMaximum),
               shows(IDC_GRANT_FRAMES, L"32"), still_open(), click(IDOK)};
    s.after = {bus_value(L"grant_frames", 32)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("ok_reports_every_refused_field_of_both_groups", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), bus({{L"grant_frames", 64}, {L"max_disks", 0}}),
                              tcp({0, kNotStored, kNotStored, kNotStored, kNotStored})});
    s.steps = cat<step>(
        {tcp_shows({L"0", L"4294967295", L"4294967295", L"4294967295", L"4294967295"}),
         {click(IDOK), message(kAboveMaximum), message(kBelowMinimum), message(kBelowMinimum),
          shows(IDC_GRANT_FRAMES, L"32"), shows(IDC_MAX_DISKS, L"1"), shows(IDC_SEND_WINDOW, L"1"),
          still_open(), click(IDOK)}});
    s.after = {bus_value(L"grant_frames", 32), bus_value(L"max_disks", 1),
               dword_value(kAfdKey, L"DefaultSendWindow", 1)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("legacy_generation_write_failures_in_commit_order", variant::xen);
    s.also_x86 = true;
    s.environment = xen_cpu();
    // Neither bus key exists, so the legacy one is chosen and every Xen write fails; without the
    // AFD key the three AFD values fail too, and their one message comes after the Xen ones.
    s.before = cat<reg_item>({windows_10(), {no_key(kAfdKey)}});
    s.steps = cat<step>(
        {xen_shows(
             {IDC_DISK_ALL, IDC_LAN_ALL, true, false, false, false, L"10", L"32", L"0", L"0"}),
         {click(IDC_LAN_NONE), click(IDC_BALLOONING), enter(IDC_GRANT_FRAMES, L"20"),
          enter(IDC_MAX_DISKS, L"64"), enter(IDC_SHUTDOWN_DELAY, L"5"),
          enter(IDC_RESOURCE_TIMEOUT, L"6"), click(IDC_TCP_ENABLE), click(IDOK),
          message(kDeviceControlFailed), message(kFlagsFailed), message(kGrantFramesFailed),
          message(kMaxDisksFailed), message(kShutdownDelayFailed), message(kResourceTimeoutFailed),
          message(kTcpFailed)}});
    s.after = {dword_value(kTcpipKey, L"TcpWindowSize", 1048576),
               dword_value(kTcpipKey, L"Tcp1323Opts", 1)};
    s.reboot = true;  // the prompt comes although writes failed
    all.push_back(s);
  }
  {
    // A refused number falls back to the field's value at that moment: here the ones that
    // Default and the TCP Enable box have just put there.
    scenario s = make("last_good_value_after_default_and_enable", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_7(), bus({{L"grant_frames", 20}})});
    s.steps = {click(IDC_DEFAULTS),   enter(IDC_GRANT_FRAMES, L"abc"),
               message(kInvalid),     shows(IDC_GRANT_FRAMES, L"10"),
               click(IDC_TCP_ENABLE), enter(IDC_SEND_WINDOW, L"x1"),
               message(kInvalid),     shows(IDC_SEND_WINDOW, L"1048576"),
               click(IDC_TCP_ENABLE), click(IDOK)};
    s.after = {bus_value(L"grant_frames", 10)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("default_button_xen", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_7(),
                              bus({{L"use_pv_drivers", 0x803},
                                   {L"orvane_flags", 0x8},
                                   {L"grant_frames", 20},
                                   {L"max_disks", 64},
                                   {L"shutdown_delay", 5},
                                   {L"timeout", 6}}),
                              tcp(kTcpStored)});
    s.steps = cat<step>(
        {xen_shows(
             {IDC_DISK_ALL, IDC_LAN_NETFRONT, false, false, false, true, L"20", L"64", L"5", L"6"}),
         {click(IDC_INSTANCE_IDS), checked(IDC_INSTANCE_IDS, true), click(IDC_DEFAULTS)},
         xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, true, true, false, false, L"10", L"32", L"0", L"0"}),
         tcp_shows_off(),
         {click(IDOK)}});
    s.after = cat<reg_item>({{bus_value(L"use_pv_drivers", 3), bus_value(L"orvane_flags", 0x5),
                              bus_value(L"grant_frames", 10), bus_value(L"max_disks", 32),
                              bus_value(L"shutdown_delay", 0), bus_value(L"timeout", 0)},
                             tcp(kTcpNone)});
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("default_keeps_boot_pv_scsi", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_7(), bus({{L"use_pv_drivers", 3}})});
    s.steps =
        cat<step>({{click(IDC_BOOT_PV_SCSI), click(IDC_DEFAULTS), checked(IDC_BOOT_PV_SCSI, true)},
                   disk_group_enabled(false),
                   {click(IDOK)}});
    s.after = {bus_value(L"use_pv_drivers", 0x2003)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("cancel_after_edits_writes_nothing", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus(), start_overrides(), xen_devices()});
    s.steps = cat<step>({{enter(IDC_MAX_DISKS, L"64"), click(IDC_LAN_NONE), click(IDC_TCP_ENABLE)},
                         tcp_shows_defaults(),
                         {click(IDC_BOOT_PV_SCSI), click(IDC_INSTANCE_IDS), click(IDCANCEL)}});
    s.reboot = false;
    all.push_back(s);
  }

  {
    scenario s = make("disk_none_windows_10_no_reenable", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows_10(), bus({{L"use_pv_drivers", 3}}), start_overrides(), xen_devices()});
    s.steps = {click(IDC_DISK_NONE), click(IDOK)};
    s.after = {bus_value(L"use_pv_drivers", 2)};  // no disk bit: neither driver is re-enabled
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("processor_identifier_unreadable_no_reenable", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({{no_value(kProcessorKey, L"Identifier")},
                              {string_value(kCurrentVersionKey, L"ProductName", L"Windows 10 Pro"),
                               string_value(kCurrentVersionKey, L"ReleaseId", L"2004")},
                              bus({{L"use_pv_drivers", 3}}),
                              start_overrides(),
                              xen_devices()});
    // An unclassified Windows is neither 2000 nor XP (TCP and Boot PV SCSI usable) and older
    // than Windows 8 (no re-enable).
    s.steps = cat<step>({{enabled(IDC_BOOT_PV_SCSI, true)},
                         tcp_shows_off(),
                         {click(IDC_BOOT_PV_SCSI), click(IDOK)}});
    s.after = {bus_value(L"use_pv_drivers", 0x2003)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("legacy_generation_reads_and_writes_its_own_keys", variant::xen);
    s.environment = xen_cpu();
    s.before =
        cat<reg_item>({windows_10(),
                       bus({{L"use_pv_drivers", 0x803}, {L"grant_frames", 16}}, kLegacyBusKey),
                       start_overrides(),
                       {dword_value(start_override_key(kLegacyBlockKey), L"0", 3),
                        dword_value(start_override_key(kLegacyScsiKey), L"0", 3)},
                       xen_devices()});
    s.steps = cat<step>({xen_shows({IDC_DISK_ALL, IDC_LAN_NETFRONT, true, false, false, false,
                                    L"16", L"32", L"0", L"0"}),
                         {click(IDC_BOOT_PV_SCSI), click(IDOK)}});
    // The legacy block and SCSI keys lose their overrides; the current ones keep theirs.
    s.after = {dword_value(kLegacyBusKey, L"use_pv_drivers", 0x2803),
               no_key(start_override_key(kLegacyBlockKey)),
               no_key(start_override_key(kLegacyScsiKey)),
               config_flags(kVbd768, 0),
               config_flags(kVbd5632, 0),
               config_flags(kVscsi0, 0)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("both_generations_present_current_wins", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows_7(), bus({{L"max_disks", 48}}), bus({{L"max_disks", 16}}, kLegacyBusKey)});
    s.steps = {shows(IDC_MAX_DISKS, L"48"), enter(IDC_MAX_DISKS, L"64"), click(IDOK)};
    s.after = {bus_value(L"max_disks", 64)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    // Values are read without a type check when their data fits in four bytes; longer data reads
    // as missing. A changed value is written back as REG_DWORD; an unchanged one is left alone.
    scenario s = make("stored_values_of_other_types", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_7(),
                              {key_exists(kCurrentBusKey),
                               binary_value(kCurrentBusKey, L"grant_frames", {0x14, 0, 0, 0}),
                               string_value(kCurrentBusKey, L"max_disks", L"64"),
                               binary_value(kCurrentBusKey, L"timeout", {7, 0, 0, 0})}});
    s.steps = {shows(IDC_GRANT_FRAMES, L"20"), shows(IDC_MAX_DISKS, L"32"),
               shows(IDC_RESOURCE_TIMEOUT, L"7"), enter(IDC_GRANT_FRAMES, L"21"), click(IDOK)};
    s.after = {bus_value(L"grant_frames", 21)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("stored_out_of_range_corrected_on_focus_loss", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), bus({{L"grant_frames", 2}})});
    s.steps = {shows(IDC_GRANT_FRAMES, L"2"), leave(IDC_GRANT_FRAMES), message(kBelowMinimum),
               shows(IDC_GRANT_FRAMES, L"4"), click(IDOK)};
    s.after = {bus_value(L"grant_frames", 4)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    // Pressing OK takes the focus from the edit first: its check runs (and corrects it) before
    // OK reads the controls, which then accept the corrected value.
    scenario s = make("ok_with_refused_value_still_in_focus", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus()});
    s.steps = {type_in(IDC_GRANT_FRAMES, L"3"), click(IDOK), message(kBelowMinimum)};
    s.after = {bus_value(L"grant_frames", 4)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("cancel_with_invalid_value_in_focus_writes_nothing", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus()});
    s.steps = {type_in(IDC_MAX_DISKS, L"abc"), click(IDCANCEL), message(kInvalid)};
    s.reboot = false;
    all.push_back(s);
  }
  {
    // Escape leaves the focus in the edit; the dialog's end takes it away, which is no edit of the
    // user's: nothing is checked, shown or written.
    scenario s = make("escape_with_invalid_value_in_focus_shows_and_writes_nothing", variant::xen);
    s.also_x86 = true;
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus()});
    s.steps = {type_in(IDC_MAX_DISKS, L"abc"), escape(IDC_MAX_DISKS)};
    s.reboot = false;
    all.push_back(s);
  }
  {
    // Default puts back Ballooning and the loaded Instance IDs even where the user cleared them,
    // and keeps unknown bits: with everything else at its default nothing differs.
    scenario s = make("default_rechecks_cleared_boxes_nothing_differs", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), bus({{L"use_pv_drivers", 3},
                                                 {L"orvane_flags", 0x15},
                                                 {L"grant_frames", 10},
                                                 {L"max_disks", 32}})});
    s.steps = cat<step>(
        {{click(IDC_BALLOONING), click(IDC_INSTANCE_IDS), click(IDC_LAN_NONE),
          checked(IDC_BALLOONING, false), checked(IDC_INSTANCE_IDS, false), click(IDC_DEFAULTS)},
         xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, true, true, false, false, L"10", L"32", L"0", L"0"}),
         {click(IDOK)}});
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("default_clears_one_controller_keeps_other_bits", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_7(), bus({{L"orvane_flags", 0x19}})});
    s.steps = cat<step>(
        {xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, false, true, false, true, L"10", L"32", L"0", L"0"}),
         {click(IDC_DEFAULTS)},
         xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, true, true, false, false, L"10", L"32", L"0", L"0"}),
         {click(IDOK)}});
    s.after = {bus_value(L"orvane_flags", 0x15)};
    s.reboot = true;
    all.push_back(s);
  }

  // --- Windows 2000 and XP
  // ------------------------------------------------------------------------
  {
    scenario s = make("windows_2000_xen_locks_tcp_and_boot_pv_scsi", variant::xen);
    s.environment = xen_cpu();
    s.before =
        cat<reg_item>({windows(L"Microsoft Windows 2000", L"", kX86), bus({{L"use_pv_drivers", 3}}),
                       tcp({65536, kNotStored, kNotStored, 65536, kNotStored})});
    s.steps = cat<step>({windows_2000_locks(),
                         {enabled(IDC_BOOT_PV_SCSI, false), enabled(IDC_BALLOONING, true)},
                         disk_group_enabled(true),
                         {click(IDOK)}});
    s.reboot = false;  // TCP is neither read nor written: nothing differed
    all.push_back(s);
  }
  {
    scenario s = make("windows_2000_basic_locks_tcp", variant::basic);
    s.also_x86 = true;
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows(L"Microsoft Windows 2000", L"", kX86), tcp(kTcpStored)});
    s.steps = cat<step>({windows_2000_locks(), {click(IDOK)}});
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("windows_xp_boot_pv_scsi_disabled_and_kept", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows(L"Microsoft Windows XP", L"", kX86), bus({{L"use_pv_drivers", 0x2003}})});
    s.steps = cat<step>({{enabled(IDC_BOOT_PV_SCSI, false), checked(IDC_BOOT_PV_SCSI, true),
                          checked(IDC_DISK_ALL, true)},
                         disk_group_enabled(false),
                         tcp_shows_off(),
                         {click(IDOK)}});
    s.reboot = false;
    all.push_back(s);
  }

  {
    // The guide's registry edit for a Boot PV SCSI that Windows XP keeps: the dialog then offers
    // Disk All and LAN All, and Boot PV SCSI unchecked.
    scenario s = make("guide_windows_xp_boot_pv_scsi_cleared_by_hand", variant::xen);
    s.guide_block = "boot-pv-scsi-by-hand";
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows(L"Microsoft Windows XP", L"", kX86), bus({{L"use_pv_drivers", 0x2003}})});
    s.steps = cat<step>({{enabled(IDC_BOOT_PV_SCSI, false), checked(IDC_BOOT_PV_SCSI, false),
                          checked(IDC_DISK_ALL, true), checked(IDC_LAN_ALL, true)},
                         disk_group_enabled(true),
                         {click(IDCANCEL)}});
    s.after = bus({{L"use_pv_drivers", 3}});
    s.reboot = false;
    all.push_back(s);
  }

  // --- KVM variant: the serial device's MSI value
  // -------------------------------------------------
  {
    scenario s = make("kvm_msi_read_from_second_written_to_all", variant::kvm);
    s.also_x86 = true;
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), other_virtio_device(), serial_instances(0, 5)});
    s.steps = cat<step>({{enabled(IDC_SERIAL_MSI, true), checked(IDC_SERIAL_MSI, false)},
                         tcp_shows_off(),
                         {click(IDC_SERIAL_MSI), checked(IDC_SERIAL_MSI, true), click(IDOK)}});
    s.after = {msi(kSerialDevice, L"3&13c0b0c5&0&28", 1), msi(kSerialDevice, L"3&13c0b0c5&0&30", 1),
               no_key(msi_key(kSerialDevice, L"3&13c0b0c5&0&20"))};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("kvm_msi_default_unchecks_and_writes_0", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), other_virtio_device(), serial_instances(1, 0)});
    s.steps = {checked(IDC_SERIAL_MSI, true), click(IDC_DEFAULTS), checked(IDC_SERIAL_MSI, false),
               click(IDOK)};
    s.after = {msi(kSerialDevice, L"3&13c0b0c5&0&28", 0),
               msi(kSerialDevice, L"3&13c0b0c5&0&30", 0)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("kvm_msi_stored_5_shows_checked_and_writes_1", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), {msi(kSerialDevice, L"3&2411e6fe&0&40", 5)}});
    s.steps = {checked(IDC_SERIAL_MSI, true), click(IDOK)};
    s.after = {msi(kSerialDevice, L"3&2411e6fe&0&40", 1)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("kvm_modern_serial_device_msi_shown_and_written", variant::kvm);
    s.also_x86 = true;
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), {msi(kModernSerialDevice, L"3&2411e6fe&0&28", 1)}});
    s.steps = {enabled(IDC_SERIAL_MSI, true), checked(IDC_SERIAL_MSI, true), click(IDC_SERIAL_MSI),
               click(IDOK)};
    s.after = {msi(kModernSerialDevice, L"3&2411e6fe&0&28", 0)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    // A machine-type change left the transitional device's key (listed first, not present)
    // beside the modern one's (present; Wine gives its instance id in capitals).
    scenario s = make("kvm_stale_transitional_key_passed_over_for_present_modern", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(),
                              {msi(kSerialDevice, L"3&13c0b0c5&0&20", 1),
                               msi(kModernSerialDevice, L"3&2411e6fe&0&28", 0),
                               listed_device(kModernSerialDevice, L"3&2411e6fe&0&28")}});
    s.steps = {enabled(IDC_SERIAL_MSI, true), checked(IDC_SERIAL_MSI, false), click(IDC_SERIAL_MSI),
               click(IDOK)};
    s.after = {msi(kModernSerialDevice, L"3&2411e6fe&0&28", 1),
               msi(kSerialDevice, L"3&13c0b0c5&0&20", 1)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    // Neither device is present: the first key is used.
    scenario s = make("kvm_no_present_serial_device_uses_first_key", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(),
                              {msi(kSerialDevice, L"3&13c0b0c5&0&20", 1),
                               msi(kModernSerialDevice, L"3&2411e6fe&0&28", 0)}});
    s.steps = {checked(IDC_SERIAL_MSI, true), click(IDC_SERIAL_MSI), click(IDOK)};
    s.after = {msi(kSerialDevice, L"3&13c0b0c5&0&20", 0),
               msi(kModernSerialDevice, L"3&2411e6fe&0&28", 0)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("kvm_no_serial_device_disables_serial_msi", variant::kvm);
    s.also_x86 = true;
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), other_virtio_device()});
    s.steps = cat<step>({{enabled(IDC_SERIAL_MSI, false), checked(IDC_SERIAL_MSI, false)},
                         tcp_shows_off(),
                         {click(IDOK)}});
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("kvm_serial_device_without_instances", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), {key_exists(kSerialDevice)}});
    s.steps = {enabled(IDC_SERIAL_MSI, true), checked(IDC_SERIAL_MSI, false), click(IDC_SERIAL_MSI),
               click(IDOK)};
    s.reboot = true;  // the field changed although nothing could be written
    all.push_back(s);
  }

  {
    // The instance path is composed in 256 units: an instance name of 237 characters leaves room
    // for "\\Device Parameters" and no more. Cut there, the path would name a key that is not the
    // MSI key, so the program does not open it: the value counts as unavailable and nothing is
    // read from or written to the key the cut path names.
    static const std::wstring kLongInstance = L"3&" + std::wstring(235, L'a');
    scenario s = make("kvm_msi_instance_path_too_long_is_not_opened", variant::kvm);
    s.environment = kvm_cpu();
    s.before =
        cat<reg_item>({windows_10(),
                       {dword_value(kSerialDevice + L"\\" + kLongInstance + L"\\Device Parameters",
                                    L"MSISupported", 1),
                        msi(kSerialDevice, kLongInstance.c_str(), 0)}});
    s.steps = {enabled(IDC_SERIAL_MSI, false), checked(IDC_SERIAL_MSI, false), click(IDOK)};
    s.reboot = false;
    all.push_back(s);
  }

  // --- basic variant: the TCP options
  // -------------------------------------------------------------
  {
    scenario s = make("basic_tcp_on_writes_five_defaults", variant::basic);
    s.also_x86 = true;
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), tcp(kTcpNone)});
    s.steps =
        cat<step>({tcp_shows_off(), {click(IDC_TCP_ENABLE)}, tcp_shows_defaults(), {click(IDOK)}});
    s.after = tcp(kTcpDefaults);
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("basic_tcp_off_deletes_stored_values", variant::basic);
    s.also_x86 = true;
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), tcp(kTcpStored)});
    s.steps = cat<step>({tcp_shows({L"65536", L"131072", L"262144", L"3", L"1024"}),
                         {click(IDC_TCP_ENABLE)},
                         tcp_shows_off(),
                         {click(IDOK)}});
    s.after = tcp(kTcpNone);
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("basic_tcp_off_deletes_only_the_stored_three", variant::basic);
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), tcp({65536, kNotStored, 1024, kNotStored, 3})});
    s.steps = cat<step>({tcp_shows({L"65536", L"4294967295", L"4294967295", L"3", L"1024"}),
                         {click(IDC_TCP_ENABLE), click(IDOK)}});
    s.after = tcp(kTcpNone);  // and no failure message for the two that were missing
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("basic_tcp_on_again_installs_defaults", variant::basic);
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), tcp(kTcpStored)});
    s.steps = cat<step>({{click(IDC_TCP_ENABLE)},
                         tcp_shows_off(),
                         {click(IDC_TCP_ENABLE)},
                         tcp_shows_defaults(),
                         {click(IDOK)}});
    s.after = tcp(kTcpDefaults);
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("basic_partly_stored_tcp_unchanged_by_ok", variant::basic);
    s.environment = no_hypervisor();
    s.before =
        cat<reg_item>({windows_10(), tcp({65536, kNotStored, kNotStored, 131072, kNotStored})});
    s.steps =
        cat<step>({tcp_shows({L"65536", L"4294967295", L"131072", L"4294967295", L"4294967295"}),
                   {click(IDOK)}});
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("basic_tcp_field_rules", variant::basic);
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), tcp(kTcpStored)});
    s.steps = cat<step>({type_rows({
                             {IDC_SEND_WINDOW, L"0", kBelowMinimum, L"1", E2E_HERE_DEFAULT},
                             {IDC_SEND_WINDOW, L"4294967295", L"", L"4294967295", E2E_HERE_DEFAULT},
                             {IDC_TCP_WINDOW_SIZE, L"abc", kInvalid, L"262144", E2E_HERE_DEFAULT},
                             {IDC_TCP1323_OPTS, L"7", L"", L"7", E2E_HERE_DEFAULT},
                         }),
                         {click(IDOK)}});
    s.after = {no_value(kAfdKey, L"DefaultSendWindow"), dword_value(kTcpipKey, L"Tcp1323Opts", 7)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    scenario s = make("basic_nothing_stored_ok_writes_nothing", variant::basic);
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), tcp(kTcpNone)});
    s.steps = {click(IDOK)};
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("basic_tcp_write_failure_one_message", variant::basic);
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), {no_key(kAfdKey)}});
    s.steps = {click(IDC_TCP_ENABLE), click(IDOK), message(kTcpFailed)};
    s.after = {dword_value(kTcpipKey, L"TcpWindowSize", 1048576),
               dword_value(kTcpipKey, L"Tcp1323Opts", 1)};
    s.reboot = true;
    all.push_back(s);
  }

  {
    scenario s = make("basic_default_turns_tcp_off", variant::basic);
    s.environment = no_hypervisor();
    s.before = cat<reg_item>({windows_10(), tcp(kTcpStored)});
    s.steps = cat<step>({{click(IDC_DEFAULTS)}, tcp_shows_off(), {click(IDOK)}});
    s.after = tcp(kTcpNone);
    s.reboot = true;
    all.push_back(s);
  }
  {
    // A stored 0xFFFFFFFF cannot be told from a missing value: TCP reads as off and stays so.
    scenario s = make("basic_stored_all_ones_reads_as_missing", variant::basic);
    s.environment = no_hypervisor();
    s.before =
        cat<reg_item>({windows_10(), {dword_value(kAfdKey, L"DefaultSendWindow", 0xFFFFFFFF)}});
    s.steps = cat<step>({tcp_shows_off(), {click(IDOK)}});
    s.reboot = false;
    all.push_back(s);
  }

  // --- administrator gate
  // ---------------------------------------------------------------------------
  struct gate_message_row {
    const char* name;
    items system;
    std::wstring text;
    bool also_x86;
    location where;
  };
  const gate_message_row admin_rows[] = {
      {"windows_xp", windows(L"Microsoft Windows XP", L"", kX86), kNeedAdministrator, false,
       E2E_HERE_DEFAULT},
      {"server_2003_x64", windows(L"Microsoft Windows Server 2003"), kNeedAdministrator, false,
       E2E_HERE_DEFAULT},
      {"vista", windows(L"Windows Vista Business"), kNeedRunAsAdministrator, false,
       E2E_HERE_DEFAULT},
      {"windows_10", windows_10(), kNeedRunAsAdministrator, true, E2E_HERE_DEFAULT},
      {"processor_identifier_unreadable",
       {no_value(kProcessorKey, L"Identifier"),
        string_value(kCurrentVersionKey, L"ProductName", L"Windows 10 Pro"),
        string_value(kCurrentVersionKey, L"ReleaseId", L"2004")},
       kNeedAdministrator,
       false,
       E2E_HERE_DEFAULT},
  };
  for (const gate_message_row& row : admin_rows) {
    scenario s = make(std::string("not_administrator_") + row.name, variant::none, row.where);
    s.also_x86 = row.also_x86;
    s.environment = cat<environment_variable>({xen_cpu(), {kNotAdministrator}});
    s.before = cat<reg_item>({row.system, typical_bus(row.where), tcp(kTcpStored, row.where)});
    s.steps = {message(row.text, row.where)};
    s.reboot = false;
    all.push_back(s);
  }

  // --- hypervisor detection: which variant comes up
  // -------------------------------------------------
  struct hypervisor_row {
    const char* name;
    std::vector<environment_variable> environment;
    const wchar_t* manufacturer;
    variant shown;
    location where;
  };
  const hypervisor_row hypervisor_rows[] = {
      {"kvm_signature", kvm_cpu(), L"TestBoard", variant::kvm, E2E_HERE_DEFAULT},
      {"fenlow_shim_is_xen", cpu(L"FenlowShimHv"), L"TestBoard", variant::xen, E2E_HERE_DEFAULT},
      {"hyperv_front_xen_behind", cpu(L"Microsoft Hv", L"XenVMMXenVMM"), L"TestBoard", variant::xen,
       E2E_HERE_DEFAULT},
      {"hyperv_front_kvm_behind", cpu(L"Microsoft Hv", L"KVMKVMKVM"), L"TestBoard", variant::kvm,
       E2E_HERE_DEFAULT},
      {"hyperv_front_qemu_board", cpu(L"Microsoft Hv", L"NoHypervisor"), L"QEMU", variant::kvm,
       E2E_HERE_DEFAULT},
      {"hyperv_front_xen_board", cpu(L"Microsoft Hv", L"NoHypervisor"), L"Xen", variant::xen,
       E2E_HERE_DEFAULT},
      {"hyperv_front_long_board_name", cpu(L"Microsoft Hv", L"NoHypervisor"), L"QEMU Standard PC",
       variant::basic, E2E_HERE_DEFAULT},
      // The board name is read into 16 bytes: 7 characters and the terminator fit, 8 do not.
      {"hyperv_front_board_of_7_characters", cpu(L"Microsoft Hv", L"NoHypervisor"), L"QEMU PC",
       variant::kvm, E2E_HERE_DEFAULT},
      {"hyperv_front_board_of_8_characters", cpu(L"Microsoft Hv", L"NoHypervisor"), L"QEMU VM1",
       variant::basic, E2E_HERE_DEFAULT},
      {"twelve_letter_kvm_lookalike", cpu(L"KVMKVMKVMKVM"), L"QEMU", variant::basic,
       E2E_HERE_DEFAULT},
      {"fenlow_shim_only_at_first_leaf", cpu(L"Microsoft Hv", L"FenlowShimHv"), L"TestBoard",
       variant::basic, E2E_HERE_DEFAULT},
  };
  for (const hypervisor_row& row : hypervisor_rows) {
    scenario s = make(std::string("hypervisor_") + row.name, row.shown, row.where);
    s.environment = row.environment;
    s.before = cat<reg_item>(
        {windows_10(row.where),
         {string_value(kBiosKey, L"SystemManufacturer", row.manufacturer, row.where)}});
    s.steps = {click(IDCANCEL, row.where)};
    s.reboot = false;
    all.push_back(s);
  }

  // --- help
  // ---------------------------------------------------------------------------------------
  {
    scenario s = make("help_xen_twice_escape_and_usable_settings", variant::xen);
    s.also_x86 = true;
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus()});
    s.steps = {click(IDC_HELP_BUTTON),
               help_opens(16, kXenHelpFirst),
               help_escape(),
               checked(IDC_BALLOONING, true),
               click(IDC_BALLOONING),  // the settings dialog works while help is open
               checked(IDC_BALLOONING, false),
               enter(IDC_MAX_DISKS, L"300"),
               message(kAboveMaximum),
               shows(IDC_MAX_DISKS, L"256"),
               click(IDC_HELP_BUTTON),  // a second help window on top of the first
               help_opens(16, kXenHelpFirst),
               help_ok(),
               help_ok(),
               click(IDC_HELP_BUTTON),  // and once more after both closed
               help_opens(16, kXenHelpFirst),
               help_ok(),
               click(IDCANCEL)};
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("help_kvm_twice", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), serial_instances(0, 0)});
    s.steps = cat<step>({help_round(7, kSerialMsiHelpFirst),
                         {click(IDC_SERIAL_MSI), checked(IDC_SERIAL_MSI, true)},
                         help_round(7, kSerialMsiHelpFirst),
                         {click(IDCANCEL)}});
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("help_basic_twice", variant::basic);
    s.environment = no_hypervisor();
    s.before = windows_10();
    s.steps = cat<step>({help_round(6, kTcpHelpFirst),
                         {click(IDC_TCP_ENABLE)},
                         tcp_shows_defaults(),
                         help_round(6, kTcpHelpFirst),
                         {click(IDCANCEL)}});
    s.reboot = false;
    all.push_back(s);
  }
  struct help_cancel_row {
    const char* name;
    variant shown;
    std::vector<environment_variable> environment;
    int paragraphs;
    std::wstring first;
    bool also_x86;
    location where;
  };
  const help_cancel_row help_cancel_rows[] = {
      {"xen", variant::xen, xen_cpu(), 16, kXenHelpFirst, true, E2E_HERE_DEFAULT},
      {"kvm", variant::kvm, kvm_cpu(), 7, kSerialMsiHelpFirst, false, E2E_HERE_DEFAULT},
      {"basic", variant::basic, no_hypervisor(), 6, kTcpHelpFirst, false, E2E_HERE_DEFAULT},
  };
  for (const help_cancel_row& row : help_cancel_rows) {
    scenario s =
        make(std::string("cancel_while_help_open_ends_program_") + row.name, row.shown, row.where);
    s.also_x86 = row.also_x86;
    s.environment = row.environment;
    s.before = cat<reg_item>({windows_10(row.where), typical_bus(row.where)});
    s.steps = {click(IDC_HELP_BUTTON, row.where), help_opens(row.paragraphs, row.first, row.where),
               click(IDC_HELP_BUTTON, row.where), help_opens(row.paragraphs, row.first, row.where),
               click(IDCANCEL, row.where)};
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("ok_while_help_open_commits_and_ends", variant::xen);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(), typical_bus()});
    s.steps = {enter(IDC_MAX_DISKS, L"64"), click(IDC_HELP_BUTTON), help_opens(16, kXenHelpFirst),
               click(IDOK)};
    s.after = {bus_value(L"max_disks", 64)};
    s.reboot = true;
    all.push_back(s);
  }
  // Keys typed for real reach the settings dialog while help is open: Tab leaves a number (which
  // is checked), Alt+letter toggles a box, Enter is OK and Escape is Cancel.
  struct keys_row {
    const char* name;
    int last_key;
    items after;
    location where;
  };
  const keys_row keys_rows[] = {
      {"enter_commits",
       VK_RETURN,
       {bus_value(L"max_disks", 256), bus_value(L"orvane_flags", 1)},
       E2E_HERE_DEFAULT},
      {"escape_cancels", VK_ESCAPE, {}, E2E_HERE_DEFAULT},
  };
  for (const keys_row& row : keys_rows) {
    scenario s = make(std::string("keys_reach_settings_while_help_open_") + row.name, variant::xen,
                      row.where);
    s.environment = xen_cpu();
    s.before = cat<reg_item>({windows_10(row.where), typical_bus(row.where)});
    s.steps = {click(IDC_HELP_BUTTON, row.where),
               help_opens(16, kXenHelpFirst, row.where),
               type_in(IDC_MAX_DISKS, L"300", row.where),
               key(VK_TAB, row.where),
               message(kAboveMaximum, row.where),
               shows(IDC_MAX_DISKS, L"256", row.where),
               alt_key('B', row.where),
               checked(IDC_BALLOONING, false, row.where),
               key(row.last_key, row.where)};
    s.after = row.after;
    s.reboot = !row.after.empty();
    all.push_back(s);
  }

  // --- hostile registry data: odd sizes and types where the program expects something else
  // ---------------------------------------------------------------------------------------
  // A product name is read into 520 bytes and terminated after its data: 260 characters without
  // a terminator fill the buffer and still classify (here as Windows 7: Boot PV SCSI usable,
  // no re-enable); 261 do not fit, and the unreadable name classifies as the 64-bit fallback,
  // whose Windows 8 gate re-enables both drivers.
  static const std::wstring kWindows7Of260 = L"Windows 7 Professional" + std::wstring(238, L'x');
  struct product_row {
    const char* name;
    std::wstring product;
    bool reenables;
    bool also_x86;
    location where;
  };
  const product_row product_rows[] = {
      {"unterminated_product_name_of_520_bytes_is_windows_7", kWindows7Of260, false, true,
       E2E_HERE_DEFAULT},
      {"unterminated_product_name_of_522_bytes_falls_back", kWindows7Of260 + L"x", true, false,
       E2E_HERE_DEFAULT},
  };
  for (const product_row& row : product_rows) {
    scenario s = make(row.name, variant::xen, row.where);
    s.also_x86 = row.also_x86;
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {{string_value(kProcessorKey, L"Identifier", kIntel64, row.where),
          unterminated_string_value(kCurrentVersionKey, L"ProductName", row.product, row.where),
          no_value(kCurrentVersionKey, L"ReleaseId", row.where)},
         bus({{L"use_pv_drivers", 3}}, kCurrentBusKey, row.where),
         start_overrides(row.where),
         xen_devices(row.where)});
    s.steps = cat<step>({{enabled(IDC_BOOT_PV_SCSI, true, row.where)},
                         tcp_shows_off(row.where),
                         {click(IDC_BOOT_PV_SCSI, row.where), click(IDOK, row.where)}});
    s.after = {bus_value(L"use_pv_drivers", 0x2003, row.where)};
    if (row.reenables) {
      s.after = cat<reg_item>(
          {s.after, block_driver_reenabled(row.where), scsi_driver_reenabled(row.where)});
    }
    s.reboot = true;
    all.push_back(s);
  }
  {
    // Strings where numbers belong: up to four bytes of any type are the number (two bytes
    // zero-extended), more are refused and the default shows. Changing another value writes that
    // value alone; the strings stay as they were.
    scenario s = make("bus_strings_read_as_numbers_or_refused", variant::xen);
    s.also_x86 = true;
    s.environment = xen_cpu();
    s.before = cat<reg_item>(
        {windows_7(),
         {key_exists(kCurrentBusKey),
          string_value(kCurrentBusKey, L"grant_frames", L"\x0010"),                 // 10 00 00 00
          unterminated_string_value(kCurrentBusKey, L"shutdown_delay", L"\x0005"),  // 05 00
          string_value(kCurrentBusKey, L"max_disks", L"128"),                       // eight bytes
          unterminated_string_value(kCurrentBusKey, L"orvane_flags",
                                    std::wstring(L"\x0009\0\0", 3))}});  // six bytes
    s.steps = cat<step>({xen_shows({IDC_DISK_ALL, IDC_LAN_ALL, true, false, false, false, L"16",
                                    L"32", L"5", L"0"}),
                         {enter(IDC_RESOURCE_TIMEOUT, L"6"), click(IDOK)}});
    s.after = {bus_value(L"timeout", 6)};
    s.reboot = true;
    all.push_back(s);
  }
  {
    // Eight bytes do not fit the four-byte read (a program taking the first four would see 1).
    scenario s = make("kvm_msi_binary_of_8_bytes_disables_serial_msi", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(),
                              other_virtio_device(),
                              {binary_value(msi_key(kSerialDevice, L"3&13c0b0c5&0&28"),
                                            L"MSISupported", {1, 0, 0, 0, 0, 0, 0, 0})}});
    s.steps = cat<step>({{enabled(IDC_SERIAL_MSI, false), checked(IDC_SERIAL_MSI, false)},
                         tcp_shows_off(),
                         {click(IDOK)}});
    s.reboot = false;
    all.push_back(s);
  }
  {
    // Fifty instances of 200 characters: each composed MSI path (274 units) is too long to open.
    // The path cut at 255 units ("...\\Interrupt Management\\MessageSignaled") is a key of its
    // own here, with a value the program must neither read nor write.
    scenario s = make("kvm_msi_50_instances_of_200_characters_none_opened", variant::kvm);
    s.environment = kvm_cpu();
    s.before =
        cat<reg_item>({windows_10(),
                       many_instances(50, 200, 1, 1),
                       {dword_value((kSerialDevice + L"\\" + instance_name(0, 200) + kMsiSuffix)
                                        .substr(0, kSerialDevice.size() + 1 + 255),
                                    L"MSISupported", 1)}});
    s.steps = {enabled(IDC_SERIAL_MSI, false), checked(IDC_SERIAL_MSI, false), click(IDOK)};
    s.reboot = false;
    all.push_back(s);
  }
  {
    scenario s = make("kvm_msi_50_instances_read_first_write_all", variant::kvm);
    s.environment = kvm_cpu();
    s.before = cat<reg_item>({windows_10(), many_instances(50, 20, 0, 2)});
    s.steps = {enabled(IDC_SERIAL_MSI, true), checked(IDC_SERIAL_MSI, false), click(IDC_SERIAL_MSI),
               click(IDOK)};
    s.after = many_instances(50, 20, 1, 1);
    s.reboot = true;
    all.push_back(s);
  }
  // The board name is read into 16 bytes: 8 characters without a terminator fill them and may
  // match; 9 do not fit and the read fails. The buffer is zero-filled, so an odd last byte is a
  // character with the zero above it: "X\0e\0n" is "Xen".
  struct board_row {
    const char* name;
    const wchar_t* manufacturer;
    std::size_t cut;  // bytes dropped from the end of the data
    variant shown;
    location where;
  };
  const board_row board_rows[] = {
      {"hypervisor_hyperv_front_unterminated_board_of_16_bytes", L"QEMUQEMU", 0, variant::kvm,
       E2E_HERE_DEFAULT},
      {"hypervisor_hyperv_front_unterminated_board_of_18_bytes", L"QEMUQEMUQ", 0, variant::basic,
       E2E_HERE_DEFAULT},
      {"hypervisor_hyperv_front_board_xen_of_5_bytes", L"Xen", 1, variant::xen, E2E_HERE_DEFAULT},
      {"hypervisor_hyperv_front_board_qemu_of_7_bytes", L"QEMU", 1, variant::kvm, E2E_HERE_DEFAULT},
  };
  for (const board_row& row : board_rows) {
    scenario s = make(row.name, row.shown, row.where);
    s.environment = cpu(L"Microsoft Hv", L"NoHypervisor");
    reg_item board =
        unterminated_string_value(kBiosKey, L"SystemManufacturer", row.manufacturer, row.where);
    board.data.resize(board.data.size() - row.cut);
    s.before = cat<reg_item>({windows_10(row.where), {board}});
    s.steps = {click(IDOK, row.where)};
    s.reboot = false;
    all.push_back(s);
  }

  // --- the shipped program
  // ------------------------------------------------------------------------
  {
    // Its variant comes from the real processor (the driver reads the same CPUID leaves), and the
    // test build's environment variables must mean nothing to it.
    scenario s = make("shipped_program_ignores_test_variables", variant::from_processor);
    s.also_x86 = true;
    s.program = build::shipped;
    s.environment =
        cat<environment_variable>({cpu(L"XenVMMXenVMM", L"XenVMMXenVMM"), {kNotAdministrator}});
    s.before = cat<reg_item>({windows_10(), typical_bus(), tcp(kTcpStored)});
    s.steps = {click(IDCANCEL)};
    s.reboot = false;
    all.push_back(s);
  }
  {
    // The theming library, which the window manager loads when the first window is created,
    // planted beside a copy of the shipped program: it must come from the system folder only.
    scenario s = make("shipped_program_loads_no_planted_library", variant::from_processor);
    s.also_x86 = true;
    s.program = build::shipped;
    s.planted = {L"uxtheme.dll"};
    s.before = cat<reg_item>({windows_10(), typical_bus(), tcp(kTcpStored)});
    s.steps = {click(IDCANCEL)};
    all.push_back(s);
  }
  return all;
}

}  // namespace e2e
