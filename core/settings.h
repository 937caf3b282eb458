// The settings record that travels from load to dialog to commit, its defaults and its field rule.
#pragma once

#include "platform/platform.h"

namespace settings {

using platform::u32;

// In a TCP field: the value is not stored; committing it deletes the value.
constexpr u32 ABSENT = 0xFFFFFFFFu;

// use_pv_drivers bits.
constexpr u32 pv_disks = 0x0001;
constexpr u32 pv_lan = 0x0002;
constexpr u32 pv_disks_xvd_only = 0x0400;
constexpr u32 pv_lan_netfront_only = 0x0800;
constexpr u32 pv_boot_scsi = 0x2000;

// orvane_flags bits.
constexpr u32 flag_instance_ids = 0x1;
constexpr u32 flag_ballooning = 0x4;
constexpr u32 flag_one_controller = 0x8;

// Values when not stored, and the TCP values the Enable box installs.
constexpr u32 default_use_pv_drivers = 3;
constexpr u32 default_orvane_flags = 4;
constexpr u32 default_grant_frames = 10;
constexpr u32 default_max_disks = 32;
constexpr u32 tcp_default_window = 1048576;
constexpr u32 tcp_default_fast_send_threshold = 16384;
constexpr u32 tcp_default_1323_opts = 1;

// Fourteen 32-bit fields, in this order.
struct control_settings {
  u32 use_pv_drivers;
  u32 orvane_flags;
  u32 grant_frames;
  u32 max_disks;
  u32 shutdown_delay;
  u32 timeout;
  u32 tcp_enabled;
  u32 default_send_window;
  u32 default_receive_window;
  u32 fast_send_datagram_threshold;
  u32 tcp_window_size;
  u32 tcp1323_opts;
  u32 hv_kind;
  u32 msi_supported;
};
static_assert(sizeof(control_settings) == 14 * sizeof(u32), "fourteen 32-bit fields");

// Pointer to one field, for the tables that pair fields with controls and registry values.
using field_pointer = u32 control_settings::*;

// The Default button: resets the working copy, keeping the snapshot's other flag bits.
void apply_defaults(control_settings& working, const control_settings& snapshot, u32 os_code);
// The TCP Enable box turned on or off; neither touches the TCP fields on Windows 2000.
void enable_tcp(control_settings& working, u32 os_code);
void disable_tcp(control_settings& working, u32 os_code);

struct field_result {
  u32 value;
  bool accepted;
  u32 message_id;  // 0 when accepted
};
// The rule by which a typed number is accepted, clamped or refused.
field_result validate_field(bool parsed, u32 number, u32 min, u32 max, u32 last_good);

}  // namespace settings
