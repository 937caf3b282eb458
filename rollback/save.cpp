// Saving: everything the plan names is read before anything changes, and a key or value that
// cannot be read stops the save with its name; then the guest is marked and the file written.
#include "rollback/internal.h"

namespace rollback {

using namespace detail;
using namespace platform;

void plan::values(hive root, view where, const text& path, const std::vector<text>& names) {
  value_targets.push_back({root, where, path, names});
}

void plan::tree(hive root, view where, const text& path) {
  tree_targets.push_back({root, where, path});
}

void plan::devices(const text& enumerator, const std::vector<text>& hardware_id_prefixes) {
  device_targets.push_back({enumerator, hardware_id_prefixes});
}

namespace {

constexpr u32 kReadAccess = key_query_value | key_enumerate_sub_keys;

std::string cannot_read(const std::string& what, u32 error) {
  return "cannot read " + what + ": " + error_text(error) + "; nothing was changed";
}

bool save_values(const plan::values_target& t, registry_record* out, std::string* refusal) {
  *out = registry_record();
  out->what = registry_record::kind::values;
  out->root = t.root;
  out->where = t.where;
  out->path = t.path;
  key k;
  u32 error = open_key(t.root, t.where, t.path, kReadAccess, &k);
  if (error == error_file_not_found) {
    // The first key on the way that is missing: the restore deletes it if it appears.
    for (std::size_t cut = 0; cut != text::npos;) {
      cut = t.path.find(u'\\', cut + 1);
      const text prefix = t.path.substr(0, cut);
      key probe;
      error = open_key(t.root, t.where, prefix, key_query_value, &probe);
      if (error == error_file_not_found) {
        out->first_missing = prefix;
        return true;
      }
      if (error != error_success) {
        *refusal = cannot_read(where(t.root, t.where, prefix), error);
        return false;
      }
    }
    *refusal = where(t.root, t.where, t.path) + ": appeared while it was read; nothing was changed";
    return false;
  }
  if (error != error_success) {
    *refusal = cannot_read(where(t.root, t.where, t.path), error);
    return false;
  }
  out->existed = true;
  out->keys.emplace_back();
  key_record& kr = out->keys.back();
  for (const text& name : t.names) {
    value_record v;
    error = read_value(k.get(), name, &v);
    if (error != error_success) {
      *refusal = cannot_read(value_where(t.root, t.where, t.path, name), error);
      return false;
    }
    kr.values.push_back(v);
  }
  error = subkey_names(k.get(), &kr.subkeys);
  if (error != error_success) {
    *refusal = cannot_read("the subkeys of " + where(t.root, t.where, t.path), error);
    return false;
  }
  return true;
}

bool save_tree(const plan::tree_target& t, registry_record* out, std::string* refusal) {
  *out = registry_record();
  out->what = registry_record::kind::tree;
  out->root = t.root;
  out->where = t.where;
  out->path = t.path;
  if (holds_enum(t.root, t.path) || t.path.empty()) {
    *refusal = where(t.root, t.where, t.path) +
               ": a tree with Enum in it is never saved whole (its keys are the system's); nothing "
               "was changed";
    return false;
  }
  std::vector<text> pending = {text()};
  for (std::size_t next = 0; next < pending.size(); ++next) {
    const text relative = pending[next];
    const text path = join(t.path, relative);
    key k;
    u32 error = open_key(t.root, t.where, path, kReadAccess, &k);
    if (error == error_file_not_found && !relative.empty()) continue;  // deleted meanwhile
    if (error == error_file_not_found) return true;                    // the tree is absent
    if (error != error_success) {
      *refusal = cannot_read(where(t.root, t.where, path), error);
      return false;
    }
    out->existed = true;
    key_record kr;
    kr.relative = relative;
    std::vector<text> names;
    error = value_names(k.get(), &names);
    for (std::size_t i = 0; error == error_success && i < names.size(); ++i) {
      value_record v;
      error = read_value(k.get(), names[i], &v);
      if (error != error_success) {
        *refusal = cannot_read(value_where(t.root, t.where, path, names[i]), error);
        return false;
      }
      if (v.stored) kr.values.push_back(v);
    }
    std::vector<text> children;
    if (error == error_success) error = subkey_names(k.get(), &children);
    if (error != error_success) {
      *refusal = cannot_read("the values and subkeys of " + where(t.root, t.where, path), error);
      return false;
    }
    for (const text& child : children) pending.push_back(join(relative, child));
    out->keys.push_back(kr);
  }
  return true;
}

// A device property read whole into data; false with the error, or true with data empty when the
// device does not have it (ERROR_INVALID_DATA, as the device setup interface answers).
bool device_property(device_list list, device_info* info, u32 property, bytes* data, bool* has,
                     u32* error) {
  data->assign(256, 0);
  for (int attempt = 0; attempt < 4; ++attempt) {
    u32 type = 0, required = 0;
    if (setup_get_device_property(list, info, property, &type, data->data(),
                                  static_cast<u32>(data->size()), &required)) {
      data->resize(required < data->size() ? required : data->size());
      *has = true;
      return true;
    }
    *error = last_error();
    if (*error == error_invalid_data) {
      *has = false;
      return true;
    }
    if (*error != error_insufficient_buffer || required <= data->size()) return false;
    data->assign(required, 0);
  }
  return false;
}

bool instance_id_of(device_list list, device_info* info, text* out, u32* error) {
  std::vector<char16_t> buffer(256);
  for (int attempt = 0; attempt < 4; ++attempt) {
    u32 required = 0;
    if (setup_get_device_instance_id(list, info, buffer.data(), static_cast<u32>(buffer.size()),
                                     &required)) {
      buffer.back() = 0;
      *out = buffer.data();
      return true;
    }
    *error = last_error();
    if (*error != error_insufficient_buffer || required <= buffer.size()) return false;
    buffer.assign(required, 0);
  }
  return false;
}

bool first_id_matches(const bytes& hardware_id, const std::vector<text>& prefixes) {
  if (prefixes.empty()) return true;
  text first;
  for (std::size_t i = 0; i + 1 < hardware_id.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(hardware_id[i] | hardware_id[i + 1] << 8);
    if (unit == 0) break;
    first.push_back(unit);
  }
  for (const text& prefix : prefixes) {
    if (starts_with_ignore_case(first, prefix)) return true;
  }
  return false;
}

bool save_devices(const plan::devices_target& t, devices_record* out, std::string* refusal) {
  out->enumerator = t.enumerator;
  out->prefixes = t.prefixes;
  out->devices.clear();
  // DIGCF_ALLCLASSES alone: devices that are not present now are included, as the program's.
  const device_list list = setup_get_class_devs(t.enumerator.c_str(), digcf_allclasses);
  if (list == nullptr) {
    *refusal = cannot_read("the devices of " + printable(t.enumerator), last_error());
    return false;
  }
  bool good = true;
  for (u32 index = 0; good; ++index) {
    device_info info{};
    info.size = sizeof info;
    u32 error = error_success;
    if (!setup_enum_device_info(list, index, &info)) {
      error = last_error();
      if (error == error_no_more_items) break;
      *refusal =
          cannot_read("device " + std::to_string(index) + " of " + printable(t.enumerator), error);
      good = false;
      break;
    }
    bytes hardware_id, flags;
    bool has_id = false, has_flags = false;
    device_record d;
    good = device_property(list, &info, spdrp_hardwareid, &hardware_id, &has_id, &error) &&
           instance_id_of(list, &info, &d.instance_id, &error);
    if (good && !first_id_matches(hardware_id, t.prefixes)) continue;
    if (good && d.instance_id.empty()) error = error_invalid_data;  // would name the root device
    good = good && !d.instance_id.empty();
    good = good && device_property(list, &info, spdrp_configflags, &flags, &has_flags, &error);
    if (!good) {
      *refusal = cannot_read(
          "device " + (d.instance_id.empty() ? std::to_string(index) : printable(d.instance_id)) +
              " of " + printable(t.enumerator),
          error);
      break;
    }
    d.stored = has_flags;
    for (std::size_t i = 0; i < flags.size() && i < 4; ++i) d.flags |= u32{flags[i]} << (8 * i);
    out->devices.push_back(d);
  }
  setup_destroy_device_list(list);
  return good;
}

}  // namespace

bool save(const plan& what, const text& owner, const text& file, record* out,
          std::string* refusal) {
  *out = record();
  out->owner = owner;
  std::vector<unfinished> earlier;
  if (what.refuse_while_unfinished && !unfinished_saves(owner, &earlier, refusal)) return false;
  if (!earlier.empty()) {
    *refusal = "an earlier save on this guest was never put back: its record is " +
               printable(earlier.front().file) +
               (earlier.front().file_exists ? "" : " (not there now)") + "; nothing was changed";
    return false;
  }
  if (file_exists(file.c_str()) == error_success) {
    *refusal = printable(file) + " exists already; nothing was changed";
    return false;
  }
  std::string failed;
  u32 error = read_identity(&out->guest, &failed);
  if (error != error_success) {
    *refusal = cannot_read(failed, error);
    return false;
  }
  for (const plan::values_target& t : what.value_targets) {
    out->registry.emplace_back();
    if (!save_values(t, &out->registry.back(), refusal)) return false;
  }
  for (const plan::tree_target& t : what.tree_targets) {
    out->registry.emplace_back();
    if (!save_tree(t, &out->registry.back(), refusal)) return false;
  }
  for (const plan::devices_target& t : what.device_targets) {
    out->devices.emplace_back();
    if (!save_devices(t, &out->devices.back(), refusal)) return false;
  }
  // The mark first, then the file: a record file on this guest always has its mark.
  out->mark = new_mark_id(out->guest, file);
  error = write_mark(out->mark, owner, file, &out->mark_keys_made);
  std::string step;
  if (error != error_success) {
    step = "cannot mark the guest (" + where(hive::local_machine, view::registry64, kMarkKey) + ")";
  } else {
    error = write_file_whole(file, serialize(*out), &step);
  }
  if (error != error_success) {
    std::vector<std::string> left;
    remove_mark(out->mark, out->mark_keys_made, &left);
    *refusal = "cannot write " + printable(file) + ": " + step + ": " + error_text(error) +
               (left.empty() ? "; nothing was changed" : "; " + left.front());
    return false;
  }
  return true;
}

}  // namespace rollback
