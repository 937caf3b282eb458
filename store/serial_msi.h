// The virtio serial device's "MSISupported" value, kept per device instance under Enum\PCI.
#pragma once

#include "platform/platform.h"

namespace store {

// Opens, for reading, the serial device's key under Enum\PCI: the key whose name begins with
// "Ven_1AF4&Dev_1003" or "Ven_1AF4&Dev_1043". Of several, the first whose device is present; the
// first when none is, or when the device setup interface cannot tell.
platform::u32 open_serial_device_key(platform::key_handle* out);
// From the first instance that has an MSI key. Succeeds without setting *value when the device
// key has no instances.
platform::u32 read_serial_msi(platform::u32* value);
// To every instance that has an MSI key; returns the first refused set's error, 0 when every set
// succeeded or none had one.
platform::u32 write_serial_msi(platform::u32 value);

}  // namespace store
