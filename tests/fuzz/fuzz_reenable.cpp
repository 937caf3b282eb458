// Fuzz target: arbitrary device lists and setup failures through the boot-start driver re-enable.
//
// Input: a flag byte, a fault byte, the fault operands, a device choice byte per property fault,
// a value (4 bytes, little-endian), then devices until the input ends.
//   flags: bit 0 the SCSI target ("xen\type_vscsi") instead of the disk ("xen\type_vbd"); bit 1
//   call the device walk directly on a list of "XEN" (with the value) instead of the whole
//   re-enable; bit 2 the legacy driver generation's service keys; bit 3 the service key exists;
//   bit 4 it has a "StartOverride" subkey; bit 5 that subkey has a subkey of its own; bit 6 the
//   service key refuses write access; bit 7 the device list cannot be built.
//   fault byte: bit 0 fetching devices fails, bit 1 reading a hardware id fails, bit 2 writing the
//   configuration flags fails, each with operands: an error selector, a skip count, a times count
//   (0: for ever), and for the property faults a match (kind byte: 0 any device, 1 a byte string,
//   2 the first id of the device that the choice byte names).
//   device: a control byte; bit 0 present; bits 1-2 enumerator "XEN", "xen", "Xen" or a byte
//   string; bit 3 initial configuration flags follow (4 bytes); bits 4-5 hardware id: a known id
//   with a tail, raw bytes (2-byte length), a byte string, or none.
// Checked against the restated rule: exactly the devices under the enumerator "XEN" (any case)
// whose first hardware-id string begins with the prefix (any case), and whose hardware id fits
// 520 bytes, get the value as configuration flags, unless an injected failure refused the fetch,
// the read or the write; a failed fetch skips its index and the walk goes on, a fetch failing with
// ERROR_NO_MORE_ITEMS ends it, and so does a run of failed fetches as long as the program's limit
// for a broken list; the walk ends, the list is destroyed, the "StartOverride" subkey is removed
// when it can be, and nothing else changes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "platform/platform.h"
#include "store/boot_driver.h"
#include "tests/fuzz/whole_units.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::bytes;
using standin::op;

constexpr std::size_t kHardwareIdBytes = 520;

// Known ids the generator starts from, to reach near and exact matches.
constexpr const char16_t* kKnownIds[] = {
    u"XEN\\TYPE_VBD\\0", u"xen\\type_vbd",    u"xen\\type_vscsi", u"XEN\\TYPE_VSCSI\\1",
    u"xen\\type_vb",     u"Xen\\Type_Vbdx",   u"xen\\vif\\0",     u"PCI\\VEN_5853&DEV_0001",
    u"xen\\type_vscs",   u"xen\\type_vscsi0", u"XEN\\TYPE_VBD",   u"xen\\",
};

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
std::u16string folded(const std::u16string& s) {
  std::u16string out = s;
  for (char16_t& c : out) c = lower(c);
  return out;
}
bool ends_with_ignore_case(const std::u16string& s, const std::u16string& tail) {
  return tail.size() <= s.size() && folded(s.substr(s.size() - tail.size())) == folded(tail);
}

struct reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool more() const { return at < size; }
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  std::u16string narrow_text() {
    std::u16string s;
    const std::size_t length = byte();
    for (std::size_t i = 0; i < length && more(); ++i) s += static_cast<char16_t>(byte());
    return s;
  }
};

void append_unit(bytes& out, char16_t c) {
  out.push_back(static_cast<std::uint8_t>(c & 0xFF));
  out.push_back(static_cast<std::uint8_t>(c >> 8));
}

bool begins_with(const std::u16string& s, const std::u16string& prefix) {
  return s.size() >= prefix.size() && folded(s.substr(0, prefix.size())) == folded(prefix);
}

struct fault {
  bool active = false;
  u32 error = 0;
  int skip = 0;
  int times = 0;  // < 0: for ever
  std::u16string match;
  bool names_device = false;  // the match is a chosen device's first id, filled in later
  // The stand-in's rule for one call: a matching call is skipped skip times, then fails times
  // times.
  u32 call(const std::u16string& subject) {
    if (!active || !ends_with_ignore_case(subject, match)) return 0;
    if (skip > 0) {
      --skip;
      return 0;
    }
    const u32 e = error;
    if (times > 0 && --times == 0) active = false;
    return e;
  }
};

struct modelled_device {
  std::u16string enumerator;
  bytes hardware_id;
  std::optional<u32> config_flags;
  bool present;
};

u32 decode_error(std::uint8_t selector) {
  switch (selector % 4) {
    case 0:
      return platform::error_no_more_items;
    case 1:
      return platform::error_invalid_parameter;
    case 2:
      return platform::error_access_denied;
    default:
      return selector >> 2;  // anything, 0 (no failure) and 259 included
  }
}

fault decode_fault(reader& in, bool with_match) {
  fault f;
  f.active = true;
  f.error = decode_error(in.byte());
  f.skip = in.byte() % 32;
  const int times = in.byte() & 0x3F;
  f.times = times == 0 ? -1 : times;
  if (with_match) {
    const std::uint8_t kind = in.byte() % 3;
    if (kind == 1) f.match = in.narrow_text();
    f.names_device = kind == 2;
  }
  return f;
}

bytes decode_hardware_id(reader& in, std::uint8_t kind) {
  bytes id;
  switch (kind) {
    case 0: {
      const std::uint8_t choice = in.byte();
      const std::uint8_t shape = in.byte();
      const char16_t* known = kKnownIds[choice % (sizeof kKnownIds / sizeof kKnownIds[0])];
      for (const char16_t* p = known; *p != 0; ++p) {
        append_unit(id, shape & 1 ? upper(*p) : (shape & 2 ? lower(*p) : *p));
      }
      for (char16_t c : in.narrow_text()) append_unit(id, c);
      const int terminators = (shape >> 2) % 3;  // none, the string's, and the list's
      for (int t = 0; t < terminators; ++t) append_unit(id, 0);
      if (shape & 16) {  // a long second string, to pass 520 bytes
        const std::size_t units = 200u + in.byte();
        for (std::size_t i = 0; i < units; ++i) append_unit(id, u'x');
        append_unit(id, 0);
        append_unit(id, 0);
      }
      if (shape & 32) id.push_back(in.byte());  // an odd byte count
      break;
    }
    case 1: {
      const std::size_t lo = in.byte();
      const std::size_t length = (lo | static_cast<std::size_t>(in.byte()) << 8) % 2048;
      for (std::size_t i = 0; i < length && in.more(); ++i) id.push_back(in.byte());
      break;
    }
    case 2:
      for (char16_t c : in.narrow_text()) append_unit(id, c);
      append_unit(id, 0);
      append_unit(id, 0);
      break;
    default:
      break;  // no hardware id property at all
  }
  return id;
}

struct outcome {
  std::vector<std::optional<u32>> config_flags;
  std::vector<std::string> events;  // "config_flags <id>=<hex>"
  bool last_set_succeeded = false;
};

using standin::narrow;

// The walk restated.
outcome reference_walk(const std::vector<modelled_device>& devices, bool list_built,
                       const std::u16string& prefix, u32 value, fault enum_fault, fault get_fault,
                       fault set_fault) {
  outcome o;
  for (const modelled_device& d : devices) o.config_flags.push_back(d.config_flags);
  if (!list_built) return o;
  std::vector<std::size_t> members;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (folded(devices[i].enumerator) == u"xen") members.push_back(i);  // present or not
  }
  u32 failures_in_a_row = 0;
  for (std::size_t index = 0;; ++index) {
    u32 error = enum_fault.call(u"");
    if (error == 0 && index >= members.size()) error = platform::error_no_more_items;
    if (error != 0) {
      if (error == platform::error_no_more_items) break;
      if (++failures_in_a_row >= store::device_walk_failure_limit) break;
      continue;  // the read on a cleared record fails: the index is skipped
    }
    failures_in_a_row = 0;
    const modelled_device& d = devices[members[index]];
    const std::u16string subject = whole_units_text(d.hardware_id);
    if (get_fault.call(subject) != 0) continue;
    if (d.hardware_id.empty() || d.hardware_id.size() > kHardwareIdBytes) continue;
    if (!begins_with(whole_units_text(d.hardware_id), prefix)) continue;
    if (set_fault.call(subject) != 0) {
      o.last_set_succeeded = false;
      continue;
    }
    o.last_set_succeeded = true;
    o.config_flags[members[index]] = value;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", value);
    o.events.push_back("config_flags " + narrow(subject) + "=" + hex);
  }
  return o;
}

[[noreturn]] void disagree(const std::string& what, const std::vector<modelled_device>& devices,
                           const outcome& got, const outcome& want) {
  std::fprintf(stderr, "fuzz_reenable: %s\n", what.c_str());
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const modelled_device& d = devices[i];
    std::fprintf(stderr, "  device %zu: enumerator \"%s\" present %d id \"%s\" (%zu bytes)", i,
                 narrow(d.enumerator).c_str(), d.present ? 1 : 0,
                 narrow(whole_units_text(d.hardware_id)).c_str(), d.hardware_id.size());
    auto show = [](const std::optional<u32>& f) {
      if (f) {
        std::fprintf(stderr, " 0x%X", *f);
      } else {
        std::fprintf(stderr, " none");
      }
    };
    std::fprintf(stderr, " flags:");
    show(d.config_flags);
    std::fprintf(stderr, " now");
    show(got.config_flags[i]);
    std::fprintf(stderr, " expected");
    show(want.config_flags[i]);
    std::fprintf(stderr, "\n");
  }
  for (const std::string& e : got.events) std::fprintf(stderr, "  made: %s\n", e.c_str());
  for (const std::string& e : want.events) std::fprintf(stderr, "  expected: %s\n", e.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  standin::reset();
  app::reset_state();

  reader in{data, size};
  const std::uint8_t flags = in.byte();
  const std::uint8_t fault_flags = in.byte();
  const std::u16string prefix = flags & 1 ? u"xen\\type_vscsi" : u"xen\\type_vbd";
  const bool direct = (flags & 2) != 0;
  const app::driver_set& drivers = flags & 4 ? app::legacy_generation : app::current_generation;
  const std::u16string service = flags & 1 ? drivers.scsi_service_key : drivers.block_service_key;
  const bool service_exists = (flags & 8) != 0;
  const bool override_exists = service_exists && (flags & 16) != 0;
  const bool override_has_subkey = override_exists && (flags & 32) != 0;
  const bool service_denied = service_exists && (flags & 64) != 0;
  const bool list_fails = (flags & 128) != 0;

  fault enum_fault, get_fault, set_fault;
  if (fault_flags & 1) enum_fault = decode_fault(in, false);
  if (fault_flags & 2) get_fault = decode_fault(in, true);
  if (fault_flags & 4) set_fault = decode_fault(in, true);
  const std::size_t get_choice = (fault_flags & 2) ? in.byte() : 0;
  const std::size_t set_choice = (fault_flags & 4) ? in.byte() : 0;
  u32 value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<u32>(in.byte()) << (8 * i);

  std::vector<modelled_device> devices;
  while (in.more() && devices.size() < 64) {
    const std::uint8_t control = in.byte();
    modelled_device d;
    d.present = (control & 1) != 0;
    switch ((control >> 1) & 3) {
      case 0:
        d.enumerator = u"XEN";
        break;
      case 1:
        d.enumerator = u"xen";
        break;
      case 2:
        d.enumerator = u"Xen";
        break;
      default:
        d.enumerator = in.narrow_text();
        break;
    }
    if (control & 8) {
      u32 initial = 0;
      for (int i = 0; i < 4; ++i) initial |= static_cast<u32>(in.byte()) << (8 * i);
      d.config_flags = initial;
    }
    d.hardware_id = decode_hardware_id(in, static_cast<std::uint8_t>((control >> 4) & 3));
    devices.push_back(d);
  }
  // A property fault that names one device matches by its first id.
  auto name_device = [&](fault& f, std::size_t choice) {
    if (f.active && f.names_device) {
      f.match = devices.empty() ? std::u16string()
                                : whole_units_text(devices[choice % devices.size()].hardware_id);
    }
  };
  name_device(get_fault, get_choice);
  name_device(set_fault, set_choice);

  for (const modelled_device& d : devices) {
    const int i = standin::add_device(d.enumerator, {}, d.config_flags, d.present);
    standin::device_at(i).hardware_id = d.hardware_id;
  }
  if (service_exists) standin::create_key(service);
  if (override_exists) standin::create_key(service + u"\\StartOverride");
  if (override_has_subkey) standin::create_key(service + u"\\StartOverride\\0");
  if (service_denied) standin::deny_write_access(service);
  if (list_fails) standin::fail(op::device_list, platform::error_invalid_parameter, u"XEN", 0, -1);
  if (enum_fault.active) {
    standin::fail(op::device_enum, enum_fault.error, enum_fault.match, enum_fault.skip,
                  enum_fault.times);
  }
  if (get_fault.active) {
    standin::fail(op::device_get_property, get_fault.error, get_fault.match, get_fault.skip,
                  get_fault.times);
  }
  if (set_fault.active) {
    standin::fail(op::device_set_property, set_fault.error, set_fault.match, set_fault.skip,
                  set_fault.times);
  }

  int direct_result = 0;
  bool list_built = true;
  if (direct) {
    const platform::device_list list =
        platform::setup_get_class_devs(u"XEN", platform::digcf_allclasses);
    list_built = list != nullptr;
    if (list_built) direct_result = store::reset_config_flags(list, prefix.c_str(), value);
  } else {
    value = 0;
    store::reenable_boot_driver(service.c_str(), prefix.c_str());
    list_built = !list_fails;
  }

  outcome got;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    got.config_flags.push_back(standin::device_at(static_cast<int>(i)).config_flags);
  }
  got.events = standin::timeline_matching("config_flags ");

  // The whole outcome (flags, changes and, when called directly, the result) must agree.
  const outcome want =
      reference_walk(devices, list_built, prefix, value, enum_fault, get_fault, set_fault);
  const bool flags_agreed = got.config_flags == want.config_flags && got.events == want.events;
  const bool agreed =
      flags_agreed && (!direct || !list_built || (direct_result != 0) == want.last_set_succeeded);
  if (!flags_agreed) disagree("configuration flags differ", devices, got, want);
  if (!agreed) {
    disagree("reset_config_flags returned " + std::to_string(direct_result) +
                 (want.last_set_succeeded ? ", expected success" : ", expected 0"),
             devices, got, want);
  }

  if (!direct) {
    const std::vector<standin::device_list_record>& built = standin::device_lists_built();
    if (built.size() != 1 || built[0].enumerator != u"XEN" ||
        built[0].flags != platform::digcf_allclasses) {
      disagree("expected one device list of \"XEN\" with DIGCF_ALLCLASSES alone; built " +
                   std::to_string(built.size()) +
                   (built.empty() ? std::string()
                                  : ", the first of \"" + narrow(built[0].enumerator) +
                                        "\" with flags " + std::to_string(built[0].flags)),
               devices, got, want);
    }
    // The start override goes when the service key opens with full access and it has no subkeys.
    const bool removed = override_exists && !service_denied && !override_has_subkey;
    if (standin::key_exists(service + u"\\StartOverride") != (override_exists && !removed)) {
      disagree(std::string("StartOverride ") + (removed ? "not removed" : "removed"), devices, got,
               want);
    }
    if (standin::key_exists(service) != service_exists ||
        standin::key_exists(service + u"\\StartOverride\\0") != override_has_subkey) {
      disagree("the service key changed otherwise", devices, got, want);
    }
    for (const standin::open_record& r : standin::opens()) {
      if (folded(r.path) != folded(service) || r.access != platform::key_all_access) {
        disagree("opened \"" + narrow(r.path) + "\" with access " + std::to_string(r.access),
                 devices, got, want);
      }
    }
  }
  const std::vector<std::string> others = standin::timeline();
  std::size_t changes = 0;
  for (const std::string& e : others) {
    if (e.compare(0, 13, "config_flags ") != 0) ++changes;
  }
  const bool removed = !direct && override_exists && !service_denied && !override_has_subkey;
  if (changes != (removed ? 1u : 0u)) {
    disagree(std::to_string(changes) + " other changes made", devices, got, want);
  }

  if (standin::open_device_list_count() != 0) disagree("device list left open", devices, got, want);
  if (standin::open_key_count() != 0) disagree("registry key left open", devices, got, want);
  return 0;
}
