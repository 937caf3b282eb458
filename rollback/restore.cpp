// Putting back: every recorded item as recorded, nothing deleted outside what was recorded, then
// everything read again; the file and the mark go only when all of it is back and on disk.
#include <cstdio>

#include "rollback/internal.h"

namespace rollback {

using namespace detail;
using namespace platform;

namespace {

constexpr u32 kReadAccess = key_query_value | key_enumerate_sub_keys;

struct comparison {
  std::vector<std::string>* changes;
  std::vector<std::string>* notes;
};

bool same_value(const value_record& a, const value_record& b) {
  return a.stored == b.stored && (!a.stored || (a.type == b.type && a.data == b.data));
}

void compare_value(const std::string& name, const value_record& recorded, const value_record& now,
                   comparison* c) {
  if (same_value(recorded, now)) return;
  const std::string action =
      !recorded.stored ? "a restore deletes it" : "a restore writes " + describe(recorded);
  c->changes->push_back(name + ": " + describe(now) + " now; " + action);
}

void compare_absent_key(hive root, view in, const text& path, comparison* c) {
  if (path.empty()) return;  // nothing recorded absent
  key k;
  const u32 error = open_key(root, in, path, key_query_value, &k);
  if (error == error_success) {
    c->changes->push_back(where(root, in, path) +
                          ": there now; a restore deletes it with everything below it");
  } else if (error != error_file_not_found) {
    c->changes->push_back("cannot read " + where(root, in, path) + ": " + error_text(error));
  }
}

bool recorded_child(const registry_record& item, const text& relative) {
  for (const key_record& k : item.keys) {
    if (same_name(k.relative, relative)) return true;
  }
  return false;
}

// The key's values against the record's: recorded ones as recorded; in a tree, no others.
void compare_key(const registry_record& item, const key_record& recorded, comparison* c) {
  const text path = join(item.path, recorded.relative);
  key k;
  u32 error = open_key(item.root, item.where, path, kReadAccess, &k);
  if (error == error_file_not_found) {
    c->changes->push_back(where(item.root, item.where, path) +
                          ": missing now; a restore creates it");
    for (const value_record& v : recorded.values) {
      if (v.stored) compare_value(value_where(item.root, item.where, path, v.name), v, {}, c);
    }
    return;
  }
  std::vector<text> names, children;
  if (error == error_success) error = value_names(k.get(), &names);
  if (error == error_success) error = subkey_names(k.get(), &children);
  if (error != error_success) {
    c->changes->push_back("cannot read " + where(item.root, item.where, path) + ": " +
                          error_text(error));
    return;
  }
  for (const value_record& v : recorded.values) {
    value_record now;
    error = read_value(k.get(), v.name, &now);
    const std::string name = value_where(item.root, item.where, path, v.name);
    if (error != error_success) {
      c->changes->push_back("cannot read " + name + ": " + error_text(error));
    } else {
      compare_value(name, v, now, c);
    }
  }
  const bool tree = item.what == registry_record::kind::tree;
  if (tree) {
    for (const text& name : names) {
      bool known = false;
      for (const value_record& v : recorded.values) known = known || same_name(v.name, name);
      if (known) continue;
      value_record now;
      read_value(k.get(), name, &now);
      c->changes->push_back(value_where(item.root, item.where, path, name) + ": " + describe(now) +
                            " now; a restore deletes it");
    }
  }
  for (const text& child : children) {
    if (tree) {
      if (recorded_child(item, join(recorded.relative, child))) continue;
      c->changes->push_back(where(item.root, item.where, join(path, child)) +
                            ": there now; a restore deletes it with everything below it");
    } else {
      bool known = false;
      for (const text& s : recorded.subkeys) known = known || same_name(s, child);
      if (!known) {
        c->notes->push_back(where(item.root, item.where, join(path, child)) +
                            ": not in the record; left as it is");
      }
    }
  }
}

// A device's configuration flags now; false with the error when they cannot be read.
bool read_flags(device_list list, device_info* info, bool* stored, u32* flags, u32* error) {
  unsigned char data[4] = {};
  u32 type = 0, required = 0;
  *stored = false;
  *flags = 0;
  if (setup_get_device_property(list, info, spdrp_configflags, &type, data, sizeof data,
                                &required)) {
    *stored = true;
    *flags = data[0] | data[1] << 8 | data[2] << 16 | u32{data[3]} << 24;
    return true;
  }
  *error = last_error();
  return *error == error_invalid_data;
}

std::string flags_text(bool stored, u32 flags) {
  if (!stored) return "none";
  char out[16];
  std::snprintf(out, sizeof out, "0x%X", flags);
  return out;
}

void compare_device(const device_record& d, comparison* c) {
  device_info info{};
  info.size = sizeof info;
  const device_list list = setup_open_device(d.instance_id.c_str(), &info);
  const std::string name = "device " + printable(d.instance_id);
  if (list == nullptr) {
    c->changes->push_back(name + ": not found (" + error_text(last_error()) +
                          "); its configuration flags cannot be put back");
    return;
  }
  bool stored = false;
  u32 flags = 0, error = error_success;
  if (!read_flags(list, &info, &stored, &flags, &error)) {
    c->changes->push_back("cannot read the configuration flags of " + name + ": " +
                          error_text(error));
  } else if (stored != d.stored || (stored && flags != d.flags)) {
    c->changes->push_back(name + ": configuration flags " + flags_text(stored, flags) +
                          " now; a restore makes them " + flags_text(d.stored, d.flags));
  }
  setup_destroy_device_list(list);
}

void compare(const record& saved, comparison* c) {
  for (const registry_record& item : saved.registry) {
    if (!item.existed) {
      compare_absent_key(item.root, item.where,
                         item.what == registry_record::kind::tree ? item.path : item.first_missing,
                         c);
      continue;
    }
    for (const key_record& k : item.keys) compare_key(item, k, c);
  }
  for (const devices_record& group : saved.devices) {
    for (const device_record& d : group.devices) compare_device(d, c);
  }
}

void failed(std::vector<std::string>* failures, const std::string& what, u32 error) {
  failures->push_back(what + ": " + error_text(error));
}

void put_back_values(const registry_record& item, const key_record& recorded,
                     std::vector<std::string>* failures) {
  const text path = join(item.path, recorded.relative);
  key k;
  bool created = false;
  u32 error = create_key(item.root, item.where, path, &k, &created);
  if (error != error_success) {
    failed(failures, "cannot create " + where(item.root, item.where, path), error);
    return;
  }
  if (item.what == registry_record::kind::tree) {
    std::vector<text> names;
    error = value_names(k.get(), &names);
    if (error != error_success)
      failed(failures, "cannot read " + where(item.root, item.where, path), error);
    for (const text& name : names) {
      bool known = false;
      for (const value_record& v : recorded.values) known = known || same_name(v.name, name);
      if (known) continue;
      error = reg_delete_value(k.get(), name.c_str());
      if (error != error_success && error != error_file_not_found) {
        failed(failures, "cannot delete " + value_where(item.root, item.where, path, name), error);
      }
    }
  }
  for (const value_record& v : recorded.values) {
    error = v.stored ? write_value(k.get(), v) : reg_delete_value(k.get(), v.name.c_str());
    if (error != error_success && !(error == error_file_not_found && !v.stored)) {
      failed(failures,
             std::string(v.stored ? "cannot write " : "cannot delete ") +
                 value_where(item.root, item.where, path, v.name),
             error);
    }
  }
}

void delete_key_tree(hive root, view in, const text& path, std::vector<std::string>* failures) {
  text which;
  const u32 error = delete_tree(root, in, path, &which);
  if (error != error_success) failed(failures, "cannot delete " + where(root, in, which), error);
}

// Deletes the keys below a recorded key that the record does not hold (created since).
void prune(const registry_record& item, const key_record& recorded,
           std::vector<std::string>* failures) {
  const text path = join(item.path, recorded.relative);
  key k;
  u32 error = open_key(item.root, item.where, path, kReadAccess, &k);
  if (error == error_file_not_found) return;
  std::vector<text> children;
  if (error == error_success) error = subkey_names(k.get(), &children);
  k.close();
  if (error != error_success) {
    failed(failures, "cannot read " + where(item.root, item.where, path), error);
    return;
  }
  for (const text& child : children) {
    if (!recorded_child(item, join(recorded.relative, child))) {
      delete_key_tree(item.root, item.where, join(path, child), failures);
    }
  }
}

void put_back_device(const device_record& d, std::vector<std::string>* failures) {
  device_info info{};
  info.size = sizeof info;
  const device_list list = setup_open_device(d.instance_id.c_str(), &info);
  if (list == nullptr) return;  // named by the comparison afterwards
  unsigned char data[4];
  for (int i = 0; i < 4; ++i) data[i] = static_cast<unsigned char>(d.flags >> (8 * i));
  // No buffer and no size clear the property, as the device setup interface documents.
  const bool done = d.stored
                        ? setup_set_device_property(list, &info, spdrp_configflags, data, 4)
                        : setup_set_device_property(list, &info, spdrp_configflags, nullptr, 0);
  if (!done) {
    failed(failures,
           "cannot put back the configuration flags of device " + printable(d.instance_id),
           last_error());
  }
  setup_destroy_device_list(list);
}

bool within(const text& path, const text& top) {
  return starts_with_ignore_case(path, top) &&
         (path.size() == top.size() || path[top.size()] == u'\\');
}

}  // namespace

std::vector<std::string> changes(const record& saved) {
  std::vector<std::string> lines, notes;
  comparison c{&lines, &notes};
  compare(saved, &c);
  return lines;
}

outcome put_back(const record& saved) {
  outcome o;
  for (const registry_record& item : saved.registry) {
    if (!item.existed) {
      const text& absent =
          item.what == registry_record::kind::tree ? item.path : item.first_missing;
      if (!absent.empty()) delete_key_tree(item.root, item.where, absent, &o.failures);
      continue;
    }
    if (item.what == registry_record::kind::tree) {
      for (const key_record& k : item.keys) prune(item, k, &o.failures);
    }
    for (const key_record& k : item.keys) put_back_values(item, k, &o.failures);
  }
  for (const devices_record& group : saved.devices) {
    for (const device_record& d : group.devices) put_back_device(d, &o.failures);
  }
  comparison c{&o.failures, &o.notes};
  compare(saved, &c);
  return o;
}

outcome restore(const record& saved, const text& file) {
  outcome o = put_back(saved);
  if (!o.whole()) return o;
  // Each hive that was written goes to disk before the file that could put it back goes away.
  std::vector<registry_record> hives;
  std::vector<registry_record> written = saved.registry;
  if (!saved.devices.empty()) {
    written.emplace_back();  // the device setup interface keeps the flags in SYSTEM
    written.back().path = u"SYSTEM";
  }
  for (const registry_record& item : written) {
    registry_record top;
    top.root = item.root;
    top.where = item.where;
    top.path = item.path.substr(0, item.path.find(u'\\'));
    bool known = false;
    for (const registry_record& h : hives) {
      known = known || (h.root == top.root && h.where == top.where && same_name(h.path, top.path));
    }
    if (!known) hives.push_back(top);
  }
  for (const registry_record& h : hives) {
    key k;
    u32 error = open_key(h.root, h.where, h.path, key_query_value, &k);
    if (error == error_success) error = reg_flush_key(k.get());
    if (error != error_success && error != error_file_not_found) {
      failed(&o.failures, "cannot flush " + where(h.root, h.where, h.path) + " to disk", error);
    }
  }
  if (!o.whole()) return o;
  u32 error = file_delete(file.c_str());
  if (error != error_success) {
    failed(&o.failures, "cannot delete " + printable(file), error);
    return o;
  }
  error = file_exists(file.c_str());
  if (error != error_file_not_found && error != error_path_not_found) {
    o.failures.push_back(printable(file) + ": still there after its deletion");
    return o;
  }
  remove_mark(saved.mark, saved.mark_keys_made, &o.failures);
  return o;
}

bool load(const text& file, const text& owner, record* out, std::string* refusal) {
  std::string content;
  u32 error = read_file(file, &content);
  const std::string name = printable(file);
  if (error != error_success) {
    *refusal = "cannot read " + name + ": " + error_text(error) + "; nothing was changed";
    return false;
  }
  std::string reason;
  if (!parse(content, out, &reason)) {
    *refusal = name + " is refused: " + reason + "; nothing was changed";
    return false;
  }
  if (out->owner != owner) {
    *refusal = name + " is refused: it is a record of " + printable(out->owner) + ", not of " +
               printable(owner) + "; nothing was changed";
    return false;
  }
  guest_identity here;
  std::string failed_name;
  error = read_identity(&here, &failed_name);
  if (error != error_success) {
    *refusal = "cannot read " + failed_name + ": " + error_text(error) + "; nothing was changed";
    return false;
  }
  const auto shown = [](bool has, const text& value) {
    return has ? "\"" + printable(value) + "\"" : std::string("none");
  };
  if (here.has_machine_guid != out->guest.has_machine_guid ||
      here.machine_guid != out->guest.machine_guid) {
    *refusal = name + " is refused: it was written on another guest (machine GUID " +
               shown(out->guest.has_machine_guid, out->guest.machine_guid) + " there, " +
               shown(here.has_machine_guid, here.machine_guid) + " here); nothing was changed";
    return false;
  }
  if (here.has_computer_name != out->guest.has_computer_name ||
      !same_name(here.computer_name, out->guest.computer_name)) {
    *refusal = name + " is refused: it was written on another guest (computer name " +
               shown(out->guest.has_computer_name, out->guest.computer_name) + " there, " +
               shown(here.has_computer_name, here.computer_name) + " here); nothing was changed";
    return false;
  }
  bool present = false;
  if (!mark_present(out->mark, owner, &present, &reason)) {
    *refusal = reason + "; nothing was changed";
    return false;
  }
  if (!present) {
    *refusal = name +
               " is refused: this guest holds no mark of its save (it was put back already, or "
               "this guest is a copy made before the save); nothing was changed";
    return false;
  }
  return true;
}

bool covers(const record& saved, hive root, const text& path, const text& name) {
  for (const registry_record& item : saved.registry) {
    if (item.root != root) continue;
    if (item.what == registry_record::kind::tree) {
      if (within(path, item.path)) return true;
      continue;
    }
    if (!item.existed) {
      // Deleting the first missing key undoes anything created at or below it.
      if (within(path, item.first_missing)) return true;
      continue;
    }
    if (name.empty() || !same_name(path, item.path)) continue;
    for (const value_record& v : item.keys.front().values) {
      if (same_name(v.name, name)) return true;
    }
  }
  return false;
}

}  // namespace rollback
