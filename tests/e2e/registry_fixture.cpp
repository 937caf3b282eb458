// Registry preparation, checks and save/restore for the end-to-end driver.
#include "tests/e2e/registry_fixture.h"

#include <cstdio>
#include <cwchar>
#include <iterator>

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

const wchar_t* const kFixedOwnedTrees[] = {
    L"SYSTEM\\CurrentControlSet\\Services\\vdbus",
    L"SYSTEM\\CurrentControlSet\\Services\\ldbus",
    kCurrentBlockKey,
    kCurrentScsiKey,
    kLegacyBlockKey,
    kLegacyScsiKey,
    L"SYSTEM\\CurrentControlSet\\Services\\AFD",
    kXenEnumKey,
};

const wchar_t* const kAfdValues[] = {L"DefaultSendWindow", L"DefaultReceiveWindow",
                                     L"FastSendDatagramThreshold"};
const wchar_t* const kTcpipValues[] = {L"TcpWindowSize", L"Tcp1323Opts"};

bool starts_with_ignore_case(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() &&
         _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// The views a path lives in: SOFTWARE is split for 32-bit programs, everything else is shared.
std::vector<REGSAM> views_of(const std::wstring& path) {
  if (starts_with_ignore_case(path, L"SOFTWARE\\")) return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
  return {KEY_WOW64_64KEY};
}

const char* view_name(REGSAM view) {
  return view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view";
}

// Keys below HARDWARE live in a volatile hive, whose children must be volatile too.
DWORD create_options(const std::wstring& path) {
  return starts_with_ignore_case(path, L"HARDWARE\\") ? REG_OPTION_VOLATILE
                                                      : REG_OPTION_NON_VOLATILE;
}

HKEY open_key(const std::wstring& path, REGSAM view, HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

HKEY create_key(const std::wstring& path, REGSAM view, HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, create_options(path), KEY_ALL_ACCESS | view,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

void delete_tree_in_view(const std::wstring& path, REGSAM view) {
  HKEY key = open_key(path, view);
  if (key == nullptr) return;
  RegDeleteTreeW(key, nullptr);
  RegCloseKey(key);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
}

// The value's type and data, or false when it is missing (or its key is).
bool read_value(const std::wstring& path, const std::wstring& name, REGSAM view, DWORD* type,
                std::vector<BYTE>* data, HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key = open_key(path, view, root);
  if (key == nullptr) return false;
  DWORD size = 0;
  LONG error = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  if (error == ERROR_SUCCESS) {
    data->assign(size, 0);
    error = RegQueryValueExW(key, name.c_str(), nullptr, type,
                             data->empty() ? nullptr : &(*data)[0], &size);
    data->resize(size);
  }
  RegCloseKey(key);
  return error == ERROR_SUCCESS;
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

std::vector<std::wstring> value_names_in(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD length = 16384;
    if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

std::vector<std::wstring> subkey_names_in(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

// The trees the scenarios own: the PV driver services, AFD, the XEN enumerator, and the virtio
// devices under the PCI enumerator (Wine keeps its own display adapters there).
std::vector<std::wstring> owned_trees() {
  std::vector<std::wstring> trees(std::begin(kFixedOwnedTrees), std::end(kFixedOwnedTrees));
  HKEY pci = open_key(kPciEnumKey, KEY_WOW64_64KEY);
  if (pci != nullptr) {
    for (const std::wstring& name : subkey_names_in(pci)) {
      if (starts_with_ignore_case(name, L"VEN_1AF4")) {
        trees.push_back(std::wstring(kPciEnumKey) + L"\\" + name);
      }
    }
    RegCloseKey(pci);
  }
  return trees;
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
  for (REGSAM view : views_of(path)) delete_tree_in_view(path, view);
}

bool apply(const reg_item& item) {
  for (REGSAM view : views_of(item.path)) {
    if (item.what == reg_item::kind::key) {
      if (!item.present) {
        delete_tree_in_view(item.path, view);
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
    // For a string whose last unit is not 0 but the unit after the given bytes is, the system
    // stores that terminator too (as Windows does): non-zero guard bytes after the data keep an
    // unterminated string exactly as given, whatever memory follows the item's own bytes.
    std::vector<BYTE> guarded = item.data;
    guarded.insert(guarded.end(), 3, 0xFF);
    const LONG error = RegSetValueExW(key, item.name.c_str(), 0, item.type, guarded.data(),
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

void saved_machine_state::save() {
  trees_.clear();
  values_.clear();
  for (const std::wstring& path : owned_trees()) {
    tree_record tree{path, KEY_WOW64_64KEY, false, {}};
    std::vector<std::wstring> pending = {L""};
    while (!pending.empty()) {
      const std::wstring relative = pending.front();
      pending.erase(pending.begin());
      HKEY key = open_key(relative.empty() ? tree.path : tree.path + L"\\" + relative, tree.view);
      if (key == nullptr) continue;
      tree.existed = true;
      key_record record{relative, {}};
      for (const std::wstring& name : value_names_in(key)) {
        value_record value{name, REG_NONE, {}};
        DWORD size = 0;
        RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size);
        value.data.assign(size, 0);
        RegQueryValueExW(key, name.c_str(), nullptr, &value.type,
                         value.data.empty() ? nullptr : &value.data[0], &size);
        record.values.push_back(value);
      }
      for (const std::wstring& sub : subkey_names_in(key)) {
        pending.push_back(relative.empty() ? sub : relative + L"\\" + sub);
      }
      RegCloseKey(key);
      tree.keys.push_back(record);
    }
    trees_.push_back(tree);
  }
  struct named {
    HKEY root;
    const wchar_t* path;
    const wchar_t* name;
  };
  std::vector<named> singles = {{HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProductName"},
                                {HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ReleaseId"},
                                {HKEY_LOCAL_MACHINE, kProcessorKey, L"Identifier"},
                                {HKEY_LOCAL_MACHINE, kBiosKey, L"SystemManufacturer"},
                                {HKEY_CURRENT_USER, kProgramX11Key, L"Managed"}};
  for (const wchar_t* name : kTcpipValues) singles.push_back({HKEY_LOCAL_MACHINE, kTcpipKey, name});
  for (const named& n : singles) {
    for (REGSAM view : views_of(n.path)) {
      single_value saved{n.root, n.path, view, false, {n.name, REG_NONE, {}}};
      saved.existed =
          read_value(n.path, n.name, view, &saved.value.type, &saved.value.data, n.root);
      values_.push_back(saved);
    }
  }
}

void saved_machine_state::restore() const {
  for (const std::wstring& path : owned_trees()) delete_tree(path);
  for (const tree_record& tree : trees_) {
    if (!tree.existed) continue;
    for (const key_record& record : tree.keys) {
      const std::wstring path =
          record.relative_path.empty() ? tree.path : tree.path + L"\\" + record.relative_path;
      HKEY key = create_key(path, tree.view);
      if (key == nullptr) continue;
      for (const value_record& value : record.values) {
        RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                       static_cast<DWORD>(value.data.size()));
      }
      RegCloseKey(key);
    }
  }
  for (const single_value& saved : values_) {
    if (!saved.existed) {
      HKEY key = open_key(saved.path, saved.view, saved.root);
      if (key == nullptr) continue;
      RegDeleteValueW(key, saved.value.name.c_str());
      RegCloseKey(key);
      continue;
    }
    HKEY key = create_key(saved.path, saved.view, saved.root);
    if (key == nullptr) continue;
    RegSetValueExW(key, saved.value.name.c_str(), 0, saved.value.type, saved.value.data.data(),
                   static_cast<DWORD>(saved.value.data.size()));
    RegCloseKey(key);
  }
}

void reset_to_baseline() {
  for (const std::wstring& path : owned_trees()) delete_tree(path);
  std::vector<reg_item> items = {
      key_exists(kAfdKey),
      string_value(kProcessorKey, L"Identifier",
                   L"Intel64 Family 6 Model 85 Stepping 7, GenuineIntel"),
      string_value(kCurrentVersionKey, L"ProductName", L"Windows 10 Pro"),
      string_value(kCurrentVersionKey, L"ReleaseId", L"2004"),
      string_value(kBiosKey, L"SystemManufacturer", L"TestBoard"),
  };
  for (const wchar_t* name : kTcpipValues) items.push_back(no_value(kTcpipKey, name));
  for (const reg_item& item : items) apply(item);
}

void leave_program_windows_unmanaged() {
  HKEY key = create_key(kProgramX11Key, KEY_WOW64_64KEY, HKEY_CURRENT_USER);
  if (key == nullptr) return;
  const wchar_t no[] = L"N";
  RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
  RegCloseKey(key);
}

std::vector<reg_item> baseline_items() {
  std::vector<reg_item> items;
  const location here;
  for (const wchar_t* name : kAfdValues) items.push_back(no_value(kAfdKey, name, here));
  for (const wchar_t* name : kTcpipValues) items.push_back(no_value(kTcpipKey, name, here));
  for (const wchar_t* path : kFixedOwnedTrees) {
    if (_wcsicmp(path, L"SYSTEM\\CurrentControlSet\\Services\\AFD") != 0) {
      items.push_back(no_key(path, here));
    }
  }
  return items;
}

}  // namespace e2e
