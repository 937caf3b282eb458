// Boot-start driver re-enable through the device setup interface.
#include "store/boot_driver.h"

#include <cstring>

#include "core/text.h"
#include "store/registry.h"

namespace store {

using namespace platform;

void reenable_boot_driver(const char16_t* service_key_path, const char16_t* hardware_id_prefix) {
  delete_start_override(service_key_path);  // a missing service key does not stop the device walk
  // DIGCF_ALLCLASSES alone: devices that are not present now are included too.
  const device_list list = setup_get_class_devs(u"XEN", digcf_allclasses);
  if (list == nullptr) return;
  reset_config_flags(list, hardware_id_prefix, 0);
}

int reset_config_flags(device_list list, const char16_t* hardware_id_prefix, u32 value) {
  int result = 0;
  unsigned char data[4];
  dword_to_bytes(value, data);
  constexpr u32 id_units = 260 + 1;  // a 520-byte hardware id and the terminator the program adds
  char16_t hardware_id[id_units];
  u32 failed_fetches = 0;
  for (u32 index = 0; index != 0xFFFFFFFFu; ++index) {
    device_info info;
    std::memset(&info, 0, sizeof info);
    info.size = sizeof info;
    if (setup_enum_device_info(list, index, &info)) {
      failed_fetches = 0;
    } else {
      if (last_error() == error_no_more_items) break;
      // A failed fetch skips its index, but a list that fails every fetch must not be walked for
      // ever.
      if (++failed_fetches >= device_walk_failure_limit) break;
    }
    std::memset(hardware_id, 0, sizeof hardware_id);
    u32 type = 0;
    u32 required = 0;
    if (!setup_get_device_property(list, &info, spdrp_hardwareid, &type, hardware_id,
                                   (id_units - 1) * sizeof(char16_t), &required)) {
      continue;
    }
    // Only whole UTF-16 units of what was read count: a stray odd byte is no character.
    const u32 end = required / 2;
    hardware_id[end < id_units ? end : id_units - 1] = 0;
    if (!text::starts_with_ignore_case(hardware_id, hardware_id_prefix)) continue;
    result = setup_set_device_property(list, &info, spdrp_configflags, data, sizeof data) ? 1 : 0;
  }
  setup_destroy_device_list(list);
  return result;
}

}  // namespace store
