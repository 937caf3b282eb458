// The seam's device setup operations on SetupAPI.
#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

#include <cstddef>

#include "platform/platform.h"

namespace platform {

static_assert(sizeof(device_info) == sizeof(SP_DEVINFO_DATA),
              "device_info mirrors SP_DEVINFO_DATA");
static_assert(offsetof(device_info, device_instance) == offsetof(SP_DEVINFO_DATA, DevInst),
              "device_info mirrors SP_DEVINFO_DATA");

namespace {
HDEVINFO to_hdevinfo(device_list list) { return reinterpret_cast<HDEVINFO>(list); }
SP_DEVINFO_DATA* to_data(device_info* info) { return reinterpret_cast<SP_DEVINFO_DATA*>(info); }
}  // namespace

device_list setup_get_class_devs(const char16_t* enumerator, u32 flags) {
  const HDEVINFO list =
      SetupDiGetClassDevsW(nullptr, reinterpret_cast<const wchar_t*>(enumerator), nullptr, flags);
  return list == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<device_list>(list);
}

bool setup_enum_device_info(device_list list, u32 index, device_info* info) {
  return SetupDiEnumDeviceInfo(to_hdevinfo(list), index, to_data(info)) != FALSE;
}

bool setup_get_device_property(device_list list, device_info* info, u32 property, u32* type,
                               void* buffer, u32 byte_size, u32* required_size) {
  DWORD value_type = 0;
  DWORD required = 0;
  const BOOL ok =
      SetupDiGetDeviceRegistryPropertyW(to_hdevinfo(list), to_data(info), property, &value_type,
                                        static_cast<BYTE*>(buffer), byte_size, &required);
  *type = value_type;
  *required_size = required;
  return ok != FALSE;
}

bool setup_set_device_property(device_list list, device_info* info, u32 property,
                               const void* buffer, u32 byte_size) {
  return SetupDiSetDeviceRegistryPropertyW(to_hdevinfo(list), to_data(info), property,
                                           static_cast<const BYTE*>(buffer), byte_size) != FALSE;
}

bool setup_get_device_instance_id(device_list list, device_info* info, char16_t* buffer, u32 units,
                                  u32* required_units) {
  DWORD required = 0;
  const BOOL ok = SetupDiGetDeviceInstanceIdW(to_hdevinfo(list), to_data(info),
                                              reinterpret_cast<wchar_t*>(buffer), units, &required);
  *required_units = required;
  return ok != FALSE;
}

bool setup_destroy_device_list(device_list list) {
  return SetupDiDestroyDeviceInfoList(to_hdevinfo(list)) != FALSE;
}

int setup_prompt_reboot() { return SetupPromptReboot(nullptr, nullptr, FALSE); }

u32 last_error() { return GetLastError(); }

}  // namespace platform
