// Settings load and commit. One table per group pairs each field with where it is stored, so that
// load and commit cannot drift apart.
#include "core/load_commit.h"

#include "core/app_state.h"
#include "core/messages.h"
#include "probes/windows_version.h"
#include "resource.h"
#include "store/boot_driver.h"
#include "store/registry.h"
#include "store/serial_msi.h"

namespace load_commit {

using platform::u32;
using settings::ABSENT;
using settings::field_pointer;

namespace {

struct xen_value {
  field_pointer field;
  const char16_t* value_name;
  u32 default_value;
  u32 failure_message;
};

// In commit order; load_order gives the order of the reads.
constexpr xen_value xen_values[] = {
    {&control_settings::use_pv_drivers, u"use_pv_drivers", settings::default_use_pv_drivers,
     IDS_SET_DEVICE_CONTROL_FAILED},
    {&control_settings::orvane_flags, u"orvane_flags", settings::default_orvane_flags,
     IDS_SET_FLAGS_FAILED},
    {&control_settings::grant_frames, u"grant_frames", settings::default_grant_frames,
     IDS_SET_GRANT_FRAMES_FAILED},
    {&control_settings::max_disks, u"max_disks", settings::default_max_disks,
     IDS_SET_MAX_DISKS_FAILED},
    {&control_settings::shutdown_delay, u"shutdown_delay", 0, IDS_SET_SHUTDOWN_DELAY_FAILED},
    {&control_settings::timeout, u"timeout", 0, IDS_SET_RESOURCE_TIMEOUT_FAILED},
};
// Indexes into xen_values in the order the values are read.
constexpr int load_order[] = {0, 5, 1, 4, 3, 2};

constexpr const char16_t* afd_key = u"SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters";
constexpr const char16_t* tcpip_key = u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

struct tcp_value {
  field_pointer field;
  const char16_t* key_path;
  const char16_t* value_name;
};

// Load and commit order.
constexpr tcp_value tcp_values[] = {
    {&control_settings::default_send_window, afd_key, u"DefaultSendWindow"},
    {&control_settings::default_receive_window, afd_key, u"DefaultReceiveWindow"},
    {&control_settings::fast_send_datagram_threshold, afd_key, u"FastSendDatagramThreshold"},
    {&control_settings::tcp_window_size, tcpip_key, u"TcpWindowSize"},
    {&control_settings::tcp1323_opts, tcpip_key, u"Tcp1323Opts"},
};

bool changed(const control_settings& working, const control_settings& snapshot,
             field_pointer field) {
  return working.*field != snapshot.*field;
}

const app::driver_set& drivers() { return app::state().drivers; }

void reenable_boot_drivers_for(u32 use_pv_drivers) {
  if (use_pv_drivers & settings::pv_disks) {
    store::reenable_boot_driver(drivers().block_service_key, u"xen\\type_vbd");
  }
  if (use_pv_drivers & settings::pv_boot_scsi) {
    store::reenable_boot_driver(drivers().scsi_service_key, u"xen\\type_vscsi");
  }
}

}  // namespace

void load_xen_settings(control_settings& snapshot) {
  for (int index : load_order) {
    const xen_value& v = xen_values[index];
    u32 value = 0;
    if (store::read_dword(drivers().bus_parameters_key, v.value_name, &value) != 0) {
      value = v.default_value;
    }
    snapshot.*v.field = value;
  }
}

void load_tcp_settings(control_settings& snapshot) {
  if (windows_version::is_windows_2000(app::state().os_code)) return;
  bool any_stored = false;
  for (const tcp_value& v : tcp_values) {
    u32 value = 0;
    if (store::read_dword(v.key_path, v.value_name, &value) != 0) value = ABSENT;
    snapshot.*v.field = value;
    any_stored = any_stored || value != ABSENT;
  }
  snapshot.tcp_enabled = any_stored ? 1 : 0;
}

bool load_serial_msi(control_settings& snapshot) {
  u32 value = snapshot.msi_supported;
  if (store::read_serial_msi(&value) != 0) {
    snapshot.msi_supported = 0;
    return false;
  }
  snapshot.msi_supported = value;
  return true;
}

bool commit_xen_settings(const control_settings& working, const control_settings& snapshot) {
  bool any_changed = false;
  for (const xen_value& v : xen_values) {
    if (!changed(working, snapshot, v.field)) continue;
    any_changed = true;
    const u32 value = working.*v.field;
    // Before the drivers see the new control value, the boot-start drivers it needs must start.
    if (v.field == &control_settings::use_pv_drivers &&
        windows_version::is_windows_8_or_later(app::state().os_code)) {
      reenable_boot_drivers_for(value);
    }
    if (store::write_dword(drivers().bus_parameters_key, v.value_name, value) != 0) {
      messages::show_message(v.failure_message);
    }
  }
  return any_changed;
}

bool commit_serial_msi(const control_settings& working, const control_settings& snapshot) {
  if (!changed(working, snapshot, &control_settings::msi_supported)) return false;
  if (store::write_serial_msi(working.msi_supported) != 0) {
    messages::show_message(IDS_SET_SERIAL_MSI_FAILED);
  }
  return true;
}

bool commit_tcp_settings(const control_settings& working, const control_settings& snapshot) {
  if (windows_version::is_windows_2000(app::state().os_code)) return false;
  bool any_changed = false;
  u32 errors = 0;
  for (const tcp_value& v : tcp_values) {
    if (!changed(working, snapshot, v.field)) continue;
    any_changed = true;
    const u32 value = working.*v.field;
    errors |= value == ABSENT ? store::delete_value(v.key_path, v.value_name)
                              : store::write_dword(v.key_path, v.value_name, value);
  }
  if (errors != 0) messages::show_message(IDS_SET_TCP_FAILED);
  return any_changed;
}

void offer_reboot() {
  platform::setup_prompt_reboot();  // the user's answer is the system's business
}

}  // namespace load_commit
