// Hypervisor detection: CPUID leaf 0x40000000, the leaf behind a Hyper-V front, then the firmware.
#include "probes/hypervisor.h"

#include <cstring>

#include "core/text.h"

namespace hypervisor {

namespace {

// EBX, ECX, EDX of a leaf followed by one zero byte.
struct signature {
  char bytes[13];
};

signature read_signature(u32 leaf) {
  u32 regs[4] = {0, 0, 0, 0};
  platform::cpuid(leaf, 0, regs);
  signature s{};
  for (int r = 0; r < 3; ++r) {
    const u32 value = regs[r + 1];
    for (int b = 0; b < 4; ++b) s.bytes[r * 4 + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
  }
  s.bytes[12] = 0;
  return s;
}

// Xen and the shim compare all 13 bytes; KVM pads its nine letters with zeros, so ten are compared.
bool is_xen(const signature& s) { return std::memcmp(s.bytes, "XenVMMXenVMM", 13) == 0; }
bool is_kvm(const signature& s) { return std::memcmp(s.bytes, "KVMKVMKVM", 10) == 0; }
bool is_hyperv_front(const signature& s) { return std::memcmp(s.bytes, "Microsoft Hv", 13) == 0; }
bool is_xen_shim(const signature& s) { return std::memcmp(s.bytes, "FenlowShimHv", 13) == 0; }

}  // namespace

u32 detect_hypervisor() {
  const signature first = read_signature(0x40000000);
  if (is_xen(first)) return kind_xen;
  if (is_kvm(first)) return kind_kvm;
  if (is_hyperv_front(first)) {
    const signature behind = read_signature(0x40000100);
    if (is_xen(behind)) return kind_xen;
    if (is_kvm(behind)) return kind_kvm;
    return firmware_hypervisor_kind();
  }
  if (is_xen_shim(first)) return kind_xen;
  return kind_none;
}

u32 firmware_hypervisor_kind() {
  platform::key_handle key = nullptr;
  if (platform::reg_open_key(platform::local_machine(), u"HARDWARE\\DESCRIPTION\\System\\BIOS",
                             platform::key_all_access, &key) != 0) {
    return kind_none;
  }
  // The text is searched as it lies in a zero-filled buffer of 16 bytes: an odd last byte forms a
  // unit with the zero above it. The ninth unit, never written, ends a value of exactly 16 bytes,
  // which may then match.
  constexpr u32 units = 8 + 1;
  char16_t manufacturer[units] = {};
  u32 size = (units - 1) * static_cast<u32>(sizeof(char16_t));
  u32 type = platform::reg_none;
  const u32 error =
      platform::reg_query_value(key, u"SystemManufacturer", &type, manufacturer, &size);
  platform::reg_close_key(key);
  if (error != 0) return kind_none;
  if (text::contains(manufacturer, units - 1, u"QEMU")) return kind_kvm;
  if (text::contains(manufacturer, units - 1, u"Xen")) return kind_xen;
  return kind_none;
}

}  // namespace hypervisor
