// Serial MSI locator: the device key under Enum\PCI and the MSI key of each of its instances.
#include "store/serial_msi.h"

#include "core/text.h"
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

}  // namespace

u32 open_serial_device_key(key_handle* out) {
  key_handle pci = nullptr;
  u32 error =
      reg_open_key(local_machine(), u"SYSTEM\\CurrentControlSet\\Enum\\PCI", key_read, &pci);
  if (error != error_success) return error;
  char16_t name[name_units];
  for (u32 index = 0;; ++index) {
    u32 units = name_units;
    name[0] = 0;
    error = reg_enum_key(pci, index, name, &units);
    if (error != error_success) break;
    name[name_units - 1] = 0;
    if (text::equal_prefix_ignore_case(name, u"Ven_1AF4&Dev_1003", 17)) {
      error = reg_open_key(pci, name, key_read, out);
      break;
    }
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
