// Serial MSI locator: the device key under Enum\PCI and the MSI key of each of its instances.
#include "store/serial_msi.h"

#include <cstring>

#include "core/text.h"
#include "store/boot_driver.h"
#include "store/registry.h"

namespace store {

using namespace platform;

namespace {

constexpr u32 name_units = 256;  // registry key names and the composed instance path
constexpr const char16_t* msi_suffix =
    u"\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties";
constexpr const char16_t* msi_value = u"MSISupported";

// Instance name at index into name; false when enumeration ends (or fails).
bool instance_name(key_handle device_key, u32 index, char16_t (&name)[name_units]) {
  u32 units = name_units;
  name[0] = 0;
  if (reg_enum_key(device_key, index, name, &units) != error_success) return false;
  name[name_units - 1] = 0;
  return true;
}

// Opens "<instance>\Device Parameters\...\MessageSignaledInterruptProperties" with full access.
// A path longer than 255 units is not opened: cut short it would name another key (the instance
// key itself, or a parent of the MSI key), and the write would put the value in the wrong place.
u32 open_msi_key(key_handle device_key, const char16_t* instance, key_handle* out) {
  char16_t path[name_units];
  path[0] = 0;
  if (!text::append(path, name_units, instance) || !text::append(path, name_units, msi_suffix)) {
    return error_filename_exced_range;
  }
  return reg_open_key(device_key, path, key_all_access, out);
}

// The serial device's key names begin with its PCI vendor and device ID. Virtio 1.x, "PCI Device
// Discovery": a transitional device has device ID 0x1000 + virtio device ID - 1 (console, 3:
// 0x1003), a non-transitional (modern) one 0x1040 + virtio device ID (0x1043).
constexpr u32 device_prefix_units = 17;
bool is_serial_device_key(const char16_t* name) {
  return text::equal_prefix_ignore_case(name, u"Ven_1AF4&Dev_1003", device_prefix_units) ||
         text::equal_prefix_ignore_case(name, u"Ven_1AF4&Dev_1043", device_prefix_units);
}

// From *index on, the next key under PCI that is the serial device's; its index stays in *index.
// Returns the enumeration's error when there is none.
u32 next_device_key(key_handle pci, u32* index, char16_t (&name)[name_units]) {
  for (;; ++*index) {
    u32 units = name_units;
    name[0] = 0;
    const u32 error = reg_enum_key(pci, *index, name, &units);
    if (error != error_success) return error;
    name[name_units - 1] = 0;
    if (is_serial_device_key(name)) return error_success;
  }
}

// Device instance ids are shorter than MAX_DEVICE_ID_LEN (200) units without the terminator.
constexpr u32 instance_id_units = 200;

// Whether id is "<enumerator>\<key_name>\...", the key names compared case-insensitively.
bool instance_of(const char16_t* id, const char16_t* key_name) {
  const u32 id_units = text::length(id, instance_id_units);
  u32 at = 0;
  while (at < id_units && id[at] != u'\\') ++at;
  const u32 key_units = text::length(key_name, name_units);
  if (id_units - at < key_units + 2) return false;  // the backslashes around the key name
  const char16_t* rest = id + at + 1;
  return text::equal_prefix_ignore_case(rest, key_name, key_units) && rest[key_units] == u'\\';
}

// Whether the list of present PCI devices holds a device of the key key_name.
bool device_present(device_list present, const char16_t* key_name) {
  char16_t id[instance_id_units];
  u32 failed_fetches = 0;
  for (u32 index = 0; index != 0xFFFFFFFFu; ++index) {
    device_info info;
    std::memset(&info, 0, sizeof info);
    info.size = sizeof info;
    if (!setup_enum_device_info(present, index, &info)) {
      if (last_error() == error_no_more_items) break;
      if (++failed_fetches >= device_walk_failure_limit) break;  // a broken list ends the walk
      continue;
    }
    failed_fetches = 0;
    u32 required = 0;
    if (!setup_get_device_instance_id(present, &info, id, instance_id_units, &required)) continue;
    id[instance_id_units - 1] = 0;
    if (instance_of(id, key_name)) return true;
  }
  return false;
}

}  // namespace

u32 open_serial_device_key(key_handle* out) {
  key_handle pci = nullptr;
  u32 error =
      reg_open_key(local_machine(), u"SYSTEM\\CurrentControlSet\\Enum\\PCI", key_read, &pci);
  if (error != error_success) return error;
  u32 index = 0;
  char16_t first[name_units];
  error = next_device_key(pci, &index, first);
  if (error == error_success) {
    const char16_t* chosen = first;
    char16_t other[name_units];
    ++index;
    // Only when a second key matches is the device setup interface asked: one key is the device.
    if (next_device_key(pci, &index, other) == error_success) {
      const device_list present = setup_get_class_devs(u"PCI", digcf_allclasses | digcf_present);
      if (present != nullptr) {
        if (!device_present(present, first)) {
          do {
            if (device_present(present, other)) {
              chosen = other;
              break;
            }
            ++index;
          } while (next_device_key(pci, &index, other) == error_success);
        }
        setup_destroy_device_list(present);
      }
    }
    error = reg_open_key(pci, chosen, key_read, out);
  }
  reg_close_key(pci);
  return error;
}

u32 read_serial_msi(u32* value) {
  key_handle device_key = nullptr;
  u32 error = open_serial_device_key(&device_key);
  if (error != error_success) return error;
  u32 remembered = error_success;
  char16_t name[name_units];
  for (u32 index = 0; instance_name(device_key, index, name); ++index) {
    key_handle msi_key = nullptr;
    const u32 open_error = open_msi_key(device_key, name, &msi_key);
    if (open_error != error_success) {
      remembered = open_error;
      continue;
    }
    unsigned char data[4] = {0, 0, 0, 0};
    u32 size = sizeof data;
    u32 type = reg_none;
    error = reg_query_value(msi_key, msi_value, &type, data, &size);
    reg_close_key(msi_key);
    reg_close_key(device_key);
    if (error == error_success) *value = dword_from_bytes(data);
    return error;
  }
  reg_close_key(device_key);
  return remembered;
}

u32 write_serial_msi(u32 value) {
  key_handle device_key = nullptr;
  const u32 error = open_serial_device_key(&device_key);
  if (error != error_success) return error;
  unsigned char data[4];
  dword_to_bytes(value, data);
  // The first refusal is kept: a later instance that accepts the value must not hide that an
  // earlier one still uses the old interrupt mode.
  u32 first_failure = error_success;
  char16_t name[name_units];
  for (u32 index = 0; instance_name(device_key, index, name); ++index) {
    key_handle msi_key = nullptr;
    if (open_msi_key(device_key, name, &msi_key) != error_success) continue;  // no MSI key: skip
    const u32 set_error = reg_set_value(msi_key, msi_value, reg_dword, data, sizeof data);
    reg_close_key(msi_key);
    if (first_failure == error_success) first_failure = set_error;
  }
  reg_close_key(device_key);
  return first_failure;
}

}  // namespace store
