// What the undo program saves: the keys and values of the guide's "Where they live", for the
// driver generations and virtio serial instances this guest has.
#include "undo/undo_plan.h"

#include "core/text.h"
#include "platform/platform.h"

namespace undo {

using namespace platform;
using key_path = std::u16string;

namespace {

constexpr rollback::hive hklm = rollback::hive::local_machine;
constexpr rollback::view system_view = rollback::view::registry64;  // SYSTEM has one view

struct generation {
  const char16_t* settings_key;
  const char16_t* block_service_key;
  const char16_t* scsi_service_key;
};
constexpr generation generations[] = {
    {u"SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device",
     u"SYSTEM\\CurrentControlSet\\Services\\vdblk", u"SYSTEM\\CurrentControlSet\\Services\\vdscsi"},
    {u"SYSTEM\\CurrentControlSet\\Services\\ldbus\\Parameters\\Device",
     u"SYSTEM\\CurrentControlSet\\Services\\ldblk", u"SYSTEM\\CurrentControlSet\\Services\\ldscsi"},
};

constexpr const char16_t* pci_key = u"SYSTEM\\CurrentControlSet\\Enum\\PCI";
constexpr const char16_t* msi_suffix =
    u"\\Device Parameters\\Interrupt Management\\MessageSignaledInterruptProperties";
constexpr u32 name_units = 256;  // a registry key name and its terminator

std::string cannot_read(const key_path& path, u32 error) {
  return "cannot read HKLM\\" + rollback::printable(path) + " (error " + std::to_string(error) +
         "); nothing was changed";
}

// Whether the key exists: false with *refusal set when that cannot be told.
bool key_exists(const key_path& path, bool* exists, std::string* refusal) {
  key_handle key = nullptr;
  const u32 error = reg_open_key(local_machine(), path.c_str(), key_read, &key);
  *exists = error == error_success;
  if (*exists) reg_close_key(key);
  if (error == error_success || error == error_file_not_found) return true;
  *refusal = cannot_read(path, error);
  return false;
}

// The names of the key's subkeys; a missing key has none.
bool subkey_names(const key_path& path, std::vector<key_path>* names, std::string* refusal) {
  names->clear();
  key_handle key = nullptr;
  u32 error = reg_open_key(local_machine(), path.c_str(), key_read, &key);
  if (error == error_file_not_found) return true;
  for (u32 index = 0; error == error_success; ++index) {
    char16_t name[name_units];
    u32 units = name_units;
    error = reg_enum_key(key, index, name, &units);
    if (error != error_success) break;
    name[name_units - 1] = 0;
    names->push_back(name);
  }
  if (key != nullptr) reg_close_key(key);
  if (error == error_no_more_items) return true;
  *refusal = cannot_read(path, error);
  return false;
}

// The virtio serial device keys, as vivediz finds them (store/serial_msi.cpp): names beginning
// with its PCI vendor and device ID, transitional (0x1003) or modern (0x1043).
bool is_serial_device_key(const key_path& key_name) {
  return text::equal_prefix_ignore_case(key_name.c_str(), u"VEN_1AF4&DEV_1003", 17) ||
         text::equal_prefix_ignore_case(key_name.c_str(), u"VEN_1AF4&DEV_1043", 17);
}

// "MSISupported" of every instance of every serial device key that has the MSI key: vivediz
// writes it into those. An instance without the key gets none: nothing under Enum is created or
// deleted by a restore.
bool plan_serial_msi(rollback::plan* out, std::string* refusal) {
  std::vector<key_path> devices;
  if (!subkey_names(pci_key, &devices, refusal)) return false;
  for (const key_path& device : devices) {
    if (!is_serial_device_key(device)) continue;
    const key_path device_key = key_path(pci_key) + u"\\" + device;
    std::vector<key_path> instances;
    if (!subkey_names(device_key, &instances, refusal)) return false;
    for (const key_path& instance : instances) {
      const key_path msi_key = device_key + u"\\" + instance + msi_suffix;
      bool exists = false;
      if (!key_exists(msi_key, &exists, refusal)) return false;
      if (exists) out->values(hklm, system_view, msi_key, {u"MSISupported"});
    }
  }
  return true;
}

}  // namespace

bool plan_for_this_guest(rollback::plan* out, std::string* refusal) {
  *out = rollback::plan();
  // An administrator may save before each change and restore none of them: a new name saves again.
  out->refuse_while_unfinished = false;
  for (const generation& g : generations) {
    bool exists = false;
    if (!key_exists(g.settings_key, &exists, refusal)) return false;
    if (exists) {
      out->values(hklm, system_view, g.settings_key,
                  {u"use_pv_drivers", u"orvane_flags", u"grant_frames", u"max_disks",
                   u"shutdown_delay", u"timeout"});
    }
  }
  out->values(hklm, system_view, u"SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters",
              {u"DefaultSendWindow", u"DefaultReceiveWindow", u"FastSendDatagramThreshold"});
  out->values(hklm, system_view, u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
              {u"TcpWindowSize", u"Tcp1323Opts"});
  if (!plan_serial_msi(out, refusal)) return false;
  // Both generations' services whatever the settings keys say: with neither settings key,
  // vivediz's re-enable works on the older generation's.
  for (const generation& g : generations) {
    for (const char16_t* service : {g.block_service_key, g.scsi_service_key}) {
      out->tree(hklm, system_view, key_path(service) + u"\\StartOverride");
    }
  }
  out->devices(u"XEN", {u"xen\\type_vbd", u"xen\\type_vscsi"});
  return true;
}

std::vector<std::string> settings_keys_made_since(const rollback::record& saved) {
  std::vector<std::string> lines;
  for (const generation& g : generations) {
    bool saved_present = false;
    for (const rollback::registry_record& item : saved.registry)
      saved_present = saved_present || (item.existed && item.path == g.settings_key);
    if (saved_present) continue;
    const std::string name = "HKLM\\" + rollback::printable(g.settings_key);
    key_handle key = nullptr;
    const u32 error = reg_open_key(local_machine(), g.settings_key, key_read, &key);
    if (error == error_success) {
      reg_close_key(key);
      lines.push_back(name +
                      " was absent at the save and exists now; left as it is: vivediz now uses "
                      "this generation's keys (delete it if it was made by hand)");
    } else if (error != error_file_not_found) {
      lines.push_back("cannot tell whether " + name + " exists (error " + std::to_string(error) +
                      ")");
    }
  }
  return lines;
}

}  // namespace undo
