// Stand-in registry: a tree of keys with typed raw values, handles with their access rights.
#include <cstring>
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
  bool deleted = false;
};

struct handle_record {
  std::shared_ptr<node> key;
  std::u16string path;
  u32 access;
};

std::shared_ptr<node> root;
std::map<std::uintptr_t, handle_record> handles;
std::uintptr_t next_handle = 0x1000;
std::vector<open_record> open_log;

constexpr std::uintptr_t local_machine_value = 0x80000002u;
constexpr u32 key_query_value = 0x1;
constexpr u32 key_set_value = 0x2;
constexpr u32 key_enumerate_sub_keys = 0x8;
constexpr u32 delete_right = 0x10000;

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

std::shared_ptr<node> make(const std::u16string& path) {
  std::shared_ptr<node> at = root;
  for (const std::u16string& part : split(path)) {
    auto& slot = at->subkeys[fold(part)];
    if (!slot) {
      slot = std::make_shared<node>();
      slot->name = part;
    }
    at = slot;
  }
  return at;
}

// The handle's record, or null for an unknown handle; HKEY_LOCAL_MACHINE has full access.
handle_record* lookup(platform::key_handle key) {
  static handle_record local_machine_record;
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value == local_machine_value) {
    local_machine_record = {root, u"", platform::key_all_access};
    return &local_machine_record;
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

bool key_exists(const std::u16string& path) { return find(root, path) != nullptr; }

std::optional<value> get_value(const std::u16string& path, const std::u16string& name) {
  const std::shared_ptr<node> key = find(root, path);
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
  const std::shared_ptr<node> key = find(root, path);
  if (key) {
    for (const auto& [folded, child] : key->subkeys) names.push_back(child->name);
  }
  return names;
}

void deny_write_access(const std::u16string& path) { make(path)->deny_write = true; }

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
  const std::u16string full = join(from->path, text_of(path));
  u32 result = fault_for(op::reg_open, full);
  std::shared_ptr<node> key;
  if (result == 0) {
    key = from->key->deleted ? nullptr : find(from->key, text_of(path));
    if (from->key->deleted) {
      result = error_key_deleted;
    } else if (!key) {
      result = error_file_not_found;
    } else if (key->deny_write && (access & ~key_read) != 0) {
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

}  // namespace platform
