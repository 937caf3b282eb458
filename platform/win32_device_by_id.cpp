// The seam's device by instance id, through the device setup interface.
#include <windows.h>
// setupapi.h needs the types of windows.h first.
#include <setupapi.h>

#include "platform/platform.h"

namespace platform {

device_list setup_open_device(const char16_t* instance_id, device_info* info) {
  const HDEVINFO list = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (list == INVALID_HANDLE_VALUE) return nullptr;
  if (!SetupDiOpenDeviceInfoW(list, reinterpret_cast<const wchar_t*>(instance_id), nullptr, 0,
                              reinterpret_cast<SP_DEVINFO_DATA*>(info))) {
    const DWORD error = GetLastError();
    SetupDiDestroyDeviceInfoList(list);
    SetLastError(error);
    return nullptr;
  }
  return reinterpret_cast<device_list>(list);
}

}  // namespace platform
