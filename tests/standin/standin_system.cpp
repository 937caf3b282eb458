// Stand-in processor, token, devices, reboot prompt, string table and message boxes.
#include <cstring>
#include <map>

#include "tests/standin/compiled_resources.h"
#include "tests/standin/standin_internal.h"

namespace standin {

using namespace internal;

namespace {

std::map<u32, std::vector<u32>> cpuid_table;
std::vector<u32> cpuid_asked;
bool administrator = true;
std::optional<bool> elevation = true;
u32 seed_counter = 0;
std::vector<device> devices;
struct list_record {
  std::vector<int> members;
};
std::map<std::uintptr_t, list_record> lists;
std::uintptr_t next_list = 0x5000;
std::vector<device_list_record> lists_built;
int reboot_count = 0;
std::vector<message_record> message_log;
u32 last_error_value = 0;

constexpr std::uintptr_t own_module_value = 0x400000;
constexpr u32 error_invalid_user_buffer = 1784;

std::u16string first_hardware_id(const device& d) {
  std::u16string id;
  for (std::size_t i = 0; i + 1 < d.hardware_id.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(d.hardware_id[i] | d.hardware_id[i + 1] << 8);
    if (c == 0) break;
    id += c;
  }
  return id;
}

list_record* lookup(platform::device_list list) {
  auto it = lists.find(reinterpret_cast<std::uintptr_t>(list));
  return it == lists.end() ? nullptr : &it->second;
}

// The device a record fetched from list refers to, or -1.
int device_of(const list_record& list, const platform::device_info* info) {
  if (info == nullptr || info->size != sizeof(platform::device_info)) return -1;
  const int index = static_cast<int>(info->device_instance) - 1;
  for (int member : list.members) {
    if (member == index) return index;
  }
  return -1;
}

// The instance id the device setup interface gives for the device.
std::u16string instance_id_of(int index) {
  const device& d = devices[static_cast<std::size_t>(index)];
  return d.instance_id.empty() ? d.enumerator + u"\\DEVICE\\" + widen(std::to_string(index))
                               : d.instance_id;
}

// The device info refers to in list, or -1 with ERROR_INVALID_PARAMETER as the last error.
int device_in(platform::device_list list, const platform::device_info* info) {
  list_record* l = lookup(list);
  const int index = l ? device_of(*l, info) : -1;
  if (index < 0) set_last_error(platform::error_invalid_parameter);
  return index;
}

}  // namespace

namespace internal {
void set_last_error(u32 error) { last_error_value = error; }

void reset_system() {
  cpuid_table.clear();
  cpuid_asked.clear();
  administrator = true;
  elevation = true;
  seed_counter = 0;
  devices.clear();
  lists.clear();
  lists_built.clear();
  reboot_count = 0;
  message_log.clear();
  last_error_value = 0;
}
}  // namespace internal

void set_cpuid(u32 leaf, u32 eax, u32 ebx, u32 ecx, u32 edx) {
  cpuid_table[leaf] = {eax, ebx, ecx, edx};
}

void set_cpuid_signature(u32 leaf, const std::string& text) {
  unsigned char b[12] = {};
  std::memcpy(b, text.data(), text.size() < 12 ? text.size() : 12);
  u32 regs[3];
  for (int r = 0; r < 3; ++r) {
    regs[r] = static_cast<u32>(b[4 * r]) | static_cast<u32>(b[4 * r + 1]) << 8 |
              static_cast<u32>(b[4 * r + 2]) << 16 | static_cast<u32>(b[4 * r + 3]) << 24;
  }
  set_cpuid(leaf, leaf, regs[0], regs[1], regs[2]);
}

const std::vector<u32>& cpuid_leaves_asked() { return cpuid_asked; }

void set_administrator(bool member) { administrator = member; }

void set_elevation(std::optional<bool> elevated) { elevation = elevated; }

int add_device(const std::u16string& enumerator, const std::vector<std::u16string>& hardware_ids,
               std::optional<u32> config_flags, bool present) {
  device d;
  d.enumerator = enumerator;
  for (const std::u16string& s : hardware_ids) {
    for (char16_t c : s) {
      d.hardware_id.push_back(static_cast<std::uint8_t>(c & 0xFF));
      d.hardware_id.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    d.hardware_id.push_back(0);
    d.hardware_id.push_back(0);
  }
  if (!hardware_ids.empty()) {
    d.hardware_id.push_back(0);
    d.hardware_id.push_back(0);
  }
  d.config_flags = config_flags;
  d.present = present;
  devices.push_back(d);
  return static_cast<int>(devices.size()) - 1;
}

int add_device_instance(const std::u16string& instance_id, bool present) {
  const int index =
      add_device(instance_id.substr(0, instance_id.find(u'\\')), {}, std::nullopt, present);
  devices.back().instance_id = instance_id;
  return index;
}

device& device_at(int index) { return devices.at(static_cast<std::size_t>(index)); }

int open_device_list_count() { return static_cast<int>(lists.size()); }

const std::vector<device_list_record>& device_lists_built() { return lists_built; }

int reboot_prompts() { return reboot_count; }

const std::vector<message_record>& messages() { return message_log; }

std::u16string string_text(u32 id) {
  const std::map<u32, std::u16string>& strings = res::project_resources().strings;
  auto it = strings.find(id);
  return it == strings.end() ? std::u16string() : it->second;
}

}  // namespace standin

namespace platform {

using namespace standin;
using namespace standin::internal;

bool check_administrators_membership(bool* member) {
  if (fault_for(op::admin_sid, u"") != 0) return false;
  if (fault_for(op::admin_check, u"") != 0) return false;
  *member = administrator;
  return true;
}

void cpuid(u32 leaf, u32 subleaf, u32 regs[4]) {
  (void)subleaf;
  cpuid_asked.push_back(leaf);
  auto it = cpuid_table.find(leaf);
  for (int i = 0; i < 4; ++i) regs[i] = it == cpuid_table.end() ? 0 : it->second[i];
}

device_list setup_get_class_devs(const char16_t* enumerator, u32 flags) {
  const std::u16string wanted = enumerator ? enumerator : u"";
  lists_built.push_back({wanted, flags});
  if (const u32 e = fault_for(op::device_list, wanted)) {
    set_last_error(e);
    return nullptr;
  }
  list_record list;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (fold(devices[i].enumerator) != fold(wanted)) continue;
    if ((flags & digcf_present) && !devices[i].present) continue;
    list.members.push_back(static_cast<int>(i));
  }
  const std::uintptr_t id = next_list++;
  lists[id] = list;
  return reinterpret_cast<device_list>(id);
}

bool setup_enum_device_info(device_list list, u32 index, device_info* info) {
  list_record* l = lookup(list);
  if (l == nullptr) {
    set_last_error(error_invalid_handle);
    return false;
  }
  const bool member = index < l->members.size();
  if (const u32 e = fault_for(op::device_enum, member ? instance_id_of(l->members[index]) : u"")) {
    set_last_error(e);
    return false;
  }
  if (info->size != sizeof(device_info)) {
    set_last_error(error_invalid_user_buffer);
    return false;
  }
  if (!member) {
    set_last_error(error_no_more_items);
    return false;
  }
  info->device_instance = static_cast<u32>(l->members[index] + 1);
  return true;
}

bool setup_get_device_property(device_list list, device_info* info, u32 property, u32* type,
                               void* buffer, u32 byte_size, u32* required_size) {
  const int index = device_in(list, info);
  if (index < 0) return false;
  const device& d = devices[static_cast<std::size_t>(index)];
  if (const u32 e = fault_for(op::device_get_property, first_hardware_id(d))) {
    set_last_error(e);
    return false;
  }
  bytes data;
  if (property == spdrp_hardwareid && !d.hardware_id.empty()) {
    *type = reg_multi_sz;
    data = d.hardware_id;
  } else if (property == spdrp_configflags && d.config_flags) {
    *type = reg_dword;
    data.resize(4);
    std::memcpy(data.data(), &*d.config_flags, 4);
  } else {
    set_last_error(error_invalid_data);
    return false;
  }
  *required_size = static_cast<u32>(data.size());
  if (byte_size < data.size()) {
    set_last_error(error_insufficient_buffer);
    return false;
  }
  std::memcpy(buffer, data.data(), data.size());
  return true;
}

bool setup_set_device_property(device_list list, device_info* info, u32 property,
                               const void* buffer, u32 byte_size) {
  const int index = device_in(list, info);
  if (index < 0) return false;
  device& d = devices[static_cast<std::size_t>(index)];
  const std::u16string id = first_hardware_id(d);
  if (const u32 e = fault_for(op::device_set_property, id)) {
    set_last_error(e);
    return false;
  }
  if (property == spdrp_configflags && buffer == nullptr && byte_size == 0) {
    d.config_flags.reset();  // no buffer and no size: the property is cleared
    record("config_flags " + narrow(id) + "=none");
    return true;
  }
  if (property != spdrp_configflags || byte_size != 4) {
    set_last_error(error_invalid_parameter);
    return false;
  }
  u32 flags = 0;
  std::memcpy(&flags, buffer, 4);
  d.config_flags = flags;
  char text[16];
  snprintf(text, sizeof text, "0x%X", flags);
  record("config_flags " + narrow(id) + "=" + text);
  return true;
}

bool setup_get_device_instance_id(device_list list, device_info* info, char16_t* buffer, u32 units,
                                  u32* required_units) {
  const int index = device_in(list, info);
  if (index < 0) return false;
  const std::u16string id = instance_id_of(index);
  if (const u32 e = fault_for(op::device_instance_id, id)) {
    set_last_error(e);
    return false;
  }
  *required_units = static_cast<u32>(id.size() + 1);
  // What fits is copied, unterminated, even when the call fails: a caller that uses the buffer
  // after a failure sees a plausible id.
  const std::size_t copied = id.size() < units ? id.size() : units;
  std::memcpy(buffer, id.data(), copied * sizeof(char16_t));
  if (id.size() + 1 > units) {
    set_last_error(error_insufficient_buffer);
    return false;
  }
  buffer[id.size()] = 0;
  return true;
}

bool setup_destroy_device_list(device_list list) {
  return lists.erase(reinterpret_cast<std::uintptr_t>(list)) == 1;
}

int setup_prompt_reboot() {
  ++reboot_count;
  record("reboot");
  return 0;
}

u32 last_error() { return last_error_value; }

module_handle own_module() { return reinterpret_cast<module_handle>(own_module_value); }

int load_string(module_handle module, u32 id, char16_t* buffer, int units) {
  if (units <= 0) return 0;
  buffer[0] = 0;
  if (reinterpret_cast<std::uintptr_t>(module) != own_module_value) return 0;
  const std::u16string text = string_text(id);
  const std::size_t n = text.size() < static_cast<std::size_t>(units - 1)
                            ? text.size()
                            : static_cast<std::size_t>(units - 1);
  std::memcpy(buffer, text.data(), n * sizeof(char16_t));
  buffer[n] = 0;
  return static_cast<int>(n);
}

int message_box(window_handle owner, const char16_t* text, const char16_t* caption, u32 flags) {
  message_log.push_back({text, caption, flags, owner != nullptr});
  record("message " + narrow(text));
  return id_ok;
}

device_list setup_open_device(const char16_t* instance_id, device_info* info) {
  const std::u16string wanted = instance_id ? instance_id : u"";
  if (const u32 e = fault_for(op::device_open, wanted)) {
    set_last_error(e);
    return nullptr;
  }
  if (info == nullptr || info->size != sizeof(device_info)) {
    set_last_error(error_invalid_user_buffer);
    return nullptr;
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (fold(instance_id_of(static_cast<int>(i))) != fold(wanted)) continue;
    const std::uintptr_t id = next_list++;
    lists[id] = {{static_cast<int>(i)}};
    info->device_instance = static_cast<u32>(i + 1);
    return reinterpret_cast<device_list>(id);
  }
  set_last_error(error_no_such_devinst);
  return nullptr;
}

bool query_token_elevation(bool* elevated) {
  if (fault_for(op::token_elevation, u"") != 0 || !elevation) return false;
  *elevated = *elevation;
  return true;
}

void uniqueness_seed(u32 out[6]) {
  ++seed_counter;
  for (int i = 0; i < 6; ++i) out[i] = seed_counter * 0x9E3779B9u + static_cast<u32>(i);
}

}  // namespace platform
