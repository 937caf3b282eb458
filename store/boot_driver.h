// Re-enabling a boot-start storage driver: its start override removed and its devices'
// configuration flags cleared, so that Windows 8 and later start it again.
#pragma once

#include "platform/platform.h"

namespace store {

// Every failure inside is ignored: this step never stops a commit.
void reenable_boot_driver(const char16_t* service_key_path, const char16_t* hardware_id_prefix);
// Sets SPDRP_CONFIGFLAGS of every device whose first hardware id begins with the prefix, then
// destroys the list. Returns the last set result (non-zero for success), 0 when nothing matched.
int reset_config_flags(platform::device_list list, const char16_t* hardware_id_prefix,
                       platform::u32 value);

// Consecutive failed fetches after which a device list counts as broken and the walk ends.
constexpr platform::u32 device_walk_failure_limit = 16;

}  // namespace store
