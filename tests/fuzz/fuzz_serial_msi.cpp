// Fuzz target: arbitrary key trees under Enum\PCI through the serial MSI read and write.
//
// Input: a flag byte, the value to write (4 bytes, little-endian), a fault byte and an error byte,
// then commands that build the tree, each a command byte and its operands:
//   flags: bit 0 the PCI key exists; bit 1 it refuses write access; bit 2 read first; bit 3 write;
//   bit 4 read again after the write; bit 5 opening the PCI key fails; bit 6 a set fails; bit 7
//   the list of present PCI devices cannot be built.
//   fault byte: which set fails: its low 4 bits name an instance in creation order (15, or no such
//   instance: any "MSISupported"), its high 4 bits how many matching sets fail (0: all of them).
//   command % 8: 0 a key under PCI, which becomes the current device; 1 an instance of the current
//   device; 2 the MSI key of the current instance; 3 a value; 4 part of the MSI key's path; 5 a key
//   that refuses write access; 6 any subkey on the way to the MSI key; 7 a key under PCI that does
//   not become current. For 0 and 7, command >> 3: bit 0 a present device of that key, bit 1 one
//   that is not present, bit 2 the device's instance id in capitals ("PCI\<key>\<n>").
//   Names: a kind byte, then by kind % 4: the device prefix (kind & 16: the modern one) and a
//   tail, a byte string, a UTF-16 string, or one unit repeated up to 255 times.
// Checked against the restated rule: the device keys are the keys under PCI whose names begin
// with "Ven_1AF4&Dev_1003" or "Ven_1AF4&Dev_1043", any case; of one, that one, without asking
// the device setup interface; of several, the first (in enumeration order) of whose key a present
// device's instance id (under 200 units) names, and the first when the list of present devices
// cannot be built or none is; the read takes "MSISupported" of
// the first instance with an MSI key; the write sets it, as a 4-byte REG_DWORD, in every instance
// with an MSI key, where the instance's name and the MSI key's path below it fit 255 units
// together; nothing else in the tree changes. The PCI and device keys are opened for reading, the
// MSI keys with full access, and all are closed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "platform/platform.h"
#include "store/serial_msi.h"
#include "tests/standin/standin.h"

namespace {

using platform::u32;
using standin::bytes;

const std::u16string kPci = u"SYSTEM\\CurrentControlSet\\Enum\\PCI";
const std::u16string kDevicePrefix = u"Ven_1AF4&Dev_1003";
const std::u16string kModernPrefix = u"Ven_1AF4&Dev_1043";
constexpr std::size_t kInstanceIdUnits = 199;  // without the terminator
const std::u16string kParameters = u"Device Parameters";
const std::u16string kInterrupts = u"Interrupt Management";
const std::u16string kMsi = u"MessageSignaledInterruptProperties";
const std::u16string kSuffix = u"\\" + kParameters + u"\\" + kInterrupts + u"\\" + kMsi;
const std::u16string kValue = u"MSISupported";
constexpr std::size_t kNameUnits = 255;  // without the terminator
constexpr u32 kUntouched = 0xA5A5A5A5u;

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }
std::u16string folded(const std::u16string& s) {
  std::u16string out = s;
  for (char16_t& c : out) c = lower(c);
  return out;
}
std::u16string upper_case(const std::u16string& s) {
  std::u16string out = s;
  for (char16_t& c : out) c = upper(c);
  return out;
}
bool ends_with_ignore_case(const std::u16string& s, const std::u16string& tail) {
  return tail.size() <= s.size() && folded(s.substr(s.size() - tail.size())) == folded(tail);
}

std::string printable(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
      out += buffer;
    }
  }
  return out;
}

[[noreturn]] void disagree(const std::string& what) {
  std::fprintf(stderr, "fuzz_serial_msi: %s\n", what.c_str());
  std::abort();
}

struct reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool more() const { return at < size; }
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
};

// A key name: at most 255 units, no backslash, no NUL, not empty.
std::u16string decode_name(reader& in) {
  const std::uint8_t kind = in.byte();
  std::u16string name;
  switch (kind % 4) {
    case 0: {
      const std::u16string& prefix = kind & 16 ? kModernPrefix : kDevicePrefix;
      name = kind & 4 ? upper_case(prefix) : (kind & 8 ? folded(prefix) : prefix);
      const std::size_t tail = in.byte();
      for (std::size_t i = 0; i < tail && in.more(); ++i) name += static_cast<char16_t>(in.byte());
      break;
    }
    case 1: {
      const std::size_t length = in.byte();
      for (std::size_t i = 0; i < length && in.more(); ++i)
        name += static_cast<char16_t>(in.byte());
      break;
    }
    case 2: {
      const std::size_t length = in.byte();
      for (std::size_t i = 0; i < length && in.more(); ++i) {
        const std::uint8_t lo = in.byte();
        name += static_cast<char16_t>(lo | in.byte() << 8);
      }
      break;
    }
    default: {
      const std::size_t count = in.byte();
      const std::uint8_t unit = in.byte();
      name.assign(count == 0 ? kNameUnits : count, static_cast<char16_t>(unit));
      break;
    }
  }
  for (char16_t& c : name) {
    if (c == 0 || c == u'\\') c = u'_';
  }
  if (name.empty()) name = u"_";
  if (name.size() > kNameUnits) name.resize(kNameUnits);
  return name;
}

std::u16string join(const std::u16string& a, const std::u16string& b) { return a + u"\\" + b; }

// The modelled machine as the target built it: what was made write-protected, and every value
// name used, so that whole trees can be compared.
struct model {
  std::set<std::u16string> denied;  // folded full paths
  std::set<std::u16string> value_names = {folded(kValue)};
  bool denied_path(const std::u16string& path) const { return denied.count(folded(path)) != 0; }
};

// Every key below (and including) root with the values of every name the target used.
using tree = std::map<std::u16string, std::map<std::u16string, standin::value>>;
void snapshot(const model& m, const std::u16string& path, tree& out) {
  auto& values = out[folded(path)];
  for (const std::u16string& name : m.value_names) {
    if (auto v = standin::get_value(path, name)) values[name] = *v;
  }
  for (const std::u16string& child : standin::subkeys(path)) snapshot(m, join(path, child), out);
}
tree snapshot(const model& m) {
  tree t;
  if (standin::key_exists(kPci)) snapshot(m, kPci, t);
  return t;
}
// The first difference between two trees, or empty when they are the same.
std::string tree_difference(const tree& got, const tree& want) {
  for (const auto& [path, values] : want) {
    auto it = got.find(path);
    if (it == got.end()) return "key gone: " + printable(path);
    for (const auto& [name, v] : values) {
      auto found = it->second.find(name);
      if (found == it->second.end()) return "value gone: " + printable(path + u"\\" + name);
      if (found->second.type != v.type || found->second.data != v.data) {
        return "value differs: " + printable(path + u"\\" + name) + " type " +
               std::to_string(found->second.type) + " bytes " +
               std::to_string(found->second.data.size()) + ", expected type " +
               std::to_string(v.type) + " bytes " + std::to_string(v.data.size());
      }
    }
    for (const auto& [name, v] : it->second) {
      if (values.count(name) == 0) return "value added: " + printable(path + u"\\" + name);
    }
  }
  for (const auto& [path, values] : got) {
    if (want.count(path) == 0) return "key added: " + printable(path);
  }
  return "";
}
std::string folded_event(const std::string& e) {
  std::string out = e;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

struct faults {
  bool list_fails = false;
  bool pci_open_fails = false;
  u32 pci_open_error = 0;
  bool set_fails = false;
  std::u16string set_match;
  int set_times = 0;  // < 0: for ever
  u32 set_error = 0;
};

struct expected_read {
  u32 result;
  bool any_error;  // the result is some non-zero error, which one is not fixed
  std::optional<u32> value;
};

bool is_device_key(const std::u16string& name) {
  if (name.size() < kDevicePrefix.size()) return false;
  const std::u16string head = folded(name.substr(0, kDevicePrefix.size()));
  return head == folded(kDevicePrefix) || head == folded(kModernPrefix);
}

// Instance ids of the present PCI devices, as the target made them.
std::vector<std::u16string> present_ids;

bool present(const std::u16string& key) {
  for (const std::u16string& id : present_ids) {
    if (id.size() > kInstanceIdUnits) continue;
    if (folded(id).compare(0, 5 + key.size(), u"pci\\" + folded(key) + u"\\") == 0) return true;
  }
  return false;
}

// The device key's name, or the error that ends the search; *asked: whether the device setup
// interface is asked.
std::optional<std::u16string> device_key(const faults& f, u32* error, bool* asked) {
  *asked = false;
  if (f.pci_open_fails) {
    *error = f.pci_open_error;
    return std::nullopt;
  }
  if (!standin::key_exists(kPci)) {
    *error = platform::error_file_not_found;
    return std::nullopt;
  }
  std::vector<std::u16string> keys;
  for (const std::u16string& name : standin::subkeys(kPci)) {
    if (is_device_key(name)) keys.push_back(name);
  }
  if (keys.empty()) {
    *error = platform::error_no_more_items;
    return std::nullopt;
  }
  if (keys.size() == 1) return keys[0];
  *asked = true;
  if (f.list_fails) return keys[0];
  for (const std::u16string& key : keys) {
    if (present(key)) return key;
  }
  return keys[0];
}

bool fits(const std::u16string& instance) { return instance.size() + kSuffix.size() <= kNameUnits; }

expected_read reference_read(const model& m, const faults& f, bool* asked) {
  u32 error = 0;
  const std::optional<std::u16string> device = device_key(f, &error, asked);
  if (!device) return {error, false, std::nullopt};
  const std::u16string device_path = join(kPci, *device);
  expected_read remembered{0, false, std::nullopt};
  for (const std::u16string& instance : standin::subkeys(device_path)) {
    const std::u16string msi_path = join(device_path, instance) + kSuffix;
    if (!fits(instance)) {
      remembered = {0, true, std::nullopt};
      continue;
    }
    if (!standin::key_exists(msi_path)) {
      remembered = {platform::error_file_not_found, false, std::nullopt};
      continue;
    }
    if (m.denied_path(msi_path)) {
      remembered = {platform::error_access_denied, false, std::nullopt};
      continue;
    }
    const std::optional<standin::value> v = standin::get_value(msi_path, kValue);
    if (!v) return {platform::error_file_not_found, false, std::nullopt};
    if (v->data.size() > 4) return {platform::error_more_data, false, std::nullopt};
    u32 number = 0;
    for (std::size_t i = 0; i < v->data.size(); ++i)
      number |= static_cast<u32>(v->data[i]) << (8 * i);
    return {0, false, number};
  }
  return remembered;
}

// One list of present PCI devices since lists_before when asked, none otherwise.
void check_lists(std::size_t lists_before, bool asked, const char* when) {
  const std::vector<standin::device_list_record>& lists = standin::device_lists_built();
  const std::size_t built = lists.size() - lists_before;
  if (built != (asked ? 1u : 0u)) {
    disagree(std::string(when) + ": " + std::to_string(built) + " device lists built, expected " +
             (asked ? "1" : "0"));
  }
  if (asked && (folded(lists.back().enumerator) != u"pci" ||
                lists.back().flags != (platform::digcf_allclasses | platform::digcf_present))) {
    disagree(std::string(when) + ": the device list is not of present PCI devices");
  }
}

void check_read(const model& m, const faults& f, const char* when) {
  bool asked = false;
  const expected_read want = reference_read(m, f, &asked);
  u32 value = kUntouched;
  const std::size_t lists_before = standin::device_lists_built().size();
  const u32 got = store::read_serial_msi(&value);
  check_lists(lists_before, asked, when);
  char line[200];
  if (want.any_error ? got == 0 : got != want.result) {
    std::snprintf(line, sizeof line, "%s: read_serial_msi returned %u, expected %s%u", when, got,
                  want.any_error ? "an error like " : "", want.result);
    disagree(line);
  }
  if (got == 0) {
    const u32 want_value = want.value ? *want.value : kUntouched;
    if (value != want_value) {
      std::snprintf(line, sizeof line, "%s: read_serial_msi read 0x%X, expected 0x%X", when, value,
                    want_value);
      disagree(line);
    }
  }
}

struct expected_write {
  u32 result = 0;
  std::vector<std::u16string> msi_keys_set;  // full paths
  std::vector<std::string> events;
};

expected_write reference_write(const model& m, faults& f, u32 value, bool* asked) {
  expected_write w;
  u32 error = 0;
  const std::optional<std::u16string> device = device_key(f, &error, asked);
  if (!device) {
    w.result = error;
    return w;
  }
  const std::u16string device_path = join(kPci, *device);
  for (const std::u16string& instance : standin::subkeys(device_path)) {
    const std::u16string msi_path = join(device_path, instance) + kSuffix;
    if (!fits(instance) || !standin::key_exists(msi_path) || m.denied_path(msi_path)) continue;
    const std::u16string subject = join(msi_path, kValue);
    if (f.set_fails && f.set_times != 0 && ends_with_ignore_case(subject, f.set_match)) {
      if (f.set_times > 0) --f.set_times;
      if (f.set_error != 0) {
        if (w.result == 0) w.result = f.set_error;  // the first refusal is reported
        continue;
      }
    }
    w.msi_keys_set.push_back(msi_path);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", value);
    std::string event = "set ";
    for (char16_t c : subject) {
      if (c < 0x80) {
        event += static_cast<char>(c);
      } else {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
        event += buffer;
      }
    }
    w.events.push_back(event + "=" + hex);
  }
  return w;
}

void check_access() {
  const std::u16string pci = folded(kPci);
  for (const standin::open_record& r : standin::opens()) {
    const std::u16string path = folded(r.path);
    if (path.compare(0, pci.size(), pci) != 0 ||
        (path.size() > pci.size() && path[pci.size()] != u'\\')) {
      disagree("opened a key outside Enum\\PCI: " + printable(r.path));
    }
    const std::size_t depth = path.size() == pci.size()
                                  ? 0
                                  : 1 + (path.find(u'\\', pci.size() + 1) != std::u16string::npos);
    const u32 want = depth <= 1 ? platform::key_read : platform::key_all_access;
    if (r.access != want) {
      char line[64];
      std::snprintf(line, sizeof line, " with access 0x%X, expected 0x%X", r.access, want);
      disagree("opened " + printable(r.path) + line);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  standin::reset();
  app::reset_state();

  reader in{data, size};
  const std::uint8_t flags = in.byte();
  u32 value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<u32>(in.byte()) << (8 * i);
  const std::uint8_t fault_byte = in.byte();
  const std::uint8_t error_byte = in.byte();

  model m;
  present_ids.clear();
  int devices_made = 0;
  // Devices of the key under PCI that is name, as detail's bits ask for.
  auto add_devices = [&](const std::u16string& name, std::uint8_t detail) {
    for (int is_present = 0; is_present < 2; ++is_present) {
      if (!(detail & (is_present ? 1 : 2))) continue;
      std::u16string id = u"PCI\\" + name + u"\\" + std::u16string(1, u'0' + devices_made++ % 10);
      if (detail & 4) id = upper_case(id);
      standin::add_device_instance(id, is_present != 0);
      if (is_present) present_ids.push_back(id);
    }
  };
  std::vector<std::u16string> instances_made;  // full paths, in creation order
  std::u16string device, instance;             // full paths of the current ones
  auto current_device = [&]() {
    if (device.empty()) {
      device = join(kPci, u"VEN_1AF4&DEV_1003&SUBSYS_00031AF4&REV_00");
      standin::create_key(device);
    }
    return device;
  };
  auto current_instance = [&]() {
    if (instance.empty()) {
      instance = join(current_device(),
                      u"3&267a616a&0&" + std::u16string(1, u'0' + instances_made.size() % 10));
      standin::create_key(instance);
      instances_made.push_back(instance);
    }
    return instance;
  };
  if (flags & 1) standin::create_key(kPci);
  while (in.more()) {
    const std::uint8_t command = in.byte();
    const std::uint8_t detail = command >> 3;
    switch (command % 8) {
      case 0: {
        const std::u16string name = decode_name(in);
        device = join(kPci, name);
        standin::create_key(device);
        instance.clear();
        add_devices(name, detail);
        break;
      }
      case 1:
        instance = join(current_device(), decode_name(in));
        standin::create_key(instance);
        instances_made.push_back(instance);
        break;
      case 2:
        standin::create_key(current_instance() + (detail & 1
                                                      ? upper_case(kSuffix)
                                                      : (detail & 2 ? folded(kSuffix) : kSuffix)));
        break;
      case 3: {
        const std::uint8_t which = in.byte();
        std::u16string name = which % 4 == 0   ? kValue
                              : which % 4 == 1 ? upper_case(kValue)
                              : which % 4 == 2 ? u"DeviceDesc"
                                               : decode_name(in);
        const u32 type = in.byte();
        bytes value_data;
        const std::size_t length = in.byte();
        for (std::size_t i = 0; i < length && in.more(); ++i) value_data.push_back(in.byte());
        std::u16string where;
        switch (detail % 4) {
          case 0:
            where = current_instance() + kSuffix;
            break;
          case 1:
            where = current_instance();
            break;
          case 2:
            where = current_device();
            break;
          default:
            where = join(join(current_instance(), kParameters), kInterrupts);
            break;
        }
        standin::set_value(where, name, type, value_data);
        m.value_names.insert(folded(name));
        break;
      }
      case 4:
        standin::create_key(detail & 1 ? join(current_instance(), kParameters)
                                       : join(join(current_instance(), kParameters), kInterrupts));
        break;
      case 5: {
        std::u16string where;
        switch (detail % 4) {
          case 0:
            where = current_instance() + kSuffix;
            break;
          case 1:
            where = current_instance();
            break;
          case 2:
            where = current_device();
            break;
          default:
            where = kPci;
            break;
        }
        standin::deny_write_access(where);
        m.denied.insert(folded(where));
        break;
      }
      case 6: {
        std::u16string parent = current_instance();
        if (detail % 4 >= 1) parent = join(parent, kParameters);
        if (detail % 4 >= 2) parent = join(parent, kInterrupts);
        if (detail % 4 >= 3) parent = join(parent, kMsi);
        standin::create_key(join(parent, decode_name(in)));
        break;
      }
      default: {
        const std::u16string name = decode_name(in);
        standin::create_key(join(kPci, name));
        add_devices(name, detail);
        break;
      }
    }
  }

  faults f;
  if (flags & 128) {
    f.list_fails = true;
    standin::fail(standin::op::device_list, platform::error_not_enough_memory, u"PCI", 0, -1);
  }
  if (flags & 32) {
    f.pci_open_fails = true;
    f.pci_open_error = 1u + error_byte;
    standin::fail(standin::op::reg_open, f.pci_open_error, kPci, 0, -1);
  }
  if (flags & 64) {
    f.set_fails = true;
    const std::size_t which = fault_byte & 15;
    f.set_match = which < 15 && which < instances_made.size()
                      ? join(instances_made[which] + kSuffix, kValue)
                      : kValue;
    f.set_times = fault_byte >> 4 == 0 ? -1 : fault_byte >> 4;
    f.set_error = error_byte % 2 == 0 ? platform::error_access_denied : error_byte;
    standin::fail(standin::op::reg_set, f.set_error, f.set_match, 0, f.set_times);
  }

  if (flags & 4) check_read(m, f, "first read");
  if (flags & 8) {
    tree want_tree = snapshot(m);
    bool asked = false;
    const expected_write want = reference_write(m, f, value, &asked);
    for (const std::u16string& path : want.msi_keys_set) {
      bytes dword(4);
      for (int i = 0; i < 4; ++i) dword[i] = static_cast<std::uint8_t>(value >> (8 * i));
      want_tree[folded(path)][folded(kValue)] = standin::value{platform::reg_dword, dword};
    }
    const std::size_t events_before = standin::timeline().size();
    const std::size_t lists_before = standin::device_lists_built().size();
    const u32 got = store::write_serial_msi(value);
    check_lists(lists_before, asked, "write");
    if (got != want.result) {
      char line[96];
      std::snprintf(line, sizeof line, "write_serial_msi(0x%X) returned %u, expected %u", value,
                    got, want.result);
      disagree(line);
    }
    const std::vector<std::string> events(standin::timeline().begin() + events_before,
                                          standin::timeline().end());
    bool same_events = events.size() == want.events.size();
    for (std::size_t i = 0; same_events && i < events.size(); ++i) {
      same_events = folded_event(events[i]) == folded_event(want.events[i]);
    }
    if (!same_events) {
      std::string line = "write_serial_msi: changes differ; made:";
      for (const std::string& e : events) line += "\n    " + e;
      line += "\n  expected:";
      for (const std::string& e : want.events) line += "\n    " + e;
      disagree(line);
    }
    const std::string difference = tree_difference(snapshot(m), want_tree);
    if (!difference.empty()) disagree("write_serial_msi: tree under Enum\\PCI: " + difference);
  }
  if (flags & 16) check_read(m, f, "read after the write");

  check_access();
  if (standin::open_key_count() != 0) {
    disagree(std::to_string(standin::open_key_count()) + " keys left open");
  }
  if (standin::open_device_list_count() != 0) disagree("a device list left open");
  return 0;
}
