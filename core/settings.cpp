// Defaults, the TCP Enable box's effect and the field rule.
#include "core/settings.h"

#include "probes/windows_version.h"
#include "resource.h"

namespace settings {

namespace {
void set_tcp_fields(control_settings& s, u32 window, u32 fast_send, u32 opts) {
  s.default_send_window = window;
  s.default_receive_window = window;
  s.tcp_window_size = window;
  s.fast_send_datagram_threshold = fast_send;
  s.tcp1323_opts = opts;
}
}  // namespace

void apply_defaults(control_settings& working, const control_settings& snapshot, u32 os_code) {
  working.use_pv_drivers = default_use_pv_drivers;
  working.grant_frames = default_grant_frames;
  working.max_disks = default_max_disks;
  working.shutdown_delay = 0;
  working.timeout = 0;
  working.msi_supported = 0;
  working.orvane_flags = (snapshot.orvane_flags & ~flag_one_controller) | flag_ballooning;
  if (!windows_version::is_windows_2000(os_code)) {
    working.tcp_enabled = 0;
    set_tcp_fields(working, ABSENT, ABSENT, ABSENT);
  }
}

void enable_tcp(control_settings& working, u32 os_code) {
  if (windows_version::is_windows_2000(os_code)) return;
  set_tcp_fields(working, tcp_default_window, tcp_default_fast_send_threshold,
                 tcp_default_1323_opts);
  working.tcp_enabled = 1;
}

void disable_tcp(control_settings& working, u32 os_code) {
  working.tcp_enabled = 0;
  if (!windows_version::is_windows_2000(os_code)) set_tcp_fields(working, ABSENT, ABSENT, ABSENT);
}

field_result validate_field(bool parsed, u32 number, u32 min, u32 max, u32 last_good) {
  if (!parsed) return {last_good, false, IDS_VALUE_INVALID};
  if (number < min) return {min, false, IDS_VALUE_BELOW_MINIMUM};
  if (number > max) return {max, false, IDS_VALUE_ABOVE_MAXIMUM};
  return {number, true, 0};
}

}  // namespace settings
