// Settings dialog behaviour.
#include "ui/settings_dialog.h"

#include <cstdlib>

#include "core/app_state.h"
#include "core/load_commit.h"
#include "core/messages.h"
#include "core/run_loop.h"
#include "core/text.h"
#include "help_texts.h"
#include "probes/hypervisor.h"
#include "probes/windows_version.h"
#include "resource.h"
#include "ui/help_window.h"

namespace ui {

using namespace platform;
using settings::field_pointer;

namespace {

struct numeric_edit {
  int control;
  field_pointer field;
  u32 min;
  u32 max;
};

// In the order OK checks them.
constexpr numeric_edit xen_edits[] = {
    {IDC_GRANT_FRAMES, &control_settings::grant_frames, 4, 32},
    {IDC_MAX_DISKS, &control_settings::max_disks, 1, 256},
    {IDC_SHUTDOWN_DELAY, &control_settings::shutdown_delay, 0, 0xFFFFFFFFu},
    {IDC_RESOURCE_TIMEOUT, &control_settings::timeout, 0, 0xFFFFFFFFu},
};
constexpr numeric_edit tcp_edits[] = {
    {IDC_SEND_WINDOW, &control_settings::default_send_window, 1, 0xFFFFFFFFu},
    {IDC_RECEIVE_WINDOW, &control_settings::default_receive_window, 1, 0xFFFFFFFFu},
    {IDC_FAST_SEND_THRESHOLD, &control_settings::fast_send_datagram_threshold, 1, 0xFFFFFFFFu},
    {IDC_TCP_WINDOW_SIZE, &control_settings::tcp_window_size, 1, 0xFFFFFFFFu},
    {IDC_TCP1323_OPTS, &control_settings::tcp1323_opts, 1, 0xFFFFFFFFu},
};

constexpr int tcp_controls[] = {
    IDC_SEND_WINDOW_LABEL,   IDC_SEND_WINDOW,           IDC_RECEIVE_WINDOW_LABEL,
    IDC_RECEIVE_WINDOW,      IDC_TCP_WINDOW_SIZE_LABEL, IDC_TCP_WINDOW_SIZE,
    IDC_TCP1323_OPTS_LABEL,  IDC_TCP1323_OPTS,          IDC_FAST_SEND_THRESHOLD_LABEL,
    IDC_FAST_SEND_THRESHOLD,
};
constexpr int disk_controls[] = {IDC_DISK_GROUP, IDC_DISK_ALL, IDC_DISK_XVD, IDC_DISK_NONE};

// The templates differ in their controls: one the current template lacks is skipped.
void set_enabled(window_handle dialog, int id, bool enable) {
  const window_handle control = get_dlg_item(dialog, id);
  if (control != nullptr) enable_window(control, enable);
}

template <std::size_t n>
void set_enabled(window_handle dialog, const int (&ids)[n], bool enable) {
  for (int id : ids) set_enabled(dialog, id, enable);
}

bool is_checked(window_handle dialog, int id) {
  return is_dlg_button_checked(dialog, id) == bst_checked;
}

// Most typed numbers fit here; longer texts are read into a buffer of their own size.
constexpr u32 edit_text_units = 64;

const numeric_edit* find_edit(int control) {
  for (const numeric_edit& e : xen_edits)
    if (e.control == control) return &e;
  for (const numeric_edit& e : tcp_edits)
    if (e.control == control) return &e;
  return nullptr;
}

u32 variant() { return app::state().working.hv_kind; }

bool on_edit_focus_lost(window_handle dialog, const numeric_edit& edit) {
  // Once OK, Cancel or Escape is ending the dialog, the focus leaving an edit as the dialog goes
  // away is no edit of the user's: nothing is checked or shown then.
  if (app::state().settings_dialog_ended) return false;
  check_field(dialog, edit.control, edit.min, edit.max, app::state().working.*edit.field);
  return false;
}

void on_tcp_enable_clicked(window_handle dialog) {
  control_settings& working = app::state().working;
  if (is_checked(dialog, IDC_TCP_ENABLE)) {
    settings::enable_tcp(working, app::state().os_code);
  } else {
    settings::disable_tcp(working, app::state().os_code);
  }
  show_tcp_controls(dialog, working);
}

void on_defaults_clicked(window_handle dialog) {
  app::process_state& s = app::state();
  settings::apply_defaults(s.working, s.snapshot, s.os_code);
  show_settings(dialog, s.working);
}

void on_help_clicked(window_handle dialog) {
  const u32 kind = variant() == hypervisor::kind_xen   ? resources::help_xen
                   : variant() == hypervisor::kind_kvm ? resources::help_serial_msi
                                                       : resources::help_tcp;
  show_help(kind, dialog);
  set_focus(dialog);
}

void on_boot_pv_scsi_clicked(window_handle dialog) {
  if (is_checked(dialog, IDC_BOOT_PV_SCSI)) {
    check_radio_button(dialog, IDC_DISK_ALL, IDC_DISK_NONE, IDC_DISK_ALL);
    set_enabled(dialog, disk_controls, false);
  } else {
    set_enabled(dialog, disk_controls, true);
  }
}

// The settings dialog ends: so do the help dialogs still open. Their modal loops then return
// whether or not the dialog manager lets the quit request break them, and the program ends.
// It is marked ended first: EndDialog takes the focus from an edit that has it before it returns.
void end_settings_dialog(window_handle dialog, std::intptr_t result) {
  app::state().settings_dialog_ended = true;
  end_dialog(dialog, result);
  end_open_help_dialogs();
  run_loop::post_settings_quit();
}

void on_cancel(window_handle dialog) { end_settings_dialog(dialog, 0); }

}  // namespace

std::intptr_t settings_dialog_procedure(window_handle dialog, u32 message, std::uintptr_t wparam,
                                        std::intptr_t lparam) {
  switch (message) {
    case wm_initdialog:
      return on_init(dialog, *reinterpret_cast<control_settings*>(lparam));
    case wm_command:
      return on_command(dialog, static_cast<int>(wparam & 0xFFFF),
                        static_cast<u32>((wparam >> 16) & 0xFFFF));
    default:
      return false;
  }
}

bool on_init(window_handle dialog, control_settings& snapshot) {
  app::process_state& s = app::state();
  bool msi_available = true;
  if (snapshot.hv_kind == hypervisor::kind_xen) {
    load_commit::load_xen_settings(snapshot);
  } else if (snapshot.hv_kind == hypervisor::kind_kvm) {
    msi_available = load_commit::load_serial_msi(snapshot);
  }
  if (!windows_version::is_windows_2000(s.os_code)) load_commit::load_tcp_settings(snapshot);

  if (windows_version::is_windows_2000(s.os_code)) {
    set_enabled(dialog, IDC_TCP_GROUP, false);
    set_enabled(dialog, IDC_TCP_ENABLE, false);
    set_enabled(dialog, tcp_controls, false);
    set_enabled(dialog, IDC_BOOT_PV_SCSI, false);
  } else if (windows_version::is_windows_xp(s.os_code)) {
    set_enabled(dialog, IDC_BOOT_PV_SCSI, false);
  }
  if (snapshot.hv_kind == hypervisor::kind_kvm && !msi_available) {
    set_enabled(dialog, IDC_SERIAL_MSI, false);
  }

  show_settings(dialog, snapshot);
  s.working = snapshot;
  return true;  // the dialog manager sets the initial focus
}

bool on_command(window_handle dialog, int id, u32 notification) {
  switch (id) {
    case id_ok:
      return on_ok(dialog);
    case id_cancel:
      on_cancel(dialog);
      return true;
    case IDC_TCP_ENABLE:
      on_tcp_enable_clicked(dialog);
      return false;
    case IDC_DEFAULTS:
      on_defaults_clicked(dialog);
      return true;
    case IDC_HELP_BUTTON:
      on_help_clicked(dialog);
      return true;
    case IDC_BOOT_PV_SCSI:
      on_boot_pv_scsi_clicked(dialog);
      return false;
    default:
      break;
  }
  if (const numeric_edit* edit = find_edit(id)) {
    if (notification == en_killfocus) return on_edit_focus_lost(dialog, *edit);
    return false;
  }
  return true;
}

bool on_ok(window_handle dialog) {
  app::process_state& s = app::state();
  control_settings& working = s.working;
  const bool windows_2000 = windows_version::is_windows_2000(s.os_code);

  bool failed = false;
  if (variant() == hypervisor::kind_xen) {
    failed = read_xen_controls(dialog, working);
  } else if (variant() == hypervisor::kind_kvm) {
    working.msi_supported = is_checked(dialog, IDC_SERIAL_MSI) ? 1 : 0;
  }
  // Both groups are checked by the same OK, so every refused field is corrected and reported.
  if (!windows_2000) failed = read_tcp_controls(dialog, working) || failed;
  if (failed) return false;

  bool changed = false;
  if (variant() == hypervisor::kind_xen) {
    changed = load_commit::commit_xen_settings(working, s.snapshot);
  } else if (variant() == hypervisor::kind_kvm) {
    changed = load_commit::commit_serial_msi(working, s.snapshot);
  }
  if (!windows_2000) changed = load_commit::commit_tcp_settings(working, s.snapshot) || changed;
  if (changed) load_commit::offer_reboot();

  end_settings_dialog(dialog, 1);
  return true;
}

void show_settings(window_handle dialog, const control_settings& record) {
  if (record.hv_kind == hypervisor::kind_xen) {
    show_xen_controls(dialog, record);
  } else if (record.hv_kind == hypervisor::kind_kvm) {
    check_dlg_button(dialog, IDC_SERIAL_MSI,
                     record.msi_supported != 0 ? bst_checked : bst_unchecked);
  }
  show_tcp_controls(dialog, record);
}

void show_xen_controls(window_handle dialog, const control_settings& record) {
  const u32 drivers = record.use_pv_drivers;
  check_radio_button(dialog, IDC_DISK_ALL, IDC_DISK_NONE,
                     (drivers & settings::pv_disks_xvd_only) ? IDC_DISK_XVD
                     : (drivers & settings::pv_disks)        ? IDC_DISK_ALL
                                                             : IDC_DISK_NONE);
  check_radio_button(dialog, IDC_LAN_ALL, IDC_LAN_NONE,
                     (drivers & settings::pv_lan_netfront_only) ? IDC_LAN_NETFRONT
                     : (drivers & settings::pv_lan)             ? IDC_LAN_ALL
                                                                : IDC_LAN_NONE);
  // These only ever check: a box the user checked stays checked when the bit is clear.
  if (drivers & settings::pv_boot_scsi) {
    check_dlg_button(dialog, IDC_BOOT_PV_SCSI, bst_checked);
    set_enabled(dialog, disk_controls, false);
  }
  const u32 flags = record.orvane_flags;
  if (flags & settings::flag_ballooning) check_dlg_button(dialog, IDC_BALLOONING, bst_checked);
  if (flags & settings::flag_instance_ids) check_dlg_button(dialog, IDC_INSTANCE_IDS, bst_checked);
  check_dlg_button(dialog, IDC_ONE_CONTROLLER,
                   (flags & settings::flag_one_controller) ? bst_checked : bst_unchecked);
  for (const numeric_edit& e : xen_edits) set_dlg_item_int(dialog, e.control, record.*e.field);
}

void show_tcp_controls(window_handle dialog, const control_settings& record) {
  if (record.tcp_enabled) {
    check_dlg_button(dialog, IDC_TCP_ENABLE, bst_checked);
    set_enabled(dialog, tcp_controls, true);
    set_dlg_item_int(dialog, IDC_SEND_WINDOW, record.default_send_window);
    set_dlg_item_int(dialog, IDC_RECEIVE_WINDOW, record.default_receive_window);
    set_dlg_item_int(dialog, IDC_TCP_WINDOW_SIZE, record.tcp_window_size);
    set_dlg_item_int(dialog, IDC_TCP1323_OPTS, record.tcp1323_opts);
    set_dlg_item_int(dialog, IDC_FAST_SEND_THRESHOLD, record.fast_send_datagram_threshold);
  } else {
    check_dlg_button(dialog, IDC_TCP_ENABLE, bst_unchecked);
    for (const numeric_edit& e : tcp_edits) set_dlg_item_text(dialog, e.control, u"");
    set_enabled(dialog, tcp_controls, false);
  }
}

bool read_xen_controls(window_handle dialog, control_settings& working) {
  u32 drivers = 0;
  if (is_checked(dialog, IDC_DISK_ALL)) {
    drivers |= settings::pv_disks;
  } else if (is_checked(dialog, IDC_DISK_XVD)) {
    drivers |= settings::pv_disks_xvd_only | settings::pv_disks;
  }
  if (is_checked(dialog, IDC_LAN_ALL)) {
    drivers |= settings::pv_lan;
  } else if (is_checked(dialog, IDC_LAN_NETFRONT)) {
    drivers |= settings::pv_lan_netfront_only | settings::pv_lan;
  }
  if (is_checked(dialog, IDC_BOOT_PV_SCSI)) drivers |= settings::pv_boot_scsi | settings::pv_disks;
  working.use_pv_drivers = drivers;

  struct flag_box {
    int control;
    u32 bit;
  };
  constexpr flag_box flag_boxes[] = {{IDC_BALLOONING, settings::flag_ballooning},
                                     {IDC_INSTANCE_IDS, settings::flag_instance_ids},
                                     {IDC_ONE_CONTROLLER, settings::flag_one_controller}};
  for (const flag_box& box : flag_boxes) {
    if (is_checked(dialog, box.control)) {
      working.orvane_flags |= box.bit;
    } else {
      working.orvane_flags &= ~box.bit;
    }
  }

  bool failed = false;
  for (const numeric_edit& e : xen_edits) {
    if (!check_field(dialog, e.control, e.min, e.max, working.*e.field)) failed = true;
  }
  return failed;
}

bool read_tcp_controls(window_handle dialog, control_settings& working) {
  if (!working.tcp_enabled) return false;
  bool failed = false;
  for (const numeric_edit& e : tcp_edits) {
    if (!check_field(dialog, e.control, e.min, e.max, working.*e.field)) failed = true;
  }
  return failed;
}

bool check_field(window_handle dialog, int control, u32 min, u32 max, u32& field) {
  // Leading spaces and zeros may make a valid number's text any length, so it is read whole.
  char16_t short_text[edit_text_units];
  char16_t* typed = short_text;
  u32 units = edit_text_units;
  const window_handle edit = get_dlg_item(dialog, control);
  const u32 length = edit != nullptr ? get_window_text_length(edit) : 0;
  if (length >= edit_text_units) {
    units = length + 1;
    typed = static_cast<char16_t*>(std::malloc(units * sizeof(char16_t)));
  }
  u32 number = 0;
  bool parsed = false;
  if (typed != nullptr) {
    get_dlg_item_text(dialog, control, typed, units);
    parsed = text::parse_unsigned_decimal(typed, &number);
    if (typed != short_text) std::free(typed);
  }
  const settings::field_result result = settings::validate_field(parsed, number, min, max, field);
  field = result.value;
  if (!result.accepted) {
    set_dlg_item_int(dialog, control, result.value);
    messages::show_message(result.message_id);
  }
  return result.accepted;
}

}  // namespace ui
