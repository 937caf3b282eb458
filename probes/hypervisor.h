// Which hypervisor the guest runs on, from the CPUID vendor signatures and the firmware.
#pragma once

#include "platform/platform.h"

namespace hypervisor {

using platform::u32;

constexpr u32 kind_none = 0;
constexpr u32 kind_xen = 1;
constexpr u32 kind_kvm = 2;

u32 detect_hypervisor();
// Behind a Hyper-V compatible front with no known signature: the firmware's manufacturer decides.
u32 firmware_hypervisor_kind();

}  // namespace hypervisor
