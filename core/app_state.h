// The process-wide facts start-up decides and the two settings records the dialog works on.
#pragma once

#include "core/settings.h"
#include "platform/platform.h"

namespace app {

using platform::u32;

// Registry paths (under HKEY_LOCAL_MACHINE) of one generation of the PV driver services.
struct driver_set {
  const char16_t* bus_parameters_key;
  const char16_t* block_service_key;
  const char16_t* scsi_service_key;
};

extern const driver_set current_generation;
extern const driver_set legacy_generation;

// Help dialogs open at once, each in its own nested modal loop; more requests open nothing.
constexpr u32 max_open_help_dialogs = 32;

struct process_state {
  platform::module_handle instance;
  u32 os_code;
  driver_set drivers;
  u32 hv_kind;
  settings::control_settings snapshot;  // as loaded; not changed after dialog initialisation
  settings::control_settings working;   // what the dialog edits and the commit compares
  bool settings_dialog_ended;  // OK or Cancel ended it; its quit request belongs to start-up
  platform::window_handle open_help_dialogs[max_open_help_dialogs];  // innermost last
  u32 open_help_dialog_count;
};

process_state& state();
// Back to the zero-filled state of a freshly loaded process (tests run many starts in one process).
void reset_state();

}  // namespace app
