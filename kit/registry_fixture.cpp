// Registry preparation and checks for the kit, on Wine and on a real guest.
#include "kit/registry_fixture.h"

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "kit/registry_access.h"
#include "kit/scenarios.h"

namespace e2e {

const wchar_t* const kCurrentBusKey =
    L"SYSTEM\\CurrentControlSet\\Services\\vdbus\\Parameters\\Device";
const wchar_t* const kLegacyBusKey =
    L"SYSTEM\\CurrentControlSet\\Services\\ldbus\\Parameters\\Device";
const wchar_t* const kCurrentBlockKey = L"SYSTEM\\CurrentControlSet\\Services\\vdblk";
const wchar_t* const kCurrentScsiKey = L"SYSTEM\\CurrentControlSet\\Services\\vdscsi";
const wchar_t* const kLegacyBlockKey = L"SYSTEM\\CurrentControlSet\\Services\\ldblk";
const wchar_t* const kLegacyScsiKey = L"SYSTEM\\CurrentControlSet\\Services\\ldscsi";
const wchar_t* const kAfdKey = L"SYSTEM\\CurrentControlSet\\Services\\AFD\\Parameters";
const wchar_t* const kTcpipKey = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const wchar_t* const kCurrentVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t* const kProcessorKey = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
const wchar_t* const kBiosKey = L"HARDWARE\\DESCRIPTION\\System\\BIOS";
const wchar_t* const kXenEnumKey = L"SYSTEM\\CurrentControlSet\\Enum\\XEN";
const wchar_t* const kPciEnumKey = L"SYSTEM\\CurrentControlSet\\Enum\\PCI";

namespace {

const wchar_t* const kProgramX11Key = L"Software\\Wine\\AppDefaults\\vivediz.exe\\X11 Driver";
const wchar_t* const kProgramOverridesKey =
    L"Software\\Wine\\AppDefaults\\vivediz.exe\\DllOverrides";
const wchar_t* const kAfdServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\AFD";

// The PV driver services, both generations: saved whole, in a guest as under Wine.
const wchar_t* const kServiceTrees[] = {
    L"SYSTEM\\CurrentControlSet\\Services\\vdbus",
    L"SYSTEM\\CurrentControlSet\\Services\\ldbus",
    kCurrentBlockKey,
    kCurrentScsiKey,
    kLegacyBlockKey,
    kLegacyScsiKey,
};

// What the scenarios own under Wine, where every scenario starts without them: the services,
// AFD and the XEN enumerator.
std::vector<std::wstring> fixed_owned_trees() {
  std::vector<std::wstring> trees(std::begin(kServiceTrees), std::end(kServiceTrees));
  trees.push_back(kAfdServiceKey);
  trees.push_back(kXenEnumKey);
  return trees;
}

// What the kit saved before its first change; in a guest it also bounds what the kit may change
// (guarded), and the PV driver service keys and XEN devices that the guest has of its own are
// noted.
const rollback::record* saved_state = nullptr;
const rollback::record* guarded = nullptr;
std::vector<std::wstring> guest_trees;
// Under Wine: the program's windows are kept unmanaged through every return to the saved state.
bool windows_unmanaged = false;
constexpr rollback::hive kMachine = rollback::hive::local_machine;

const wchar_t* const kAfdValues[] = {L"DefaultSendWindow", L"DefaultReceiveWindow",
                                     L"FastSendDatagramThreshold"};
const wchar_t* const kTcpipValues[] = {L"TcpWindowSize", L"Tcp1323Opts"};

HKEY open_key(const std::wstring& path, REGSAM view, HKEY root = HKEY_LOCAL_MACHINE) {
  return e2e::open_key(root, path, view);
}

HKEY create_key(const std::wstring& path, REGSAM view, HKEY root = HKEY_LOCAL_MACHINE) {
  return e2e::create_key(root, path, view);
}

bool read_value(const std::wstring& path, const std::wstring& name, REGSAM view, DWORD* type,
                std::vector<BYTE>* data, HKEY root = HKEY_LOCAL_MACHINE) {
  return e2e::read_value(root, path, name, view, type, data);
}

std::string describe(DWORD type, const std::vector<BYTE>& data) {
  char text[1024];
  if (type == REG_DWORD && data.size() == 4) {
    DWORD value;
    memcpy(&value, data.data(), 4);
    std::snprintf(text, sizeof text, "REG_DWORD %lu (0x%lx)", value, value);
    return text;
  }
  const wchar_t* chars = reinterpret_cast<const wchar_t*>(data.data());
  const std::size_t units = data.size() / 2;
  if (type == REG_SZ) {
    std::wstring s(chars, units);
    while (!s.empty() && s.back() == L'\0') s.pop_back();
    return "REG_SZ " + quoted(s);
  }
  if (type == REG_MULTI_SZ) {
    std::string out = "REG_MULTI_SZ [";
    std::size_t i = 0;
    bool first = true;
    while (i < units && chars[i] != L'\0') {
      std::wstring s(chars + i);
      out += (first ? "" : ", ") + quoted(s);
      first = false;
      i += s.size() + 1;
    }
    return out + "]";
  }
  std::snprintf(text, sizeof text, "type %lu with %u bytes", type,
                static_cast<unsigned>(data.size()));
  return text;
}

std::vector<BYTE> bytes_of(const std::wstring& text_with_terminators) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(text_with_terminators.data());
  return std::vector<BYTE>(begin, begin + text_with_terminators.size() * sizeof(wchar_t));
}

// Under Wine: the device keys under Enum that the scenarios prepare, each with the values they
// name. Enum is never saved whole; a key that was missing is deleted again with what it holds.
void add_enum_keys(rollback::plan* plan) {
  std::vector<std::pair<std::wstring, std::vector<std::u16string>>> keys;
  for (const scenario& s : all_scenarios()) {
    for (const std::vector<reg_item>* list : {&s.before, &s.after}) {
      for (const reg_item& item : *list) {
        if (!starts_with_ignore_case(item.path, L"SYSTEM\\CurrentControlSet\\Enum\\")) continue;
        auto key = keys.begin();
        while (key != keys.end() && _wcsicmp(key->first.c_str(), item.path.c_str()) != 0) ++key;
        if (key == keys.end()) key = keys.insert(keys.end(), {item.path, {}});
        bool known = item.what == reg_item::kind::key;
        for (const std::u16string& name : key->second) known = known || name == utf16(item.name);
        if (!known) key->second.push_back(utf16(item.name));
      }
    }
  }
  for (const auto& [path, names] : keys) {
    plan->values(kMachine, rollback::view::registry64, utf16(path), names);
  }
}

// The MSI value's keys of the guest's virtio serial devices (transitional and virtio 1.0 IDs)
// that have one: the program writes "MSISupported" there.
std::vector<std::wstring> serial_msi_keys() {
  std::vector<std::wstring> keys;
  HKEY pci = open_key(kPciEnumKey, KEY_WOW64_64KEY);
  if (pci == nullptr) return keys;
  for (const std::wstring& device : subkey_names_in(pci)) {
    if (!starts_with_ignore_case(device, L"VEN_1AF4&DEV_1003") &&
        !starts_with_ignore_case(device, L"VEN_1AF4&DEV_1043")) {
      continue;
    }
    HKEY instances = open_key(std::wstring(kPciEnumKey) + L"\\" + device, KEY_WOW64_64KEY);
    if (instances == nullptr) continue;
    for (const std::wstring& instance : subkey_names_in(instances)) {
      const std::wstring path = std::wstring(kPciEnumKey) + L"\\" + device + L"\\" + instance +
                                L"\\Device Parameters\\Interrupt Management"
                                L"\\MessageSignaledInterruptProperties";
      if (key_exists_in(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY)) keys.push_back(path);
    }
    RegCloseKey(instances);
  }
  RegCloseKey(pci);
  return keys;
}

void mark_program_windows_unmanaged() {
  HKEY key = create_key(kProgramX11Key, KEY_WOW64_64KEY, HKEY_CURRENT_USER);
  if (key == nullptr) return;
  const wchar_t no[] = L"N";
  RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
  RegCloseKey(key);
}

}  // namespace

reg_item dword_value(const std::wstring& path, const std::wstring& name, DWORD value,
                     location where) {
  std::vector<BYTE> data(4);
  memcpy(data.data(), &value, 4);
  return reg_item{reg_item::kind::value, path, name, true, REG_DWORD, data, where};
}

reg_item string_value(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                      location where) {
  return reg_item{reg_item::kind::value, path, name, true, REG_SZ, bytes_of(text + L'\0'), where};
}

reg_item unterminated_string_value(const std::wstring& path, const std::wstring& name,
                                   const std::wstring& text, location where) {
  return reg_item{reg_item::kind::value, path, name, true, REG_SZ, bytes_of(text), where};
}

reg_item multi_string_value(const std::wstring& path, const std::wstring& name,
                            const std::vector<std::wstring>& strings, location where) {
  std::wstring joined;
  for (const std::wstring& s : strings) joined += s + L'\0';
  joined += L'\0';
  return reg_item{reg_item::kind::value, path, name, true, REG_MULTI_SZ, bytes_of(joined), where};
}

reg_item binary_value(const std::wstring& path, const std::wstring& name,
                      const std::vector<BYTE>& data, location where) {
  return reg_item{reg_item::kind::value, path, name, true, REG_BINARY, data, where};
}

reg_item no_value(const std::wstring& path, const std::wstring& name, location where) {
  return reg_item{reg_item::kind::value, path, name, false, REG_NONE, {}, where};
}

reg_item key_exists(const std::wstring& path, location where) {
  return reg_item{reg_item::kind::key, path, L"", true, REG_NONE, {}, where};
}

reg_item no_key(const std::wstring& path, location where) {
  return reg_item{reg_item::kind::key, path, L"", false, REG_NONE, {}, where};
}

bool key_present(const std::wstring& path) {
  HKEY key = open_key(path, KEY_WOW64_64KEY);
  if (key == nullptr) return false;
  RegCloseKey(key);
  return true;
}

void delete_tree(const std::wstring& path) {
  for (REGSAM view : views_of(path)) delete_key_tree(HKEY_LOCAL_MACHINE, path, view);
}

std::u16string utf16(const std::wstring& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::wstring wide(const std::u16string& text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

bool apply(const reg_item& item) {
  // In a guest nothing may change that the restore file does not hold; a key that must exist and
  // does (the guest's own AFD parameters, say) changes nothing.
  const bool unchanged = item.what == reg_item::kind::key && item.present && key_present(item.path);
  const bool saved = guarded == nullptr || unchanged ||
                     rollback::covers(*guarded, kMachine, utf16(item.path), utf16(item.name));
  ok_at(item.where, saved, "%s \"%s\": the kit has not saved it, so it leaves it alone",
        narrow(item.path).c_str(), narrow(item.name).c_str());
  if (!saved) return false;
  for (REGSAM view : views_of(item.path)) {
    if (item.what == reg_item::kind::key) {
      if (!item.present) {
        delete_key_tree(HKEY_LOCAL_MACHINE, item.path, view);
        continue;
      }
      HKEY key = create_key(item.path, view);
      ok_at(item.where, key != nullptr, "cannot create key %s (%s)", narrow(item.path).c_str(),
            view_name(view));
      if (key == nullptr) return false;
      RegCloseKey(key);
      continue;
    }
    if (!item.present) {
      HKEY key = open_key(item.path, view);
      if (key == nullptr) continue;
      RegDeleteValueW(key, item.name.c_str());
      RegCloseKey(key);
      continue;
    }
    HKEY key = create_key(item.path, view);
    ok_at(item.where, key != nullptr, "cannot create key %s (%s)", narrow(item.path).c_str(),
          view_name(view));
    if (key == nullptr) return false;
    // RegSetValueExW stores a string's terminator along when it finds one right after the data it
    // was given: a unit that is not zero there keeps an unterminated string exactly as prepared.
    std::vector<BYTE> data = item.data;
    data.insert(data.end(), {0xFF, 0xFF});
    const LONG error = RegSetValueExW(key, item.name.c_str(), 0, item.type, data.data(),
                                      static_cast<DWORD>(item.data.size()));
    RegCloseKey(key);
    ok_at(item.where, error == ERROR_SUCCESS, "cannot set %s \"%s\": error %ld",
          narrow(item.path).c_str(), narrow(item.name).c_str(), error);
    if (error != ERROR_SUCCESS) return false;
  }
  return true;
}

void expect(const reg_item& item, location where) {
  for (REGSAM view : views_of(item.path)) {
    const std::string view_text =
        views_of(item.path).size() > 1 ? std::string(" (") + view_name(view) + ")" : "";
    if (item.what == reg_item::kind::key) {
      HKEY key = open_key(item.path, view);
      const bool present = key != nullptr;
      if (key != nullptr) RegCloseKey(key);
      ok_at(where, present == item.present, "key %s%s: expected %s, got %s",
            narrow(item.path).c_str(), view_text.c_str(), item.present ? "present" : "absent",
            present ? "present" : "absent");
      continue;
    }
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    const bool present = read_value(item.path, item.name, view, &type, &data);
    const std::string expected = item.present ? describe(item.type, item.data) : "absent";
    const std::string got = present ? describe(type, data) : "absent";
    const bool same =
        present == item.present && (!present || (type == item.type && data == item.data));
    ok_at(where, same, "%s \"%s\"%s: expected %s, got %s", narrow(item.path).c_str(),
          narrow(item.name).c_str(), view_text.c_str(), expected.c_str(), got.c_str());
  }
}

void expect_only_values(const std::wstring& path, const std::vector<std::wstring>& names,
                        location where) {
  HKEY key = open_key(path, KEY_WOW64_64KEY);
  if (key == nullptr) return;
  for (const std::wstring& found : value_names_in(key)) {
    bool expected = false;
    for (const std::wstring& name : names)
      expected = expected || _wcsicmp(name.c_str(), found.c_str()) == 0;
    ok_at(where, expected, "%s: expected no value \"%s\", got one", narrow(path).c_str(),
          narrow(found).c_str());
  }
  RegCloseKey(key);
}

rollback::plan what_the_kit_touches(bool wine) {
  rollback::plan plan;
  const auto values = [&plan](rollback::hive root, const std::wstring& path,
                              const std::vector<std::u16string>& names) {
    for (rollback::view v : rollback::views_of(root, utf16(path))) {
      plan.values(root, v, utf16(path), names);
    }
  };
  for (const wchar_t* path : kServiceTrees) {
    plan.tree(kMachine, rollback::view::registry64, utf16(path));
  }
  if (wine) {
    plan.tree(kMachine, rollback::view::registry64, utf16(kAfdServiceKey));
    add_enum_keys(&plan);
    values(rollback::hive::current_user, kProgramX11Key, {u"Managed"});
    values(rollback::hive::current_user, kProgramOverridesKey, {u"uxtheme"});
  } else {
    std::vector<std::u16string> afd;
    for (const wchar_t* name : kAfdValues) afd.push_back(utf16(name));
    values(kMachine, kAfdKey, afd);
    for (const std::wstring& path : serial_msi_keys()) values(kMachine, path, {u"MSISupported"});
  }
  std::vector<std::u16string> tcpip;
  for (const wchar_t* name : kTcpipValues) tcpip.push_back(utf16(name));
  values(kMachine, kTcpipKey, tcpip);
  values(kMachine, kCurrentVersionKey, {u"ProductName", u"ReleaseId"});
  values(kMachine, kProcessorKey, {u"Identifier"});
  values(kMachine, kBiosKey, {u"SystemManufacturer"});
  // The program's boot-start re-enable resets these through the device setup interface.
  plan.devices(u"XEN", {});
  return plan;
}

void use_saved_state(const rollback::record* saved, bool guest) {
  saved_state = saved;
  guarded = guest ? saved : nullptr;
  guest_trees.clear();
  if (guarded == nullptr) return;
  for (const wchar_t* path : kServiceTrees) {
    if (key_present(path)) guest_trees.push_back(path);
  }
  // A Xen guest's own devices: state every scenario starts from, and one the Xen dialog's
  // re-enable can change (their configuration flags), so its scenarios are skipped there.
  if (key_present(kXenEnumKey)) guest_trees.push_back(kXenEnumKey);
}

std::vector<std::wstring> guest_value_names(const std::wstring& path) {
  std::vector<std::wstring> names;
  if (guarded == nullptr) return names;
  for (const rollback::registry_record& tree : guarded->registry) {
    const std::wstring top = wide(tree.path);
    if (tree.what != rollback::registry_record::kind::tree ||
        !starts_with_ignore_case(path, top + L"\\")) {
      continue;
    }
    const std::wstring relative = path.substr(top.size() + 1);
    for (const rollback::key_record& k : tree.keys) {
      if (_wcsicmp(wide(k.relative).c_str(), relative.c_str()) != 0) continue;
      for (const rollback::value_record& v : k.values) names.push_back(wide(v.name));
    }
  }
  return names;
}

std::wstring guest_tree_needed_by(const std::vector<reg_item>& items, bool xen_dialog) {
  for (const reg_item& item : items) {
    if (item.what == reg_item::kind::key && !item.present && key_present(item.path)) {
      return item.path;
    }
  }
  for (const std::wstring& tree : guest_trees) {
    if (xen_dialog) return tree;
    for (const reg_item& item : items) {
      if (starts_with_ignore_case(item.path, tree)) return tree;
    }
  }
  return std::wstring();
}

void reset_to_baseline() {
  // The baseline is the state as saved: nothing the guest had is deleted, and what the scenarios
  // created is gone again (under Wine, where the program's keys were missing, they are gone).
  if (saved_state != nullptr) rollback::put_back(*saved_state);
  // The saved state lacks the kit's own Wine setting; without it each hidden window waits.
  if (windows_unmanaged) mark_program_windows_unmanaged();
  std::vector<reg_item> items = {
      string_value(kProcessorKey, L"Identifier",
                   L"Intel64 Family 6 Model 85 Stepping 7, GenuineIntel"),
      string_value(kCurrentVersionKey, L"ProductName", L"Windows 10 Pro"),
      string_value(kCurrentVersionKey, L"ReleaseId", L"2004"),
      string_value(kBiosKey, L"SystemManufacturer", L"TestBoard"),
  };
  items.push_back(key_exists(kAfdKey));
  for (const wchar_t* name : kAfdValues) items.push_back(no_value(kAfdKey, name));
  for (const wchar_t* name : kTcpipValues) items.push_back(no_value(kTcpipKey, name));
  for (const reg_item& item : items) apply(item);
}

void leave_program_windows_unmanaged() {
  windows_unmanaged = true;
  mark_program_windows_unmanaged();
}

std::vector<reg_item> baseline_items() {
  std::vector<reg_item> items;
  const location here;
  for (const wchar_t* name : kAfdValues) items.push_back(no_value(kAfdKey, name, here));
  for (const wchar_t* name : kTcpipValues) items.push_back(no_value(kTcpipKey, name, here));
  for (const std::wstring& path : fixed_owned_trees()) {
    bool guests = false;
    for (const std::wstring& tree : guest_trees) guests = guests || tree == path;
    if (_wcsicmp(path.c_str(), kAfdServiceKey) != 0 && !guests) items.push_back(no_key(path, here));
  }
  return items;
}

}  // namespace e2e
