// Start-up, in order: processor width, Windows version, administrator gate, driver generation,
// owner window, hypervisor, settings dialog, run loop.
#include "core/app.h"

#include "core/messages.h"
#include "core/run_loop.h"
#include "core/text.h"
#include "probes/hypervisor.h"
#include "probes/windows_version.h"
#include "resource.h"
#include "store/registry.h"
#include "ui/settings_dialog.h"

namespace app {

using namespace platform;

u32 read_processor_bits() {
  key_handle key = nullptr;
  if (reg_open_key(local_machine(), u"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                   key_all_access, &key) != error_success) {
    return 0;
  }
  constexpr u32 units = 260 + 1;  // 520 bytes and the terminator the program adds
  char16_t identifier[units];
  const u32 error = store::query_string_value(key, u"Identifier", identifier, units);
  reg_close_key(key);
  if (error != error_success) return 0;
  return text::equal_prefix_ignore_case(identifier, u"x86", 3) ? 32 : 64;
}

bool is_administrator() {
  bool member = false;
  return check_administrators_membership(&member) && member;
}

driver_set select_driver_set() {
  key_handle key = nullptr;
  if (reg_open_key(local_machine(), current_generation.bus_parameters_key, key_all_access, &key) !=
      error_success) {
    return legacy_generation;
  }
  reg_close_key(key);
  return current_generation;
}

const char16_t* settings_template_name(u32 hv_kind) {
  switch (hv_kind) {
    case hypervisor::kind_xen:
      return u"ORVANE_DLG_TEMPLATE";
    case hypervisor::kind_kvm:
      return u"ORVANE_DLG_KVM_TEMPLATE";
    default:
      return u"ORVANE_DLG_BASIC_TEMPLATE";
  }
}

int run_application(module_handle instance) {
  process_state& s = state();
  s.instance = instance;

  const u32 bits = read_processor_bits();
  s.os_code = bits != 0 ? windows_version::classify_windows(bits) : 0;

  if (!is_administrator()) {
    messages::show_message(windows_version::is_before_vista(s.os_code)
                               ? IDS_NEED_ADMINISTRATOR
                               : IDS_NEED_RUN_AS_ADMINISTRATOR);
    return 0;
  }

  s.drivers = select_driver_set();

  // Neither is checked: without an owner the dialog still runs, unowned.
  register_window_class(instance, u"vivediz_app_class", 0x6008);
  const window_handle owner = create_window(0x110, u"vivediz_app_class",
                                            u"orvane Windows Application", 0x02CF0000, instance);

  s.hv_kind = hypervisor::detect_hypervisor() & 3;
  s.snapshot.hv_kind = s.hv_kind;

  const std::intptr_t outcome =
      dialog_box_param(window_module(owner), settings_template_name(s.hv_kind), owner,
                       ui::settings_dialog_procedure, reinterpret_cast<std::intptr_t>(&s.snapshot));
  if (outcome == -1) {
    messages::show_message(IDS_START_FAILED);
    return 0;  // no quit request was ever posted: waiting for one would never end
  }
  // Only OK and Cancel post the quit request; a dialog that ended otherwise posted none.
  if (s.settings_dialog_ended) run_loop::run_until_quit();
  return 0;
}

}  // namespace app
