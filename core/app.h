// The program's entry: start-up, the settings dialog, the run loop.
#pragma once

#include "core/app_state.h"
#include "platform/platform.h"

namespace app {

// The whole run from probes to exit; returns the process exit code (always 0).
int run_application(platform::module_handle instance);

// 32 or 64 from the processor identifier, 0 when it cannot be read.
u32 read_processor_bits();
// Member of the built-in Administrators group; any failure counts as not.
bool is_administrator();
// The current generation when its bus parameters key opens with full access, else the legacy one.
driver_set select_driver_set();
// Template of the settings dialog for a hypervisor kind.
const char16_t* settings_template_name(u32 hv_kind);

}  // namespace app
