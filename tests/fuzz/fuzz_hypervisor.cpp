// Fuzz target: arbitrary CPUID signatures and manufacturer data through hypervisor detection.
//
// Input: one flag byte, the 16 bytes of EAX, EBX, ECX, EDX for leaf 0x40000000 and for leaf
// 0x40000100 (little-endian), a type byte, then the "SystemManufacturer" data (the rest).
//   flags: bit 0 the BIOS key exists; bit 1 the value exists; bit 2 the key refuses write access;
//   bit 3 opening the key fails; bit 4 reading the value fails; bit 5 the type byte is used (else
//   REG_SZ); bit 6 the data is text, every byte one unit; bit 7 (text) a terminator follows.
// Checked: the kind against the restated rule; only the leaves the rule asks for are asked, in
// order; the firmware is looked at only behind a "Microsoft Hv" front; keys are opened with full
// access and closed again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "platform/platform.h"
#include "probes/hypervisor.h"
#include "tests/fuzz/whole_units.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::bytes;

const std::u16string kBiosKey = u"HARDWARE\\DESCRIPTION\\System\\BIOS";
constexpr u32 kFirstLeaf = 0x40000000;
constexpr u32 kBehindLeaf = 0x40000100;
constexpr std::size_t kManufacturerBytes = 16;

struct leaf {
  u32 regs[4];
  // EBX, ECX, EDX as bytes, then the zero byte.
  std::vector<std::uint8_t> signature() const {
    std::vector<std::uint8_t> s;
    for (int r = 1; r <= 3; ++r) {
      for (int b = 0; b < 4; ++b) s.push_back(static_cast<std::uint8_t>(regs[r] >> (8 * b)));
    }
    s.push_back(0);
    return s;
  }
};

bool same_bytes(const std::vector<std::uint8_t>& s, const char* text, std::size_t count) {
  return std::memcmp(s.data(), text, count) == 0;  // text carries its own zero byte
}
bool xen(const std::vector<std::uint8_t>& s) { return same_bytes(s, "XenVMMXenVMM", 13); }
bool kvm(const std::vector<std::uint8_t>& s) { return same_bytes(s, "KVMKVMKVM", 10); }
bool hyperv_front(const std::vector<std::uint8_t>& s) { return same_bytes(s, "Microsoft Hv", 13); }
bool xen_shim(const std::vector<std::uint8_t>& s) { return same_bytes(s, "FenlowShimHv", 13); }

struct firmware {
  bool key = false;
  bool value = false;
  bool write_denied = false;
  bool open_fails = false;
  bool read_fails = false;
  u32 type = platform::reg_sz;
  bytes data;
};

bool contains(const std::u16string& s, const std::u16string& needle) {
  return s.find(needle) != std::u16string::npos;
}

u32 kind_of_text(const std::u16string& s) {
  if (contains(s, u"QEMU")) return 2;
  if (contains(s, u"Xen")) return 1;
  return 0;
}

// The text as it lies in the zero-filled 16-byte buffer: an odd last byte forms a unit with the
// zero above it.
std::u16string buffer_text(bytes data) {
  if (data.size() % 2 != 0) data.push_back(0);
  return whole_units_text(data);
}

// The firmware's answers: 0 for any failure, a value longer than 16 bytes included; else by the
// case-sensitive searches in the buffer. Allowed besides: a value of exactly 16 bytes without a
// NUL has no terminator in the buffer and may never match; a value of another type than REG_SZ
// may be refused.
std::set<u32> firmware_answers(const firmware& f) {
  if (!f.key || !f.value || f.write_denied || f.open_fails || f.read_fails ||
      f.data.size() > kManufacturerBytes) {
    return {0};
  }
  const std::u16string text = buffer_text(f.data);
  std::set<u32> answers = {kind_of_text(text)};
  if (f.type != platform::reg_sz) answers.insert(0);
  if (f.data.size() == kManufacturerBytes && text.size() == 8) answers.insert(0);
  return answers;
}

[[noreturn]] void disagree(const char* what, u32 got, const std::set<u32>& allowed,
                           const leaf& first, const leaf& behind, const firmware& f) {
  std::fprintf(stderr, "fuzz_hypervisor: %s: got %u, allowed:", what, got);
  for (u32 k : allowed) std::fprintf(stderr, " %u", k);
  for (const leaf* l : {&first, &behind}) {
    std::fprintf(stderr, "\n  leaf 0x%08X signature:", l == &first ? kFirstLeaf : kBehindLeaf);
    for (std::uint8_t b : l->signature()) std::fprintf(stderr, " %02x", b);
  }
  std::fprintf(
      stderr, "\n  firmware: key %d value %d denied %d open_fails %d read_fails %d type %u:", f.key,
      f.value, f.write_denied, f.open_fails, f.read_fails, f.type);
  for (std::uint8_t b : f.data) std::fprintf(stderr, " %02x", b);
  std::fprintf(stderr, "\n");
  std::abort();
}

void check_keys(const char* when) {
  for (const standin::open_record& r : standin::opens()) {
    if (r.access != platform::key_all_access) {
      std::fprintf(stderr, "fuzz_hypervisor: %s: key opened with access 0x%X\n", when, r.access);
      std::abort();
    }
  }
  if (standin::open_key_count() != 0 || standin::open_device_list_count() != 0) {
    std::fprintf(stderr, "fuzz_hypervisor: %s: %d keys and %d device lists left open\n", when,
                 standin::open_key_count(), standin::open_device_list_count());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  standin::reset();
  app::reset_state();

  std::size_t at = 0;
  auto byte = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
  auto word = [&]() -> u32 {
    u32 v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<u32>(byte()) << (8 * i);
    return v;
  };
  const std::uint8_t flags = byte();
  leaf first{}, behind{};
  for (u32& r : first.regs) r = word();
  for (u32& r : behind.regs) r = word();
  firmware f;
  f.key = (flags & 1) != 0;
  f.value = (flags & 2) != 0;
  f.write_denied = (flags & 4) != 0;
  f.open_fails = (flags & 8) != 0;
  f.read_fails = (flags & 16) != 0;
  const std::uint8_t type = byte();
  if (flags & 32) f.type = type;
  for (; at < size; ++at) {
    if (flags & 64) {
      f.data.push_back(data[at]);
      f.data.push_back(0);
    } else {
      f.data.push_back(data[at]);
    }
  }
  if ((flags & 64) && (flags & 128)) f.data.insert(f.data.end(), {0, 0});

  standin::set_cpuid(kFirstLeaf, first.regs[0], first.regs[1], first.regs[2], first.regs[3]);
  standin::set_cpuid(kBehindLeaf, behind.regs[0], behind.regs[1], behind.regs[2], behind.regs[3]);
  standin::set_cpuid(1, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);  // not to be asked
  if (f.key) {
    standin::create_key(kBiosKey);
    if (f.value) standin::set_value(kBiosKey, u"SystemManufacturer", f.type, f.data);
    if (f.write_denied) standin::deny_write_access(kBiosKey);
  }
  if (f.open_fails)
    standin::fail(standin::op::reg_open, platform::error_access_denied, kBiosKey, 0, -1);
  if (f.read_fails) {
    standin::fail(standin::op::reg_query, platform::error_not_enough_memory,
                  u"\\SystemManufacturer", 0, -1);
  }

  const u32 got = hypervisor::detect_hypervisor();

  // The rule restated.
  const std::vector<std::uint8_t> s0 = first.signature();
  std::set<u32> allowed;
  std::vector<u32> leaves = {kFirstLeaf};
  bool firmware_asked = false;
  if (xen(s0)) {
    allowed = {1};
  } else if (kvm(s0)) {
    allowed = {2};
  } else if (hyperv_front(s0)) {
    leaves.push_back(kBehindLeaf);
    const std::vector<std::uint8_t> s1 = behind.signature();
    if (xen(s1)) {
      allowed = {1};
    } else if (kvm(s1)) {
      allowed = {2};
    } else {
      allowed = firmware_answers(f);
      firmware_asked = true;
    }
  } else if (xen_shim(s0)) {
    allowed = {1};
  } else {
    allowed = {0};
  }
  if (got > 2) disagree("kind out of range", got, allowed, first, behind, f);
  if (allowed.count(got) == 0) disagree("kind", got, allowed, first, behind, f);
  if (standin::cpuid_leaves_asked() != leaves) {
    std::fprintf(stderr, "fuzz_hypervisor: leaves asked:");
    for (u32 l : standin::cpuid_leaves_asked()) std::fprintf(stderr, " 0x%08X", l);
    disagree("CPUID leaves", got, allowed, first, behind, f);
  }
  if (!firmware_asked && !standin::opens().empty()) {
    disagree("firmware looked at without a Hyper-V front", got, allowed, first, behind, f);
  }
  check_keys("detect_hypervisor");

  // The fallback on its own gives the same answers.
  const u32 from_firmware = hypervisor::firmware_hypervisor_kind();
  const std::set<u32> firmware_allowed = firmware_answers(f);
  if (firmware_allowed.count(from_firmware) == 0) {
    disagree("firmware kind", from_firmware, firmware_allowed, first, behind, f);
  }
  if (firmware_asked && from_firmware != got) {
    disagree("firmware kind differs between calls", from_firmware, {got}, first, behind, f);
  }
  check_keys("firmware_hypervisor_kind");
  return 0;
}
