// Classification of the running Windows into os_code, and the gates the program tests on it.
#pragma once

#include "platform/platform.h"

namespace windows_version {

using platform::u32;

constexpr u32 bit_64 = 0x80000000u;

// os_code for a processor width of 32 or 64 bits, from "ProductName" and "ReleaseId".
u32 classify_windows(u32 bits);

// Windows 2000: neither TCP options nor Boot PV SCSI.
inline bool is_windows_2000(u32 os_code) { return os_code == 1; }
// Windows XP: no Boot PV SCSI.
inline bool is_windows_xp(u32 os_code) { return (os_code & ~bit_64) == 2; }
// Windows 8 / Server 2012 or later: a driver control change re-enables boot-start drivers.
inline bool is_windows_8_or_later(u32 os_code) { return (os_code & ~bit_64) >= 0x40; }
// Before Windows Vista: the older administrator message.
inline bool is_before_vista(u32 os_code) { return (os_code & ~bit_64) < 8; }

}  // namespace windows_version
