// What identifies the guest a record was written on, and the mark a save leaves in it until the
// restore: machine GUID, computer name, and a value named by the save's id.
#include <cstdio>

#include "rollback/internal.h"
#include "rollback/sha256.h"

namespace rollback::detail {

using namespace platform;

namespace {

const char16_t kSoftwareKey[] = u"SOFTWARE";
const char16_t kProductKey[] = u"SOFTWARE\\vivediz";
const char16_t kMachineGuidKey[] = u"SOFTWARE\\Microsoft\\Cryptography";
const char16_t kComputerNameKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";

// A string value's text up to its first terminator; *has false when it is not there.
u32 read_text(const text& path, const text& name, bool* has, text* out, std::string* failed) {
  *has = false;
  out->clear();
  key k;
  u32 error = open_key(hive::local_machine, view::registry64, path, key_query_value, &k);
  if (error == error_file_not_found) return error_success;
  value_record v;
  if (error == error_success) error = read_value(k.get(), name, &v);
  if (error != error_success) {
    *failed = value_where(hive::local_machine, view::registry64, path, name);
    return error;
  }
  if (!v.stored) return error_success;
  *has = true;
  for (std::size_t i = 0; i + 1 < v.data.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(v.data[i] | v.data[i + 1] << 8);
    if (unit == 0) break;
    out->push_back(unit);
  }
  return error_success;
}

// The strings of a REG_MULTI_SZ.
std::vector<text> strings_of(const value_record& v) {
  std::vector<text> out;
  text current;
  for (std::size_t i = 0; i + 1 < v.data.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(v.data[i] | v.data[i + 1] << 8);
    if (unit != 0) {
      current.push_back(unit);
    } else if (current.empty()) {
      break;
    } else {
      out.push_back(current);
      current.clear();
    }
  }
  return out;
}

// A mark: owner, file, the keys it made.
bool read_mark(key_handle marks, const text& id, bool* present, text* owner, text* file,
               u32* keys_made, u32* error) {
  value_record v;
  *error = read_value(marks, id, &v);
  *present = false;
  if (*error != error_success || !v.stored) return *error == error_success;
  const std::vector<text> parts = strings_of(v);
  if (v.type != reg_multi_sz || parts.size() != 3) return true;  // not a mark of this engine
  *present = true;
  *owner = parts[0];
  *file = parts[1];
  *keys_made = parts[2] == u"2" ? 2 : parts[2] == u"1" ? 1 : 0;
  return true;
}

bool key_empty(key_handle k) {
  std::vector<text> names, subkeys;
  return value_names(k, &names) == error_success && names.empty() &&
         subkey_names(k, &subkeys) == error_success && subkeys.empty();
}

// Deletes the key when nothing is in it; a failure is a line.
void delete_if_empty(const text& path, std::vector<std::string>* failures) {
  key k;
  u32 error = open_key(hive::local_machine, view::registry64, path,
                       key_query_value | key_enumerate_sub_keys, &k);
  if (error == error_file_not_found) return;
  if (error == error_success && !key_empty(k.get())) return;
  k.close();
  text failed;
  if (error == error_success)
    error = delete_tree(hive::local_machine, view::registry64, path, &failed);
  if (error != error_success) {
    failures->push_back(where(hive::local_machine, view::registry64, path) +
                        ": the key the mark made cannot be removed: " + error_text(error));
  }
}

}  // namespace

const char16_t kMarkKey[] = u"SOFTWARE\\vivediz\\Rollback";

u32 read_identity(guest_identity* out, std::string* failed) {
  const u32 error = read_text(kMachineGuidKey, u"MachineGuid", &out->has_machine_guid,
                              &out->machine_guid, failed);
  if (error != error_success) return error;
  return read_text(kComputerNameKey, u"ComputerName", &out->has_computer_name, &out->computer_name,
                   failed);
}

bool mark_present(const text& id, const text& owner, bool* present, std::string* error_line) {
  *present = false;
  key marks;
  u32 error = open_key(hive::local_machine, view::registry64, kMarkKey, key_query_value, &marks);
  if (error == error_file_not_found) return true;
  text found_owner, file;
  u32 keys_made = 0;
  if (error == error_success)
    read_mark(marks.get(), id, present, &found_owner, &file, &keys_made, &error);
  if (error != error_success) {
    *error_line = "cannot read the guest's mark " +
                  where(hive::local_machine, view::registry64, kMarkKey) + ": " + error_text(error);
    return false;
  }
  *present = *present && found_owner == owner;
  return true;
}

u32 write_mark(const text& id, const text& owner, const text& file, u32* keys_made) {
  *keys_made = 0;
  key probe;
  u32 error = open_key(hive::local_machine, view::registry64, kProductKey, key_query_value, &probe);
  if (error == error_file_not_found) {
    *keys_made = 2;
  } else if (error == error_success) {
    error = open_key(hive::local_machine, view::registry64, kMarkKey, key_query_value, &probe);
    if (error == error_file_not_found) *keys_made = 1;
  }
  if (error != error_success && error != error_file_not_found) return error;
  probe.close();
  key marks;
  bool created = false;
  error = create_key(hive::local_machine, view::registry64, kMarkKey, &marks, &created);
  if (error != error_success) return error;
  const text made = *keys_made == 2 ? u"2" : *keys_made == 1 ? u"1" : u"0";
  const text joined = owner + text(1, 0) + file + text(1, 0) + made + text(2, 0);
  value_record v;
  v.name = id;
  v.stored = true;
  v.type = reg_multi_sz;
  for (char16_t unit : joined) {
    v.data.push_back(static_cast<unsigned char>(unit & 0xFF));
    v.data.push_back(static_cast<unsigned char>(unit >> 8));
  }
  error = write_value(marks.get(), v);
  if (error == error_success) error = reg_flush_key(marks.get());
  return error;
}

void remove_mark(const text& id, u32 keys_made, std::vector<std::string>* failures) {
  key marks;
  u32 error = open_key(hive::local_machine, view::registry64, kMarkKey,
                       key_query_value | key_set_value, &marks);
  if (error == error_success) {
    error = reg_delete_value(marks.get(), id.c_str());
    if (error == error_file_not_found) error = error_success;
    if (error == error_success) error = reg_flush_key(marks.get());
  }
  marks.close();
  if (error != error_success && error != error_file_not_found) {
    failures->push_back(value_where(hive::local_machine, view::registry64, kMarkKey, id) +
                        ": the guest's mark cannot be removed: " + error_text(error));
    return;
  }
  if (keys_made >= 1) delete_if_empty(kMarkKey, failures);
  if (keys_made >= 2) delete_if_empty(kProductKey, failures);
  key software;
  if (keys_made >= 1 && open_key(hive::local_machine, view::registry64, kSoftwareKey,
                                 key_query_value, &software) == error_success) {
    error = reg_flush_key(software.get());
    if (error != error_success) {
      failures->push_back(where(hive::local_machine, view::registry64, kSoftwareKey) +
                          ": cannot flush it to disk: " + error_text(error));
    }
  }
}

text new_mark_id(const guest_identity& guest, const text& file) {
  u32 seed[6];
  uniqueness_seed(seed);
  sha256 digest;
  digest.add(seed, sizeof seed);
  for (const text* part : {&guest.machine_guid, &guest.computer_name, &file}) {
    digest.add(part->data(), part->size() * sizeof(char16_t));
  }
  const std::string hex = digest.hex();
  text id;
  for (std::size_t i = 0; i < 32; ++i) {
    const char c = hex[i];
    id.push_back(static_cast<char16_t>(c >= 'a' ? c - 32 : c));
  }
  return id;
}

}  // namespace rollback::detail

namespace rollback {

using namespace detail;
using namespace platform;

std::vector<view> views_of(hive root, const text& path) {
  if (registry_has_views() && root == hive::local_machine &&
      starts_with_ignore_case(path, u"SOFTWARE\\")) {
    return {view::registry64, view::registry32};
  }
  return {view::registry64};
}

bool unfinished_saves(const text& owner, std::vector<unfinished>* out, std::string* error_line) {
  out->clear();
  key marks;
  u32 error = open_key(hive::local_machine, view::registry64, kMarkKey,
                       key_query_value | key_enumerate_sub_keys, &marks);
  if (error == error_file_not_found) return true;
  std::vector<text> ids;
  if (error == error_success) error = value_names(marks.get(), &ids);
  for (std::size_t i = 0; error == error_success && i < ids.size(); ++i) {
    bool present = false;
    text found_owner, file;
    u32 keys_made = 0;
    read_mark(marks.get(), ids[i], &present, &found_owner, &file, &keys_made, &error);
    if (error == error_success && present && found_owner == owner) {
      out->push_back({ids[i], file, file_exists(file.c_str()) == error_success});
    }
  }
  if (error != error_success) {
    *error_line = "cannot read the guest's marks " +
                  where(hive::local_machine, view::registry64, kMarkKey) + ": " + error_text(error);
    return false;
  }
  return true;
}

bool forget_save(const text& owner, const text& file, std::string* said) {
  std::vector<unfinished> saves;
  if (!unfinished_saves(owner, &saves, said)) return false;
  for (const unfinished& s : saves) {
    if (!same_name(s.file, file)) continue;
    if (s.file_exists) {
      *said = printable(file) + " is there: put back what it holds instead";
      return false;
    }
    key marks;
    text found_owner, found_file;
    bool present = false;
    u32 keys_made = 0, error = error_success;
    if (open_key(hive::local_machine, view::registry64, kMarkKey, key_query_value, &marks) ==
        error_success) {
      read_mark(marks.get(), s.mark, &present, &found_owner, &found_file, &keys_made, &error);
    }
    marks.close();
    std::vector<std::string> failures;
    remove_mark(s.mark, keys_made, &failures);
    *said = failures.empty() ? "the mark of the save whose record " + printable(file) +
                                   " is gone was removed; nothing else was changed"
                             : failures.front();
    return failures.empty();
  }
  *said = "this guest holds no mark of a save recorded in " + printable(file);
  return false;
}

bool elevated(std::string* how) {
  bool answer = false;
  if (query_token_elevation(&answer)) {
    *how = "TokenElevation";
    return answer;
  }
  *how = "membership of Administrators";
  return check_administrators_membership(&answer) && answer;
}

std::string printable(const text& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    u32 c = name[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low_next = i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF;
    if (high && low_next) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[++i] - 0xDC00);
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace rollback
