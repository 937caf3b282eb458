// Stand-in registry: a tree of keys with typed raw values, handles with their access rights.
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "tests/standin/standin_internal.h"

namespace standin {

using namespace internal;

namespace {

struct node {
  std::u16string name;
  std::map<std::u16string, std::shared_ptr<node>> subkeys;  // by folded name: enumeration order
  std::map<std::u16string, std::pair<std::u16string, value>> values;  // folded -> (name, value)
  bool deny_write = false;
  bool deny_all = false;
  bool is_volatile = false;
  bool deleted = false;
};

struct handle_record {
  std::shared_ptr<node> key;
  std::u16string path;
  u32 access;
};

std::shared_ptr<node> root;
std::shared_ptr<node> user_root;
bool views = true;
std::map<std::uintptr_t, handle_record> handles;
std::uintptr_t next_handle = 0x1000;
std::vector<open_record> open_log;

constexpr std::uintptr_t local_machine_value = 0x80000002u;
constexpr std::uintptr_t current_user_value = 0x80000001u;
constexpr u32 key_query_value = 0x1;
constexpr u32 key_set_value = 0x2;
constexpr u32 key_enumerate_sub_keys = 0x8;
constexpr u32 delete_right = 0x10000;
constexpr u32 view_bits = platform::key_wow64_64key | platform::key_wow64_32key;

std::vector<std::u16string> split(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (char16_t c : path) {
    if (c == u'\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::u16string join(const std::u16string& base, const std::u16string& tail) {
  if (base.empty()) return tail;
  if (tail.empty()) return base;
  return base + u"\\" + tail;
}

std::shared_ptr<node> find(std::shared_ptr<node> from, const std::u16string& path) {
  for (const std::u16string& part : split(path)) {
    auto it = from->subkeys.find(fold(part));
    if (it == from->subkeys.end()) return nullptr;
    from = it->second;
  }
  return from;
}

bool is_user_path(const std::u16string& path) {
  return path.size() >= 4 && fold(path.substr(0, 4)) == u"hkcu" &&
         (path.size() == 4 || path[4] == u'\\');
}

// The tree a control path names, and the path within it.
std::shared_ptr<node> tree_of(const std::u16string& path, std::u16string* rest) {
  if (is_user_path(path)) {
    *rest = path.size() > 5 ? path.substr(5) : std::u16string();
    return user_root;
  }
  *rest = path;
  return root;
}

std::shared_ptr<node> find_path(const std::u16string& path) {
  std::u16string rest;
  const std::shared_ptr<node> top = tree_of(path, &rest);
  return find(top, rest);
}

std::shared_ptr<node> make(const std::u16string& path) {
  std::u16string rest;
  std::shared_ptr<node> at = tree_of(path, &rest);
  bool is_volatile = false;
  for (const std::u16string& part : split(rest)) {
    is_volatile = is_volatile || (at == root && fold(part) == u"hardware");
    auto& slot = at->subkeys[fold(part)];
    if (!slot) {
      slot = std::make_shared<node>();
      slot->name = part;
      slot->is_volatile = is_volatile;
    }
    at = slot;
  }
  return at;
}

// Where a full path leads in a view: the 32-bit view of HKLM\SOFTWARE is SOFTWARE\WOW6432Node.
std::u16string in_view(const std::u16string& full, u32 access) {
  if ((access & platform::key_wow64_32key) == 0 || is_user_path(full)) return full;
  const std::u16string folded = fold(full);
  const bool redirected = folded.compare(0, 20, u"software\\wow6432node") == 0 &&
                          (folded.size() == 20 || folded[20] == u'\\');
  if (folded.compare(0, 9, u"software\\") != 0 || redirected) return full;
  return full.substr(0, 9) + u"WOW6432Node\\" + full.substr(9);
}

// The handle's record, or null for an unknown handle; the roots have full access.
handle_record* lookup(platform::key_handle key) {
  static handle_record root_record;
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value == local_machine_value) {
    root_record = {root, u"", platform::key_all_access};
    return &root_record;
  }
  if (value == current_user_value) {
    root_record = {user_root, u"HKCU", platform::key_all_access};
    return &root_record;
  }
  auto it = handles.find(value);
  return it == handles.end() ? nullptr : &it->second;
}

std::string hex(u32 v) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "0x%X", v);
  return buffer;
}

std::string describe(const value& v) {
  if (v.type == platform::reg_dword && v.data.size() == 4) {
    u32 n = 0;
    std::memcpy(&n, v.data.data(), 4);
    return hex(n);
  }
  return std::to_string(v.type) + ":" + std::to_string(v.data.size());
}

std::u16string text_of(const char16_t* s) { return s ? std::u16string(s) : std::u16string(); }

}  // namespace

namespace internal {
void reset_registry() {
  root = std::make_shared<node>();
  user_root = std::make_shared<node>();
  views = true;
  handles.clear();
  open_log.clear();
}
}  // namespace internal

void create_key(const std::u16string& path) { make(path); }

void set_value(const std::u16string& path, const std::u16string& name, u32 type,
               const bytes& data) {
  make(path)->values[fold(name)] = {name, value{type, data}};
}

void set_dword(const std::u16string& path, const std::u16string& name, u32 v) {
  bytes data(4);
  std::memcpy(data.data(), &v, 4);
  set_value(path, name, platform::reg_dword, data);
}

void set_string(const std::u16string& path, const std::u16string& name, const std::u16string& text,
                bool with_terminator) {
  bytes data((text.size() + (with_terminator ? 1 : 0)) * 2, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    data[2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
    data[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  set_value(path, name, platform::reg_sz, data);
}

void set_multi_string(const std::u16string& path, const std::u16string& name,
                      const std::vector<std::u16string>& strings) {
  bytes data;
  for (const std::u16string& s : strings) {
    for (char16_t c : s) {
      data.push_back(static_cast<std::uint8_t>(c & 0xFF));
      data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
  }
  data.push_back(0);
  data.push_back(0);
  set_value(path, name, platform::reg_multi_sz, data);
}

bool key_exists(const std::u16string& path) { return find_path(path) != nullptr; }

std::optional<value> get_value(const std::u16string& path, const std::u16string& name) {
  const std::shared_ptr<node> key = find_path(path);
  if (!key) return std::nullopt;
  auto it = key->values.find(fold(name));
  if (it == key->values.end()) return std::nullopt;
  return it->second.second;
}

std::optional<u32> get_dword(const std::u16string& path, const std::u16string& name) {
  const std::optional<value> v = get_value(path, name);
  if (!v || v->type != platform::reg_dword || v->data.size() != 4) return std::nullopt;
  u32 n = 0;
  std::memcpy(&n, v->data.data(), 4);
  return n;
}

std::vector<std::u16string> subkeys(const std::u16string& path) {
  std::vector<std::u16string> names;
  const std::shared_ptr<node> key = find_path(path);
  if (key) {
    for (const auto& [folded, child] : key->subkeys) names.push_back(child->name);
  }
  return names;
}

void deny_write_access(const std::u16string& path) { make(path)->deny_write = true; }

void deny_access(const std::u16string& path) { make(path)->deny_all = true; }

void set_registry_views(bool present) { views = present; }

void delete_tree(const std::u16string& path) {
  const std::size_t cut = path.rfind(u'\\');
  const std::shared_ptr<node> parent =
      cut == std::u16string::npos ? root : find_path(path.substr(0, cut));
  if (parent)
    parent->subkeys.erase(fold(cut == std::u16string::npos ? path : path.substr(cut + 1)));
}

std::string registry_text() {
  std::string out;
  std::function<void(const std::shared_ptr<node>&, const std::string&)> walk =
      [&](const std::shared_ptr<node>& n, const std::string& path) {
        out += "[" + path + "]\n";
        for (const auto& [folded, named] : n->values) {
          out += narrow(named.first) + "=" + std::to_string(named.second.type) + ":";
          for (std::uint8_t b : named.second.data) out += hex(b) + ",";
          out += "\n";
        }
        for (const auto& [folded, child] : n->subkeys)
          walk(child, path + "\\" + narrow(child->name));
      };
  walk(root, "HKLM");
  walk(user_root, "HKCU");
  return out;
}

int open_key_count() { return static_cast<int>(handles.size()); }

const std::vector<open_record>& opens() { return open_log; }

}  // namespace standin

namespace platform {

using namespace standin;
using namespace standin::internal;

key_handle local_machine() { return reinterpret_cast<key_handle>(local_machine_value); }

u32 reg_open_key(key_handle parent, const char16_t* path, u32 access, key_handle* out) {
  *out = nullptr;
  handle_record* from = lookup(parent);
  if (from == nullptr) return error_invalid_handle;
  const std::u16string asked = join(from->path, text_of(path));
  const std::u16string full = in_view(asked, access);
  u32 result = fault_for(op::reg_open, full);
  std::shared_ptr<node> key;
  if (result == 0 && !views && (access & view_bits) != 0) result = error_invalid_parameter;
  if (result == 0) {
    key = from->key->deleted ? nullptr
          : full == asked    ? find(from->key, text_of(path))
                             : find_path(full);
    if (from->key->deleted) {
      result = error_key_deleted;
    } else if (!key) {
      result = error_file_not_found;
    } else if (key->deny_all || (key->deny_write && (access & ~(key_read | view_bits)) != 0)) {
      result = error_access_denied;
    }
  }
  open_log.push_back({full, access, result});
  if (result != 0) return result;
  const std::uintptr_t id = next_handle++;
  handles[id] = {key, full, access};
  *out = reinterpret_cast<key_handle>(id);
  return error_success;
}

u32 reg_query_value(key_handle key, const char16_t* name, u32* type, void* data, u32* byte_size) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  if ((h->access & key_query_value) == 0) return error_access_denied;
  if (const u32 e = fault_for(op::reg_query, join(h->path, text_of(name)))) return e;
  auto it = h->key->values.find(fold(text_of(name)));
  if (it == h->key->values.end()) return error_file_not_found;
  const value& v = it->second.second;
  *type = v.type;
  const u32 size = static_cast<u32>(v.data.size());
  if (data == nullptr) {
    *byte_size = size;
    return error_success;
  }
  if (*byte_size < size) {
    *byte_size = size;
    return error_more_data;
  }
  if (size != 0) std::memcpy(data, v.data.data(), size);
  *byte_size = size;
  return error_success;
}

u32 reg_set_value(key_handle key, const char16_t* name, u32 type, const void* data, u32 byte_size) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  if ((h->access & key_set_value) == 0) return error_access_denied;
  const std::u16string subject = join(h->path, text_of(name));
  if (const u32 e = fault_for(op::reg_set, subject)) return e;
  const auto* first = static_cast<const std::uint8_t*>(data);
  // Windows counts a string's terminator in when the caller left it out: the unit after the
  // data is zero while the data's last whole unit is not. It reads that unit, so this does too.
  const bool string_type = type == reg_sz || type == reg_expand_sz || type == reg_multi_sz;
  if (string_type && byte_size >= 2) {
    const std::size_t next = byte_size / 2 * 2;
    const bool last_nonzero = first[next - 2] != 0 || first[next - 1] != 0;
    if (last_nonzero && first[next] == 0 && first[next + 1] == 0) byte_size += 2;
  }
  value v{type, bytes(first, first + byte_size)};
  h->key->values[fold(text_of(name))] = {text_of(name), v};
  record("set " + narrow(subject) + "=" + describe(v));
  return error_success;
}

u32 reg_delete_value(key_handle key, const char16_t* name) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  if ((h->access & key_set_value) == 0) return error_access_denied;
  const std::u16string subject = join(h->path, text_of(name));
  if (const u32 e = fault_for(op::reg_delete_value, subject)) return e;
  if (h->key->values.erase(fold(text_of(name))) == 0) return error_file_not_found;
  record("delete_value " + narrow(subject));
  return error_success;
}

u32 reg_delete_key(key_handle key, const char16_t* subkey) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  const std::u16string subject = join(h->path, text_of(subkey));
  if (const u32 e = fault_for(op::reg_delete_key, subject)) return e;
  const std::vector<std::u16string> parts = split(text_of(subkey));
  if (parts.empty()) return error_invalid_parameter;
  std::shared_ptr<node> parent = h->key;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    auto it = parent->subkeys.find(fold(parts[i]));
    if (it == parent->subkeys.end()) return error_file_not_found;
    parent = it->second;
  }
  auto it = parent->subkeys.find(fold(parts.back()));
  if (it == parent->subkeys.end()) return error_file_not_found;
  if (!it->second->subkeys.empty()) return error_access_denied;  // as on NT: no subkeys allowed
  if ((h->access & delete_right) == 0 && (h->access & key_set_value) == 0) {
    return error_access_denied;
  }
  it->second->deleted = true;
  parent->subkeys.erase(it);
  record("delete_key " + narrow(subject));
  return error_success;
}

u32 reg_enum_key(key_handle key, u32 index, char16_t* name, u32* name_units) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  if ((h->access & key_enumerate_sub_keys) == 0) return error_access_denied;
  if (const u32 e = fault_for(op::reg_enum_key, h->path)) return e;
  if (index >= h->key->subkeys.size()) return error_no_more_items;
  auto it = h->key->subkeys.begin();
  std::advance(it, index);
  const std::u16string& child = it->second->name;
  if (child.size() + 1 > *name_units) return error_more_data;
  std::memcpy(name, child.data(), child.size() * sizeof(char16_t));
  name[child.size()] = 0;
  *name_units = static_cast<u32>(child.size());
  return error_success;
}

u32 reg_close_key(key_handle key) {
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value == local_machine_value) return error_success;
  return handles.erase(value) == 1 ? error_success : error_invalid_handle;
}

key_handle current_user() { return reinterpret_cast<key_handle>(current_user_value); }

bool registry_has_views() { return views; }

u32 reg_create_key(key_handle parent, const char16_t* path, u32 options, u32 access,
                   key_handle* out, bool* created) {
  *out = nullptr;
  *created = false;
  handle_record* from = lookup(parent);
  if (from == nullptr) return error_invalid_handle;
  if (from->key->deleted) return error_key_deleted;
  if (!views && (access & view_bits) != 0) return error_invalid_parameter;
  const std::u16string asked = join(from->path, text_of(path));
  const std::u16string full = in_view(asked, access);
  if (const u32 e = fault_for(op::reg_create, full)) return e;
  std::u16string rest;
  std::shared_ptr<node> at = full == asked ? from->key : tree_of(full, &rest);
  const std::u16string& relative = full == asked ? text_of(path) : rest;
  std::u16string walked = full == asked ? from->path : (is_user_path(full) ? u"HKCU" : u"");
  for (const std::u16string& part : split(relative)) {
    walked = join(walked, part);
    if (at->deny_all) return error_access_denied;
    auto& slot = at->subkeys[fold(part)];
    if (!slot) {
      if (at->deny_write) {
        at->subkeys.erase(fold(part));
        return error_access_denied;
      }
      if (at->is_volatile && options != reg_option_volatile) {
        at->subkeys.erase(fold(part));
        return error_child_must_be_volatile;
      }
      slot = std::make_shared<node>();
      slot->name = part;
      slot->is_volatile = options == reg_option_volatile;
      *created = true;
      record("create_key " + narrow(walked));
    } else {
      *created = false;
    }
    at = slot;
  }
  if (at->deny_all || (at->deny_write && (access & ~(key_read | view_bits)) != 0)) {
    return error_access_denied;
  }
  open_log.push_back({full, access, error_success});
  const std::uintptr_t id = next_handle++;
  handles[id] = {at, full, access};
  *out = reinterpret_cast<key_handle>(id);
  return error_success;
}

u32 reg_enum_value_name(key_handle key, u32 index, char16_t* name, u32* name_units) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  if ((h->access & key_query_value) == 0) return error_access_denied;
  if (const u32 e = fault_for(op::reg_enum_value, h->path)) return e;
  if (index >= h->key->values.size()) return error_no_more_items;
  auto it = h->key->values.begin();
  std::advance(it, index);
  const std::u16string& found = it->second.first;
  if (found.size() + 1 > *name_units) return error_more_data;
  std::memcpy(name, found.data(), found.size() * sizeof(char16_t));
  name[found.size()] = 0;
  *name_units = static_cast<u32>(found.size());
  return error_success;
}

u32 reg_flush_key(key_handle key) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  if (const u32 e = fault_for(op::reg_flush, h->path)) return e;
  record("flush_key " + narrow(h->path));
  return error_success;
}

u32 reg_delete_key_in_view(key_handle key, const char16_t* subkey, u32 view) {
  handle_record* h = lookup(key);
  if (h == nullptr) return error_invalid_handle;
  if (h->key->deleted) return error_key_deleted;
  if (!views && view != 0) return error_invalid_parameter;
  const std::u16string full = in_view(join(h->path, text_of(subkey)), view);
  if (const u32 e = fault_for(op::reg_delete_key, full)) return e;
  const std::size_t cut = full.rfind(u'\\');
  if (text_of(subkey).empty() || cut == std::u16string::npos) return error_invalid_parameter;
  const std::shared_ptr<node> parent = find_path(full.substr(0, cut));
  if (!parent) return error_file_not_found;
  auto it = parent->subkeys.find(fold(full.substr(cut + 1)));
  if (it == parent->subkeys.end()) return error_file_not_found;
  // Windows opens the subkey itself for DELETE: the parent handle's rights do not matter.
  if (it->second->deny_all || it->second->deny_write) return error_access_denied;
  if (!it->second->subkeys.empty()) return error_access_denied;
  it->second->deleted = true;
  parent->subkeys.erase(it);
  record("delete_key " + narrow(full));
  return error_success;
}

}  // namespace platform
