// The engine's registry work: keys in a view, values read and written byte for byte, trees
// deleted by a walk of its own (RegDeleteTreeW is Vista's).
#include <cstdio>

#include "rollback/internal.h"

namespace rollback::detail {

using namespace platform;

namespace {

key_handle root_handle(hive root) {
  return root == hive::current_user ? current_user() : local_machine();
}

constexpr u32 kMaxValueNameUnits = 16383;
constexpr u32 kMaxKeyNameUnits = 255;

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

void key::close() {
  if (handle_ != nullptr) reg_close_key(handle_);
  handle_ = nullptr;
}

text join(const text& path, const text& relative) {
  if (relative.empty()) return path;
  if (path.empty()) return relative;
  return path + u"\\" + relative;
}

u32 view_flag(view where) {
  if (!registry_has_views()) return 0;
  return where == view::registry32 ? key_wow64_32key : key_wow64_64key;
}

u32 open_key(hive root, view where, const text& path, u32 access, key* out) {
  return reg_open_key(root_handle(root), path.c_str(), access | view_flag(where), out->put());
}

u32 create_key(hive root, view where, const text& path, key* out, bool* created) {
  const u32 access = key_all_access | view_flag(where);
  u32 error = reg_create_key(root_handle(root), path.c_str(), reg_option_non_volatile, access,
                             out->put(), created);
  // Below HARDWARE, whose hive lives in memory, every key must be volatile too.
  if (error == error_child_must_be_volatile) {
    error = reg_create_key(root_handle(root), path.c_str(), reg_option_volatile, access, out->put(),
                           created);
  }
  return error;
}

u32 read_value(key_handle k, const text& name, value_record* out) {
  out->name = name;
  out->stored = false;
  out->type = 0;
  out->data.clear();
  u32 type = 0;
  u32 size = 0;
  u32 error = reg_query_value(k, name.c_str(), &type, nullptr, &size);
  if (error == error_file_not_found) return error_success;
  // The value may grow between the two calls: ask again with the size it has now.
  for (int attempt = 0; error == error_success && attempt < 8; ++attempt) {
    out->data.assign(size, 0);
    u32 got = size;
    error = reg_query_value(k, name.c_str(), &type, size == 0 ? nullptr : out->data.data(), &got);
    if (error == error_more_data) {
      size = got;
      error = error_success;
      continue;
    }
    if (error != error_success) break;
    out->data.resize(got);
    out->type = type;
    out->stored = true;
    return error_success;
  }
  if (error == error_file_not_found) return error_success;  // deleted between the calls
  return error == error_success ? error_more_data : error;
}

u32 write_value(key_handle k, const value_record& v) {
  bytes buffer = v.data;
  buffer.push_back(0xFF);
  buffer.push_back(0xFF);
  return reg_set_value(k, v.name.c_str(), v.type, buffer.data(), static_cast<u32>(v.data.size()));
}

u32 value_names(key_handle k, std::vector<text>* out) {
  out->clear();
  std::vector<char16_t> name(kMaxValueNameUnits + 1);
  for (u32 index = 0;; ++index) {
    u32 units = static_cast<u32>(name.size());
    const u32 error = reg_enum_value_name(k, index, name.data(), &units);
    if (error == error_no_more_items) return error_success;
    if (error != error_success) return error;
    out->emplace_back(name.data(), units < name.size() ? units : name.size() - 1);
  }
}

u32 subkey_names(key_handle k, std::vector<text>* out) {
  out->clear();
  char16_t name[kMaxKeyNameUnits + 1];
  for (u32 index = 0;; ++index) {
    u32 units = kMaxKeyNameUnits + 1;
    const u32 error = reg_enum_key(k, index, name, &units);
    if (error == error_no_more_items) return error_success;
    if (error != error_success) return error;
    out->emplace_back(name, units <= kMaxKeyNameUnits ? units : kMaxKeyNameUnits);
  }
}

u32 delete_tree(hive root, view where, const text& path, text* failed) {
  if (path.empty()) {  // the hive itself is never the engine's to delete
    *failed = path;
    return error_invalid_parameter;
  }
  key k;
  u32 error = open_key(root, where, path, key_enumerate_sub_keys | key_query_value, &k);
  if (error == error_file_not_found) return error_success;
  std::vector<text> children;
  if (error == error_success) error = subkey_names(k.get(), &children);
  k.close();
  if (error != error_success) {
    *failed = path;
    return error;
  }
  for (const text& child : children) {
    error = delete_tree(root, where, join(path, child), failed);
    if (error != error_success) return error;
  }
  const std::size_t cut = path.rfind(u'\\');
  key parent;
  const text parent_path = cut == text::npos ? text() : path.substr(0, cut);
  const text last = cut == text::npos ? path : path.substr(cut + 1);
  error = parent_path.empty() ? error_success
                              : open_key(root, where, parent_path,
                                         key_enumerate_sub_keys | key_query_value, &parent);
  if (error == error_success) {
    error = reg_delete_key_in_view(parent_path.empty() ? root_handle(root) : parent.get(),
                                   last.c_str(), view_flag(where));
  }
  if (error == error_file_not_found) return error_success;
  if (error != error_success) *failed = path;
  return error;
}

bool same_name(const text& a, const text& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

bool starts_with_ignore_case(const text& s, const text& prefix) {
  return s.size() >= prefix.size() && same_name(s.substr(0, prefix.size()), prefix);
}

bool holds_enum(hive root, const text& path) {
  if (root != hive::local_machine) return false;
  if (same_name(path, u"SYSTEM")) return true;
  if (!starts_with_ignore_case(path, u"SYSTEM\\")) return false;
  const std::size_t set_end = path.find(u'\\', 7);
  if (set_end == text::npos) return true;  // a control set, Enum included
  const text rest = path.substr(set_end + 1);
  return same_name(rest, u"Enum") || starts_with_ignore_case(rest, u"Enum\\");
}

std::string where(hive root, view in, const text& path) {
  std::string out = root == hive::current_user ? "HKCU\\" : "HKLM\\";
  out += printable(path);
  if (in == view::registry32 && registry_has_views()) out += " (32-bit view)";
  return out;
}

std::string value_where(hive root, view in, const text& path, const text& name) {
  return where(root, in, path) + " \"" + printable(name) + "\"";
}

std::string error_text(u32 error) {
  const char* name = error == error_access_denied       ? " (access denied)"
                     : error == error_file_not_found    ? " (not found)"
                     : error == error_path_not_found    ? " (path not found)"
                     : error == error_no_such_devinst   ? " (no such device)"
                     : error == error_invalid_data      ? " (invalid data)"
                     : error == error_not_enough_memory ? " (not enough memory)"
                                                        : "";
  char number[16];
  std::snprintf(number, sizeof number, error > 0xFFFF ? "0x%X" : "%u", error);
  return std::string("error ") + number + name;
}

std::string describe(const value_record& v) {
  if (!v.stored) return "absent";
  char head[64];
  if (v.type == reg_dword && v.data.size() == 4) {
    const u32 n = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<u32>(v.data[3]) << 24;
    std::snprintf(head, sizeof head, "REG_DWORD 0x%X", n);
    return head;
  }
  std::snprintf(head, sizeof head, "type %u, %u bytes", v.type,
                static_cast<unsigned>(v.data.size()));
  std::string out = head;
  static const char digits[] = "0123456789abcdef";
  if (!v.data.empty()) out += " ";
  for (std::size_t i = 0; i < v.data.size() && i < 32; ++i) {
    out += digits[v.data[i] >> 4];
    out += digits[v.data[i] & 15];
  }
  if (v.data.size() > 32) out += "...";
  return out;
}

}  // namespace rollback::detail
